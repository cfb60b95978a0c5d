#include "tree/inventorySearch.h"

#include "db/DB.h"
#include "db/historySchema.h"
#include "hosts/scan/scanHistory.h"
#include "net/addressSpace.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace inventorySearch {

namespace {

// SQLite refuses GLOB patterns longer than 50,000 bytes; longer searches take another road.
constexpr int longestPattern = 40000;

void count(Found& found, const Hit& hit, int limit)
{
    if (found.hits.size() < limit)
        found.hits << hit;
    ++found.total;
}

QString codePoint(uint c)
{
    return QString::fromUcs4(&c, 1);
}

// For each folded code point, the other code points that fold to it.
const QHash<uint, QVector<uint>>& foldClasses()
{
    static const QHash<uint, QVector<uint>> classes = [] {
        QHash<uint, QVector<uint>> byFold;
        for (uint c = 0; c <= QChar::LastValidCodePoint; ++c)
            if (const uint f = QChar::toCaseFolded(c); f != c)
                byFold[f] << c;
        return byFold;
    }();
    return classes;
}

QVariantList rangeParams(const net::Network& network)
{
    const auto range = net::textRange(network);
    return { range.first, range.second };
}

// What is known of an address, with its last answer to a scan when it ever answered one.
QString withLastAnswer(const QString& known, const std::optional<scanHistory::Sighting>& seen)
{
    return seen ? known + QStringLiteral(" · ") + scanHistory::lastAnswerText(&*seen) : known;
}

// The texts of `address` as a network of every prefix from 0 to `deepest`.
QVariantList enclosingTexts(net::Address address, int deepest)
{
    QVariantList texts;
    for (int p = 0; p <= deepest; ++p)
        texts << net::toText(net::networkOf(address, p));
    return texts;
}

QString placeholders(int n)
{
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

} // namespace

QString folded(const QString& text)
{
    QVector<uint> points = text.toUcs4();
    for (uint& c : points)
        c = QChar::toCaseFolded(c);
    return QString::fromUcs4(points.constData(), points.size());
}

namespace {

// One character of a pattern: the class of every code point folding as `c` does, or `c` itself.
QString patternOf(uint c)
{
    const uint f = QChar::toCaseFolded(c);
    const QVector<uint> others = foldClasses().value(f);
    if (others.isEmpty())
        return c == '*' || c == '?' || c == '[' ? QLatin1Char('[') + codePoint(c) + QLatin1Char(']') : codePoint(c);
    QString set = QLatin1Char('[') + codePoint(f);
    for (const uint o : others)
        set += codePoint(o);
    return set + QLatin1Char(']');
}

} // namespace

QStringList containsPatterns(const QString& text, bool splitFirst)
{
    const QVector<uint> points = text.toUcs4();
    if (points.isEmpty())
        return { QStringLiteral("*") };
    QString rest;
    for (int i = 1; i < points.size(); ++i)
        rest += patternOf(points.at(i));
    rest += QLatin1Char('*');
    // SQLite scans quickly for a plain character after "*", but tries a set at every position:
    // one pattern per spelling of the first character keeps every pattern on the quick road.
    const QString first = patternOf(points.first());
    if (!splitFirst || !first.startsWith(QLatin1Char('[')) || first.size() == 3)
        return { QLatin1Char('*') + first + rest };
    QStringList patterns;
    for (const uint c : first.mid(1, first.size() - 2).toUcs4())
        patterns << QLatin1Char('*') + codePoint(c) + rest;
    return patterns;
}

Searcher::Searcher(DB& db_)
    : db(db_)
{ }

SqlResult Searcher::refresh()
{
    // A server whose counter is missing still answers the search, only without the kept rows.
    const SqlResult v = db.run(db.engine().text(EngineSql::DataVersion));
    const qint64 now = v.ok() ? v.rows.value(0).value(0).toLongLong() : -1;
    if (now == version && now != -1)
        return {};
    rows.clear();
    rowOfSubnet.clear();
    version = -1;
    // Read straight from the query: ten thousand rows through lists of variants cost more than
    // the whole search.
    QSqlQuery q = db.newQuery();
    q.setForwardOnly(true);
    if (q.exec(QStringLiteral("SELECT name, subnet, parent_subnet FROM subnets"))) {
        while (q.next()) {
            Row row { q.value(0).toString(), q.value(1).toString(), q.value(2).toString(), {} };
            row.foldedName = folded(row.name);
            rowOfSubnet.insert(row.subnet, rows.size());
            rows << row;
        }
    }
    SqlResult r;
    if (q.lastError().type() != QSqlError::NoError) {
        r.code = sqlite::Error;
        r.errorText = q.lastError().text();
        rows.clear();
        rowOfSubnet.clear();
    } else {
        version = now;
    }
    q.finish();
    return r;
}

QString Searcher::rowLabel(const QString& subnet) const
{
    const auto it = rowOfSubnet.constFind(subnet);
    if (it == rowOfSubnet.cend())
        return subnet;
    return subnet + QStringLiteral(" «") + rows.at(*it).name + QStringLiteral("»");
}

Hit Searcher::hostHit(const QVariantList& values) const
{
    const QString host = values.value(0).toString();
    const QString subnet = values.value(2).toString();
    return Hit { Hit::Host, host, values.value(1).toString(), rowLabel(subnet), subnet, host };
}

Found Searcher::find(const QString& text, int limit)
{
    const QString query = text.trimmed();
    if (query.isEmpty())
        return {};
    if (const auto address = net::parseAddress(query))
        return findAddress(*address);
    if (query.contains(QLatin1Char('/')))
        if (const auto typed = net::parseAddressWithPrefix(query))
            return findNetwork(net::networkOf(typed->address, typed->prefix), limit);
    return findText(query, limit);
}

// Each statement costs a server a round trip: one finds the address's host row (kind 0), its
// subnet's row (kind 1) and its sighting (kind 2); only an address that no list holds takes a
// second, for the rows whose networks hold it (kind 1, by the texts of every prefix around it).
SqlResult Searcher::addressRows(net::Address address)
{
    const QString text = net::toText(address);
    const QString stored = QStringLiteral(
        "SELECT 0, host, note, subnet FROM hosts WHERE host = ? UNION ALL SELECT 1, name, subnet, NULL FROM subnets "
        "WHERE subnet = (SELECT subnet FROM hosts WHERE host = ?)");
    SqlResult r = db.runKept(
        stored + QStringLiteral(" UNION ALL ") + historySchema::sightingOfAddress(db), { text, text, qint64(address) });
    // A history never created is no history: the address is found without its last answer.
    if (historySchema::isMissingTable(r))
        r = db.run(stored, { text, text });
    if (!r.ok() || std::any_of(r.rows.cbegin(), r.rows.cend(), [](const QVariantList& row) {
            return row.value(0).toInt() == 0;
        }))
        return r;
    const SqlResult around = db.runKept(
        QStringLiteral("SELECT 1, name, subnet, NULL FROM subnets WHERE subnet IN (%1)").arg(placeholders(33)),
        enclosingTexts(address, 32));
    r.rows += around.rows;
    return around.ok() ? r : around;
}

Found Searcher::findAddress(net::Address address)
{
    Found found;
    const QString text = net::toText(address);
    found.status = addressRows(address);
    if (!found.status.ok())
        return found;
    found.total = 1;
    QVariantList stored;
    std::optional<scanHistory::Sighting> seen;
    for (const QVariantList& row : qAsConst(found.status.rows))
        if (row.value(0).toInt() == 0)
            stored = row.mid(1);
        else if (row.value(0).toInt() == 2)
            seen = scanHistory::sightingOf(row.mid(1));
    // The longest prefix is the deepest.
    const QString subnet = stored.isEmpty() ? QString() : stored.value(2).toString();
    QString label = subnet;
    QString deepestSubnet;
    int deepest = -1;
    for (const QVariantList& row : qAsConst(found.status.rows)) {
        const auto n = row.value(0).toInt() == 1 ? net::parseNetwork(row.value(2).toString()) : std::nullopt;
        if (n && n->prefix > deepest) {
            deepest = n->prefix;
            deepestSubnet = row.value(2).toString();
            label = deepestSubnet + QStringLiteral(" «") + row.value(1).toString() + QStringLiteral("»");
        }
    }
    found.status.rows.clear();
    if (!stored.isEmpty())
        found.hits << Hit { Hit::Host, text, withLastAnswer(stored.value(1).toString(), seen), label, subnet, text };
    else if (deepest >= 0)
        found.hits << Hit { Hit::Unrecorded, text,
            withLastAnswer(QStringLiteral("не записан; входит в ") + label, seen), {}, deepestSubnet, {} };
    else
        found.hits << Hit { Hit::Outside, text, QStringLiteral("вне всех подсетей"), {}, {}, {} };
    return found;
}

Found Searcher::findNetwork(const net::Network& query, int limit)
{
    Found found;
    const QVariantList around = enclosingTexts(query.address, query.prefix);
    const SqlResult outer = db.run(QStringLiteral("SELECT name, subnet FROM subnets WHERE subnet IN (")
            + placeholders(around.size()) + QLatin1Char(')'),
        around);
    const SqlResult inner = db.run(
        QStringLiteral("SELECT name, subnet FROM subnets WHERE subnet >= ? AND subnet < ?"), rangeParams(query));
    found.status = outer.ok() ? inner : outer;
    if (!found.status.ok())
        return found;
    QVector<QPair<net::Network, QString>> matching; // network, name
    for (const SqlResult* r : { &outer, &inner })
        for (const QVariantList& row : r->rows)
            if (const auto n = net::parseNetwork(row.value(1).toString()))
                if (r == &outer || (net::contains(query, *n) && !(*n == query)))
                    matching << qMakePair(*n, row.value(0).toString());
    // Outermost first and then in address order: the order in which the tree nests them.
    std::sort(matching.begin(), matching.end(), [](const auto& a, const auto& b) {
        return a.first.address != b.first.address ? a.first.address < b.first.address : a.first.prefix < b.first.prefix;
    });
    const QString queryText = net::toText(query);
    for (const auto& m : qAsConst(matching)) {
        const QString where = m.first == query ? QStringLiteral("совпадает с ") + queryText
            : net::contains(query, m.first)    ? QStringLiteral("входит в ") + queryText
                                               : QStringLiteral("содержит ") + queryText;
        const QString subnet = net::toText(m.first);
        count(found, Hit { Hit::Row, subnet, m.second, where, subnet, {} }, limit);
    }
    found.status.rows.clear();
    return found;
}

Found Searcher::findText(const QString& text, int limit)
{
    Found found;
    found.status = refresh();
    if (!found.status.ok())
        return found;
    const QString needle = folded(text);
    for (const Row& row : qAsConst(rows))
        if (row.foldedName.contains(needle)) {
            const QString where = row.parentSubnet.isEmpty() ? QString() : rowLabel(row.parentSubnet);
            count(found, Hit { Hit::Row, row.subnet, row.name, where, row.subnet, {} }, limit);
        }
    found.status = findHosts(text, limit, found);
    return found;
}

SqlResult Searcher::findHosts(const QString& text, int limit, Found& found)
{
    const QStringList patterns = containsPatterns(text, !db.engine().matchesSetsQuickly());
    if (patterns.first().toUtf8().size() > longestPattern)
        return findLongText(text, limit, found);
    // Statement text depends only on how many patterns there are; they are bound as values.
    QStringList tests;
    QVariantList values;
    for (const QString& column : { QStringLiteral("note"), QStringLiteral("host") })
        for (const QString& p : patterns) {
            tests << db.engine().text(EngineSql::TextMatch).arg(column);
            values << db.engine().pattern(p);
        }
    const QString where = QStringLiteral(" FROM hosts WHERE ") + tests.join(QStringLiteral(" OR "));
    // One pass when the matches fit; only a search that finds more than is shown counts them all.
    const int room = std::max(0, limit - found.hits.size());
    SqlResult shown = db.run(QStringLiteral("SELECT host, note, subnet") + where + QStringLiteral(" LIMIT ?"),
        values + QVariantList { room + 1 });
    if (!shown.ok())
        return shown;
    for (const QVariantList& row : shown.rows.mid(0, room))
        found.hits << hostHit(row);
    if (shown.rows.size() <= room) {
        found.total += shown.rows.size();
        return {};
    }
    const SqlResult total = db.run(QStringLiteral("SELECT COUNT(*)") + where, values);
    found.total += total.rows.value(0).value(0).toInt();
    return total.ok() ? SqlResult {} : total;
}

SqlResult Searcher::findLongText(const QString& text, int limit, Found& found)
{
    // Only a text at least as long can contain it: few rows, compared here.
    const int length = text.toUcs4().size();
    SqlResult r
        = db.run(QStringLiteral("SELECT host, note, subnet FROM hosts WHERE length(note) >= ? OR length(host) >= ?"),
            { length, length });
    const QString needle = folded(text);
    for (const QVariantList& values : qAsConst(r.rows))
        if (folded(values.value(1).toString()).contains(needle) || folded(values.value(0).toString()).contains(needle))
            count(found, hostHit(values), limit);
    r.rows.clear();
    return r;
}

} // namespace inventorySearch
