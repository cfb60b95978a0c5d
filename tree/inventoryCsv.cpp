#include "tree/inventoryCsv.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "hosts/hostCheck.h"
#include "hosts/hostTable.h"
#include "net/ipv4.h"
#include "tree/subnetTable.h"

#include <QHash>
#include <QSqlError>

#include <algorithm>
#include <numeric>

namespace inventoryCsv {

namespace {

const QChar separator = QLatin1Char(';');
enum Column { Record, Name, Subnet, Parent, Host, Note, ColumnCount };
const QString subnetRecord = QStringLiteral("subnet");
const QString hostRecord = QStringLiteral("host");

// How a refusal names the row it is about: a line of the file, or a stored row.
using Place = QString (*)(int line);

QString fileLine(int line)
{
    return QStringLiteral("Строка %1: ").arg(line);
}

// Where each column of header() stands in the file's header row; the first missing one otherwise.
Result<QVector<int>> columnsOf(const QStringList& cells)
{
    QVector<int> at;
    for (const QString& name : header()) {
        int found = -1;
        for (int i = 0; i < cells.size() && found < 0; ++i)
            if (cells.at(i).trimmed().compare(name, Qt::CaseInsensitive) == 0)
                found = i;
        if (found < 0)
            return Status::failure(QStringLiteral("В первой строке файла нет столбца «") + name
                + QStringLiteral("». Первая строка должна быть заголовком: ") + header().join(separator));
        at << found;
    }
    return at;
}

// The checks that need the whole file, once every record has been read.
class Checker {
public:
    Checker(Place subnetPlace = fileLine, Place hostPlace = fileLine)
        : subnetAt(subnetPlace)
        , hostAt(hostPlace)
    { }
    Status addRecord(int line, const QStringList& cells, const QVector<int>& at);
    Status addSubnet(const SubnetRow& row);
    Status addHost(const HostRow& row);
    Result<Plan> finish();

private:
    Status subnetError(int line, const QString& text) const { return Status::failure(subnetAt(line) + text); }
    Status hostError(int line, const QString& text) const { return Status::failure(hostAt(line) + text); }
    Status checkParents() const;
    Status checkSiblings() const;
    Status checkHosts() const;
    int depthOf(const QString& subnet) const;

    Place subnetAt, hostAt;

