#include "hosts/scan/scanHistory.h"

#include "db/DB.h"
#include "db/historyBlocks.h"
#include "db/historySchema.h"
#include "hosts/hostTable.h"
#include "net/ipv4.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>

#include <algorithm>

namespace scanHistory {

namespace {

// A number column as the dotted-quad text that table `hosts` keys its rows by, so that the
// join runs on the UNIQUE index of hosts.host.
QString dotted(const QString& column)
{
    return QStringLiteral("((%1 >> 24) || '.' || ((%1 >> 16) & 255) || '.' || ((%1 >> 8) & 255) || '.' || (%1 & 255))")
        .arg(column);
}

QString stored(const QDateTime& time)
{
    return (time.isValid() ? time : QDateTime::currentDateTimeUtc()).toUTC().toString(Qt::ISODateWithMs);
}

QDateTime readTime(const QVariant& text)
{
    QDateTime t = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    return t.isValid() ? t.toUTC() : t;
}

// A JSON array of the numbers, for json_each(): one bound value instead of one statement per row.
QString jsonArray(const QVector<quint32>& numbers)
{
    QByteArray out;
    out.reserve(numbers.size() * 11 + 2);
    out += '[';
    for (int i = 0; i < numbers.size(); ++i) {
        if (i)
            out += ',';
        out += QByteArray::number(numbers.at(i));
    }
    out += ']';
    return QString::fromLatin1(out);
}

// Missing history tables are an empty history, not a failure.
bool failed(const SqlResult& r)
{
    return !r.ok() && !historySchema::isMissingTable(r);
}

SqlResult recordAnswers(DB& db, qint64 scan, const ScanOutcome& o, const QString& ended)
{
    QVector<quint32> answered = o.answered;
    std::sort(answered.begin(), answered.end());
    answered.erase(std::unique(answered.begin(), answered.end()), answered.end());
    // Only the last scan of a subnet is compared: earlier answer lists would only grow the file.
    if (historySchema::layout(db) == HistoryLayout::Blocks) {
        SqlResult r = historyBlocks::dropAnswers(db, o.subnet, scan);
        r = r.ok() ? historyBlocks::addAnswers(db, scan, answered) : r;
        return r.ok() ? historyBlocks::addSightings(db, scan, ended, o.method, int(o.port)) : r;
    }
    SqlResult r = db.run(
        QStringLiteral("DELETE FROM scan_answers WHERE scan IN (SELECT id FROM scans WHERE subnet = ? AND id <> ?)"),
        { o.subnet, scan });
    r = r.ok() ? db.run(db.engine().text(EngineSql::AddScanAnswers), { scan, jsonArray(answered) }) : r;
    return r.ok() ? db.run(db.engine().text(EngineSql::AddSightings),
               { ended, o.method, int(o.port), ended, o.method, int(o.port), scan })
                  : r;
}

SqlResult recordRows(DB& db, const ScanOutcome& o)
{
    if (!historySchema::present(db))
        for (const QString& sql : historySchema::createStatements(db))
            if (const SqlResult r = db.run(sql); !r.ok())
                return r;
    const QString ended = stored(o.ended);
    SqlResult r = db.run(QStringLiteral("INSERT INTO scans (subnet, method, port, started, ended, probed, answered) "
                                        "VALUES (?, ?, ?, ?, ?, ?, ?)")
            + db.engine().text(EngineSql::ReturningId),
        { o.subnet, o.method, int(o.port), stored(o.started), ended, qint64(o.probed), o.answered.size() });
    if (r.ok() && r.rows.isEmpty())
        r = db.run(db.engine().text(EngineSql::LastInsertedId));
    return r.ok() ? recordAnswers(db, r.rows.value(0).value(0).toLongLong(), o, ended) : r;
}

} // namespace

SqlResult record(DB& db, const ScanOutcome& outcome)
{
    return db.writeTransaction([&] { return Status(recordRows(db, outcome)); });
}

Result<std::optional<ScanRecord>> lastScan(DB& db, const QString& subnet)
{
    const SqlResult r = db.run(QStringLiteral("SELECT id, subnet, method, port, started, ended, probed, answered "
                                              "FROM scans WHERE subnet = ? ORDER BY id DESC LIMIT 1"),
        { subnet });
    if (failed(r))
        return Status(r);
    if (r.rows.isEmpty())
        return std::optional<ScanRecord>();
    const QVariantList& row = r.rows.first();
    ScanRecord s;
    s.id = row.value(0).toLongLong();
    s.subnet = row.value(1).toString();
    s.method = row.value(2).toString();
    s.port = quint16(row.value(3).toUInt());
    s.started = readTime(row.value(4));
    s.ended = readTime(row.value(5));
    s.probed = row.value(6).toULongLong();
    s.answered = row.value(7).toULongLong();
    return std::optional<ScanRecord>(s);
}

namespace {

// Bulk reads come back as one aggregated value, cast to a blob so that its UTF-8 reaches the
// parser untouched: the SQL driver costs microseconds per row and per value, which for a /16
// would be most of the time spent.
Result<QByteArray> aggregate(DB& db, const QString& sql, const QVariantList& params)
{
    const SqlResult r = db.run(db.engine().text(EngineSql::AsBytes).arg(sql), params);
    if (failed(r))
        return Status(r);
    return r.ok() ? r.rows.value(0).value(0).toByteArray() : QByteArray();
}

QVector<quint32> numbers(const QByteArray& commaSeparated)
{
    QVector<quint32> out;
    for (const QByteArray& number : commaSeparated.split(','))
        if (!number.isEmpty())
            out << number.toUInt();
    std::sort(out.begin(), out.end());
    return out;
}

constexpr quint64 notAnAddress = quint64(1) << 32; // sorts after every address

struct Listed {
    quint64 number;
    QString host, note;
};

bool byNumber(const Listed& a, const Listed& b)
{
    return a.number < b.number;
}

// (host, note) pairs of a JSON array, ordered by address.
QVector<Listed> listedOf(const QByteArray& json)
{
    const QJsonArray rows = QJsonDocument::fromJson(json).array();
    QVector<Listed> out;
    out.reserve(rows.size());
    for (const QJsonValue& value : rows) {
        const QJsonArray row = value.toArray();
        const QString host = row.at(0).toString();
        const auto address = net::parseAddress(host);
        out.push_back({ address ? quint64(*address) : notAnAddress, host, row.at(1).toString() });
    }
    std::stable_sort(out.begin(), out.end(), byNumber);
    return out;
}

// Of `addresses`, those stored in some host list, with their notes, in address order.
Result<QVector<Listed>> listedAnywhere(DB& db, const QVector<quint32>& addresses)
{
    if (addresses.isEmpty())
        return QVector<Listed>();
    const Result<QByteArray> json = aggregate(db,
        QStringLiteral("SELECT %1 FROM %2 JOIN hosts h ON h.host = %3")
            .arg(db.engine().text(EngineSql::HostNotePairs), db.engine().text(EngineSql::NumberTable),
                dotted(QStringLiteral("j.value"))),
        { jsonArray(addresses) });
    if (!json.ok())
        return Status(json);
    return listedOf(json.value);
}

// A scan's answers, in ascending order.
Result<QVector<quint32>> answersOf(DB& db, qint64 scan)
{
    if (historySchema::layout(db) == HistoryLayout::Blocks) {
        const Result<QVector<quint32>> r = historyBlocks::answers(db, scan);
        return historySchema::isMissingTable(r) ? Result<QVector<quint32>>(QVector<quint32>()) : r;
    }
    const Result<QByteArray> listed = aggregate(db,
        QStringLiteral("SELECT %1 FROM scan_answers WHERE scan = ?").arg(db.engine().text(EngineSql::CommaList)),
        { scan });
    if (!listed.ok())
        return Status(listed);
    return numbers(listed.value);
}

Comparison::Row rowOf(const Listed& l)
{
    return { l.host, l.note, std::nullopt };
}

// Walks the answered addresses and the subnet's own list side by side, both in address order.
void merge(const QVector<quint32>& answered, const QVector<Listed>& listed, QVector<quint32>& unmatched,
    QVector<Listed>& answering, QVector<Listed>& silent)
{
    int i = 0, j = 0;
    constexpr quint64 end = quint64(1) << 33;
    while (i < answered.size() || j < listed.size()) {
        const quint64 a = i < answered.size() ? answered.at(i) : end;
        const quint64 l = j < listed.size() ? listed.at(j).number : end;
        if (a == l) {
            answering << listed.at(j++);
            ++i;
        } else if (a < l) {
            unmatched << answered.at(i++);
        } else {
            silent << listed.at(j++);
        }
    }
}

// Answered, not in the subnet's own list: in another subnet's list, or new.
Status sortOut(DB& db, const QVector<quint32>& unmatched, QVector<Listed>& answering, Comparison& out)
{
    const Result<QVector<Listed>> found = listedAnywhere(db, unmatched);
    if (!found.ok())
        return found;
    const QVector<Listed>& elsewhere = found.value;
    int j = 0;
    for (const quint32 address : unmatched) {
        while (j < elsewhere.size() && elsewhere.at(j).number < address)
            ++j;
        if (j == elsewhere.size() || elsewhere.at(j).number != address)
            out.fresh << Comparison::Row { net::toText(address), QString(), std::nullopt };
    }
    answering << elsewhere;
    std::stable_sort(answering.begin(), answering.end(), byNumber);
    for (const Listed& l : answering)
        out.answering << rowOf(l);
    return {};
}

// The silent rows, with the time each last answered.
Status addSilent(DB& db, const QVector<Listed>& silent, Comparison& out)
{
    quint32 low = 0xffffffffu, high = 0;
    for (const Listed& l : silent)
        if (l.number != notAnAddress) {
            low = qMin(low, quint32(l.number));
            high = qMax(high, quint32(l.number));
        }
    const Result<QHash<quint32, Sighting>> read
        = low <= high ? sightings(db, low, high) : Result<QHash<quint32, Sighting>>(QHash<quint32, Sighting>());
    if (!read.ok())
        return read;
    const QHash<quint32, Sighting>& seen = read.value;
    out.silent.reserve(silent.size());
    for (const Listed& l : silent) {
        Comparison::Row row = rowOf(l);
        const auto it = l.number == notAnAddress ? seen.cend() : seen.constFind(quint32(l.number));
        if (it != seen.cend())
            row.lastSeen = it->last;
        out.silent << row;
    }
    return {};
}

} // namespace

Result<Comparison> compare(DB& db, const ScanRecord& scan)
{
    const Result<QVector<quint32>> answered = answersOf(db, scan.id);
    if (!answered.ok())
        return Status(answered);
    const Result<QByteArray> listed = aggregate(db,
        QStringLiteral("SELECT %1 FROM hosts h WHERE subnet = ?").arg(db.engine().text(EngineSql::HostNotePairs)),
        { scan.subnet });
    if (!listed.ok())
        return Status(listed);
    QVector<quint32> unmatched;
    QVector<Listed> answering, silent;
    merge(answered.value, listedOf(listed.value), unmatched, answering, silent);
    Comparison out;
    Status done = sortOut(db, unmatched, answering, out);
    if (done.ok())
        done = addSilent(db, silent, out);
    if (!done.ok())
        return done;
    return out;
}

Sighting sightingOf(const QVariantList& row)
{
    return { readTime(row.value(0)), row.value(1).toString(), quint16(row.value(2).toUInt()) };
}

Result<QHash<quint32, Sighting>> sightings(DB& db, quint32 first, quint32 last)
{
    QHash<quint32, Sighting> out;
    if (historySchema::layout(db) == HistoryLayout::Blocks) {
        const Status read = historyBlocks::sightings(
            db, first, last, [&](const QVariantList& row, quint32 address) { out.insert(address, sightingOf(row)); });
        if (failed(read))
            return read;
        return out;
    }
    // One row per scan that last saw any of them, with its addresses as one text: a /16 comes
    // back in a handful of rows, and each time is parsed once.
    const SqlResult r = db.run(QStringLiteral("SELECT last_seen, last_method, last_port, %1 FROM sightings WHERE "
                                              "address BETWEEN ? AND ? GROUP BY 1, 2, 3")
                                   .arg(db.engine().text(EngineSql::CommaList)),
        { qint64(first), qint64(last) });
    if (failed(r))
        return Status(r);
    for (const QVariantList& row : r.rows) {
        const Sighting seen = sightingOf(row);
        const QString addresses = row.value(3).toString();
        for (const QStringRef& address : addresses.splitRef(QLatin1Char(','), Qt::SkipEmptyParts))
            out.insert(address.toUInt(), seen);
    }
    return out;
}

Result<QVector<quint32>> unlisted(DB& db, const QVector<quint32>& addresses)
{
    const SqlResult r = db.run(QStringLiteral("SELECT j.value FROM %1 WHERE NOT EXISTS "
                                              "(SELECT 1 FROM hosts WHERE host = %2)")
                                   .arg(db.engine().text(EngineSql::NumberTable), dotted(QStringLiteral("j.value"))),
        { jsonArray(addresses) });
    if (failed(r))
        return Status(r);
    QVector<quint32> out;
    out.reserve(r.rows.size());
    for (const QVariantList& row : r.rows)
        out << row.value(0).toUInt();
    return out;
}

QString shownTime(const QDateTime& utc)
{
    return utc.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}

QString methodText(const QString& method, quint16 port)
{
    return port ? method + QLatin1Char(' ') + QString::number(port) : method;
}

QString lastAnswerText(const Sighting* seen)
{
    if (!seen)
        return QStringLiteral("Не отвечал ни разу");
    return QStringLiteral("Последний ответ: ") + shownTime(seen->last) + QStringLiteral(", ")
        + methodText(seen->method, seen->port);
}

QString scanTitle(const ScanRecord& scan)
{
    return QStringLiteral("Сканирование подсети %1 по %2, завершено %3: опрошено адресов %4, ответили %5")
        .arg(scan.subnet, methodText(scan.method, scan.port), shownTime(scan.ended))
        .arg(scan.probed)
        .arg(scan.answered);
}

QString lastScanText(DB& db, const QString& subnet)
{
    const Result<std::optional<ScanRecord>> last = lastScan(db, subnet);
    if (!last.ok())
        return QStringLiteral("История сканирований недоступна: ") + last.errorText;
    const std::optional<ScanRecord>& scan = last.value;
    if (!scan)
        return QStringLiteral("Подсеть ") + subnet + QStringLiteral(" не сканировалась");
    return QStringLiteral("Подсеть %1 сканировалась %2 (%3): ответили %4 из %5")
        .arg(subnet, shownTime(scan->ended), methodText(scan->method, scan->port))
        .arg(scan->answered)
        .arg(scan->probed);
}

} // namespace scanHistory