    QVector<SubnetRow> subnets;
    QHash<QString, int> subnetIndex; // subnet text -> index in subnets
    QHash<QString, net::Network> networkOf;
    QVector<HostRow> hosts;
    QHash<QString, int> hostIndex; // address -> index in hosts
    int repeated = 0;
    int organisationLine = 0;
};

Status Checker::addRecord(int line, const QStringList& cells, const QVector<int>& at)
{
    const auto cell = [&](Column c) { return cells.value(at.at(c)); };
    const QString kind = cell(Record).trimmed();
    if (kind == subnetRecord)
        return addSubnet({ line, cell(Name), cell(Subnet), cell(Parent) });
    if (kind == hostRecord)
        return addHost({ line, cell(Subnet), cell(Host), cell(Note) });
    return subnetError(line,
        QStringLiteral("в столбце record должно быть ") + subnetRecord + QStringLiteral(" или ") + hostRecord
            + QStringLiteral(", а не «") + kind + QStringLiteral("»."));
}

Status Checker::addSubnet(const SubnetRow& row)
{
    const auto network = net::parseNetwork(row.subnet);
    if (!network || !row.subnet.contains(QLatin1Char('/')) || net::toText(*network) != row.subnet)
        return subnetError(row.line,
            QStringLiteral("«") + row.subnet
                + QStringLiteral(
                    "» — не подсеть в записи адрес/маска с нулевыми битами хоста (например 10.1.0.0/16)."));
    if (subnetIndex.contains(row.subnet))
        return subnetError(row.line,
            QStringLiteral("подсеть ") + row.subnet
                + QStringLiteral(" уже записана в строке %1.").arg(subnets.at(subnetIndex.value(row.subnet)).line));
    if (row.parent.isEmpty() && organisationLine)
        return subnetError(row.line,
            QStringLiteral("вторая организация (первая — в строке %1); организация может быть только одна.")
                .arg(organisationLine));
    if (row.parent.isEmpty())
        organisationLine = row.line;
    subnetIndex.insert(row.subnet, subnets.size());
    networkOf.insert(row.subnet, *network);
    subnets << row;
    return {};
}

Status Checker::addHost(const HostRow& row)
{
    const auto known = hostIndex.constFind(row.host);
    if (known != hostIndex.constEnd()) {
        hosts[*known] = row; // the later record wins, in the place of the first, as a save does
        ++repeated;
        return {};
    }
    hostIndex.insert(row.host, hosts.size());
    hosts << row;
    return {};
}

// Every parent strictly wider than its child: no row can be its own ancestor, so every walk up
// the tree ends at the organisation.
Status Checker::checkParents() const
{
    if (!subnets.isEmpty() && !organisationLine)
        return subnetError(subnets.first().line,
            QStringLiteral("в файле нет организации: у каждой строки subnet указана родительская подсеть."));
    for (const SubnetRow& row : subnets) {
        if (row.parent.isEmpty())
            continue;
        if (row.parent == row.subnet)
            return subnetError(
                row.line, QStringLiteral("подсеть ") + row.subnet + QStringLiteral(" указана родителем самой себя."));
        if (!subnetIndex.contains(row.parent))
            return subnetError(row.line,
                QStringLiteral("родительской подсети «") + row.parent
                    + QStringLiteral("» нет среди строк subnet этого файла."));
        const net::Network parent = networkOf.value(row.parent), child = networkOf.value(row.subnet);
        if (!net::contains(parent, child) || parent.prefix >= child.prefix)
            return subnetError(row.line,
                QStringLiteral("подсеть ") + row.subnet + QStringLiteral(" не входит в подсеть родителя ") + row.parent
                    + QStringLiteral("."));
    }
    return {};
}

Status Checker::checkSiblings() const
{
    QVector<const SubnetRow*> sorted;
    for (const SubnetRow& row : subnets)
        sorted << &row;
    std::sort(sorted.begin(), sorted.end(), [this](const SubnetRow* a, const SubnetRow* b) {
        return std::make_pair(a->parent, networkOf.value(a->subnet).address)
            < std::make_pair(b->parent, networkOf.value(b->subnet).address);
    });
    for (int i = 1; i < sorted.size(); ++i) {
        const SubnetRow& a = *sorted.at(i - 1);
        const SubnetRow& b = *sorted.at(i);
        if (a.parent == b.parent && net::overlaps(networkOf.value(a.subnet), networkOf.value(b.subnet)))
            return subnetError(std::max(a.line, b.line),
                QStringLiteral("подсети ") + a.subnet + QStringLiteral(" и ") + b.subnet
                    + QStringLiteral(" одного родителя пересекаются."));
    }
    return {};
}

Status Checker::checkHosts() const
{
    for (const HostRow& h : hosts) {
        if (!subnetIndex.contains(h.subnet))
            return hostError(h.line,
                QStringLiteral("подсети «") + h.subnet + QStringLiteral("» хоста ") + h.host
                    + QStringLiteral(" нет среди строк subnet этого файла."));
        const hostCheck::Verdict verdict = hostCheck::check(h.host, h.subnet);
        if (verdict.kind == hostCheck::Verdict::Refuse)
            return hostError(h.line, verdict.message + QStringLiteral("."));
        if (verdict.kind == hostCheck::Verdict::Clear)
            return hostError(h.line, QStringLiteral("«") + h.host + QStringLiteral("» — не IPv4-адрес."));
    }
    return {};
}

int Checker::depthOf(const QString& subnet) const
{
    int depth = 0;
    // Parents are strictly wider (checked): at most 33 steps. The bound keeps any slip from
    // turning into a walk without end.
    for (QString s = subnet; !s.isEmpty() && depth <= subnets.size(); s = subnets.at(subnetIndex.value(s)).parent)
        ++depth;
    return depth;
}

Result<Plan> Checker::finish()
{
    Status checked = checkParents();
    if (checked.ok())
        checked = checkSiblings();
    if (checked.ok())
        checked = checkHosts();
    if (!checked.ok())
        return checked;
    Plan plan;
    QVector<int> depth;
    for (const SubnetRow& row : subnets)
        depth << depthOf(row.subnet);
    QVector<int> order(subnets.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return depth.at(a) < depth.at(b); });
    for (int i : order)
        plan.subnets << subnets.at(i);
    plan.hosts = hosts;
    plan.repeatedHosts = repeated;
    return plan;
}

} // namespace

QStringList header()
{
    return { QStringLiteral("record"), QStringLiteral("name"), QStringLiteral("subnet"),
        QStringLiteral("parent_subnet"), QStringLiteral("host"), QStringLiteral("note") };
}

Status exportTo(DB& db, const QString& path)
{
    // One read transaction: the tree and the hosts of the same moment.
    SqlResult subnets, hosts;
    const Status read = db.readTransaction([&] {
        const QString inOrder = db.engine().text(EngineSql::AddedOrder);
        subnets = db.run(QStringLiteral("SELECT id, name, subnet, parent_id, parent_subnet FROM subnets") + inOrder);
        if (subnets.ok())
            hosts = db.run(QStringLiteral("SELECT subnet, host, note FROM hosts") + inOrder);
        return Status(subnets.ok() ? hosts : subnets);
    });
    if (!read.ok())
        return read;
    QHash<qint64, QString> subnetOfId;
    for (const QVariantList& r : subnets.rows)
        subnetOfId.insert(r.at(0).toLongLong(), r.at(2).toString());
    csv::Writer file(path, header(), separator);
    for (const QVariantList& r : subnets.rows) {
        // The tree link is parent_id; the stored parent text stands in when that row is gone.
        const QString parent
            = r.at(3).isNull() ? QString() : subnetOfId.value(r.at(3).toLongLong(), r.at(4).toString());
        file.write({ subnetRecord, r.at(1).toString(), r.at(2).toString(), parent, {}, {} });
    }
    for (const QVariantList& r : hosts.rows)
        file.write({ hostRecord, {}, r.at(0).toString(), {}, r.at(1).toString(), r.at(2).toString() });
    return file.commit();
}

Result<Plan> read(QIODevice& device, csv::Limits limits)
{
    csv::Reader reader(device, QChar(), limits);
    QStringList cells;
    if (!reader.next(cells))
        return reader.status().ok() ? Status::failure(QStringLiteral("Файл пуст.")) : reader.status();
    const Result<QVector<int>> at = columnsOf(cells);
    if (!at.ok())
        return Status(at);
    Checker checker;
    bool any = false;
    for (; reader.next(cells); any = true)
        if (const Status added = checker.addRecord(reader.line(), cells, at.value); !added.ok())
            return added;
    if (!reader.status().ok())
        return reader.status();
    if (!any)
        return Status::failure(QStringLiteral("В файле нет ни одной записи, кроме заголовка."));
    return checker.finish();
}

namespace {

QString storedSubnet(int id)
{
    return QStringLiteral("Строка с id %1 таблицы subnets: ").arg(id);
}

QString storedHost(int id)
{
    return QStringLiteral("Строка с id %1 таблицы hosts: ").arg(id);
}

// The parent's subnet through parent_id, as the tree links rows; empty for the organisation.
Result<QString> parentOf(const QVector<QVariantList>& subnets, int at, const QHash<qint64, int>& indexOfId)
{
    const QVariant parentId = subnets.at(at).value(2);
    if (parentId.isNull())
        return QString();
    const int parent = indexOfId.value(parentId.toLongLong(), -1);
    const int id = subnets.at(at).value(0).toInt();
    if (parent < 0)
        return Status::failure(storedSubnet(id)
            + QStringLiteral("родительской строки с id %1 нет в таблице subnets.").arg(parentId.toString()));
    if (parent > at) // the tree is built in stored order, parents first
        return Status::failure(storedSubnet(id)
            + QStringLiteral("родительская строка с id %1 записана позже этой.").arg(parentId.toString()));
    return subnets.at(parent).value(1).toString();
}

} // namespace

Status checkStoredRows(const QVector<QVariantList>& subnets, const QVector<QVariantList>& hosts)
{
    QHash<qint64, int> indexOfId;
    for (int i = 0; i < subnets.size(); ++i)
        indexOfId.insert(subnets.at(i).value(0).toLongLong(), i);
    Checker checker(storedSubnet, storedHost);
    for (int i = 0; i < subnets.size(); ++i) {
        const QVariantList& r = subnets.at(i);
        const Result<QString> parent = parentOf(subnets, i, indexOfId);
        Status added = parent;
        if (added.ok())
            added
                = checker.addSubnet({ r.value(0).toInt(), r.value(4).toString(), r.value(1).toString(), parent.value });
        if (!added.ok())
            return added;
    }
    for (const QVariantList& r : hosts)
        if (const Status added
            = checker.addHost({ r.value(0).toInt(), r.value(1).toString(), r.value(2).toString(), {} });
            !added.ok())
            return added;
    return Status(checker.finish());
}

Status refusalUnlessEmpty(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM subnets) + (SELECT COUNT(*) FROM hosts)"));
    if (!r.ok())
        return Status(r);
    if (r.rows.value(0).value(0).toLongLong() == 0)
        return {};
    return Status::failure(
        QStringLiteral("Импорт возможен только в пустую базу данных, а в этой уже есть записи.\n"
                       "Сначала очистите базу данных (Структура → Удалить базу данных) или сохраните "
                       "её резервную копию."));
}

namespace {

using Pairs = QVector<QPair<QString, QString>>;

// The rows as pairs, grouped by `key`: the groups in the order their keys first come in, each
// in the order of its rows. A server takes a group in one statement.
template <typename Row, typename Key, typename Pair>
QVector<QPair<QString, Pairs>> grouped(const QVector<Row>& rows, Key key, Pair pair)
{
    QVector<QPair<QString, Pairs>> groups;
    QHash<QString, int> at;
    for (const Row& row : rows) {
        auto it = at.constFind(key(row));
        if (it == at.cend()) {
            it = at.insert(key(row), groups.size());
            groups.append({ key(row), {} });
        }
        groups[*it].second << pair(row);
    }
    return groups;
}

// The plan has every parent before its branches, so the groups of branches by parent, in the
// order their parents first come in, do too.
Status writeSubnets(DB& db, const QVector<SubnetRow>& subnets)
{
    Status written;
    for (const SubnetRow& row : subnets)
        if (row.parent.isEmpty())
            written = subnetTable::insertOrganisation(db, row.name, row.subnet);
    for (const auto& branches : grouped(
             subnets, [](const SubnetRow& r) { return r.parent; },
             [](const SubnetRow& r) { return qMakePair(r.subnet, r.name); }))
        if (!branches.first.isEmpty() && written.ok())
            written = subnetTable::insertBranches(db, branches.first, branches.second);
    return written;
}

Status writeHosts(DB& db, const QVector<HostRow>& hosts)
{
    Status written;
    for (const auto& rows : grouped(
             hosts, [](const HostRow& r) { return r.subnet; },
             [](const HostRow& r) { return qMakePair(r.host, r.note); }))
        if (written.ok())
            written = hostTable::insertRows(db, rows.first, rows.second);
    return written;
}

QVector<changeLog::Entry> importEntries(const Plan& plan)
{
    QVector<changeLog::Entry> entries;
    entries.reserve(plan.subnets.size() + plan.hosts.size());
    QHash<QString, QString> names;
    for (const SubnetRow& row : plan.subnets) {
        names.insert(row.subnet, row.name);
        entries << changeLog::Entry { changeLog::What::Imported, row.subnet, row.name, {}, {}, row.name };
    }
    for (const HostRow& row : plan.hosts)
        entries << changeLog::Entry { changeLog::What::Imported, row.subnet, names.value(row.subnet), row.host, {},
            row.note };
    return entries;
}

} // namespace

Status write(DB& db, const Plan& plan)
{
    // Whatever goes in must not land in a file damaged since it was opened.
    if (const Status sound = db.checkIntegrity(); !sound.ok())
        return sound;
    return db.writeTransaction([&] {
        Status written = refusalUnlessEmpty(db);
        if (written.ok())
            written = writeSubnets(db, plan.subnets);
        if (written.ok())
            written = writeHosts(db, plan.hosts);
        return written.ok() ? changeLog::record(db, importEntries(plan)) : written;
    });
}

} // namespace inventoryCsv
