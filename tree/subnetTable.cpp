#include "tree/subnetTable.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "db/historySchema.h"
#include "db/jsonText.h"
#include "db/statementBatch.h"

#include <functional>

namespace subnetTable {

namespace {

// No other connection can write between the check and the insert.
SqlResult inWriteTransaction(DB& db, const std::function<SqlResult()>& body)
{
    return db.writeTransaction([&] { return Status(body()); });
}

// The row and each host of its list, as the log keeps them.
Result<QVector<changeLog::Entry>> deletionEntries(DB& db, const QString& subnet)
{
    const Result<QString> name = changeLog::rowName(db, subnet);
    const SqlResult hosts = db.run(QStringLiteral("SELECT host, note FROM hosts WHERE subnet = ?"), { subnet });
    if (!name.ok() || !hosts.ok())
        return !name.ok() ? Status(name) : Status(hosts);
    QVector<changeLog::Entry> entries { { changeLog::What::Deleted, subnet, name.value, {}, name.value, {} } };
    for (const QVariantList& h : hosts.rows)
        entries << changeLog::Entry { changeLog::What::HostDeleted, subnet, name.value, h.value(0).toString(),
            h.value(1).toString(), {} };
    return entries;
}

SqlResult logged(DB& db, const SqlResult& done, const changeLog::Entry& entry)
{
    return done.ok() ? SqlResult(changeLog::record(db, { entry })) : done;
}

} // namespace

QString insertBranchStatement()
{
    return QStringLiteral("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?)");
}

QString insertOrganisationStatement()
{
    // Kept as is: an organisation's insert names the columns in another order than a branch's.
    return QStringLiteral("INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES (?, ?, ?, ?)");
}

SqlResult allRows(DB& db)
{
    return db.run(QStringLiteral("SELECT id, name, subnet, parent_id FROM subnets"));
}

SqlResult idOfSubnet(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("SELECT id FROM subnets WHERE subnet = ?"), { subnet });
}

SqlResult insertBranch(
    DB& db, const QString& name, const QString& subnet, const QVariant& parentId, const QString& parentSubnet)
{
    return db.run(insertBranchStatement(), { name, subnet, parentId, parentSubnet });
}

Status insertBranches(DB& db, const QString& parentSubnet, const QVector<QPair<QString, QString>>& subnetsAndNames)
{
    if (db.engine().writesRowsTogether())
        return db.run(
            QStringLiteral("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) SELECT second, first, "
                           "(SELECT id FROM subnets WHERE subnet = ?), ? FROM %1 ORDER BY n")
                .arg(db.engine().text(EngineSql::PairTable)),
            { parentSubnet, parentSubnet, jsonText::pairs(subnetsAndNames) });
    const SqlResult parent = idOfSubnet(db, parentSubnet);
    StatementBatch insert(db, insertBranchStatement());
    Status written = parent;
    for (int i = 0; i < subnetsAndNames.size() && written.ok(); ++i)
        written = insert.run(
            { subnetsAndNames.at(i).second, subnetsAndNames.at(i).first, parent.rows.value(0).value(0), parentSubnet });
    return written;
}

SqlResult insertOrganisation(DB& db, const QString& name, const QString& subnet)
{
    return db.run(insertOrganisationStatement(), { subnet, QVariant(), QVariant(), name });
}

SqlResult branchSubnets(DB& db, const QString& parentSubnet)
{
    return db.run(QStringLiteral("SELECT subnet FROM subnets WHERE parent_subnet = ?"), { parentSubnet });
}

SqlResult childrenOf(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("SELECT parent_subnet FROM subnets WHERE parent_subnet=?"), { subnet });
}

SqlResult rowForEditing(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("SELECT id, name, subnet, parent_subnet FROM subnets WHERE subnet=?"), { subnet });
}

SqlResult rename(DB& db, const QString& name, const QString& subnet)
{
    // The subnet is written back unchanged: only the name may change.
    return db.run(QStringLiteral("UPDATE subnets SET name=?, subnet=? WHERE subnet=?"), { name, subnet, subnet });
}

bool overlapsAny(const QVector<QVariantList>& rows, const net::Network& network)
{
    for (const QVariantList& row : rows) {
        const auto existing = net::parseNetwork(row.value(0).toString());
        if (existing && net::overlaps(network, *existing))
            return true;
    }
    return false;
}

Result<std::optional<QString>> branchRefusal(DB& db, const QString& subnet, const QString& parentSubnet)
{
    const auto network = net::parseNetwork(subnet);
    const auto parent = net::parseNetwork(parentSubnet);
    if (!network || !parent || !net::contains(*parent, *network))
        return std::optional<QString>(subnet + QStringLiteral(" не принадлежит подсети ") + parentSubnet);
    const SqlResult branches = branchSubnets(db, parentSubnet);
    if (!branches.ok())
        return Status(branches);
    if (overlapsAny(branches.rows, *network))
        return std::optional<QString>(subnet + QStringLiteral(" входит в существующую подсеть"));
    return std::optional<QString>();
}

Result<bool> deleteRowWithHosts(DB& db, const QString& subnet)
{
    bool hasBranches = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        SqlResult step = childrenOf(db, subnet);
        hasBranches = step.ok() && !step.rows.isEmpty();
        if (!step.ok() || hasBranches)
            return step;
        const Result<QVector<changeLog::Entry>> entries = deletionEntries(db, subnet);
        if (!entries.ok())
            return SqlResult(entries);
        // Kept as written, blanks around "=" included: statement texts stay as they have always been.
        step = db.run(QStringLiteral("DELETE FROM subnets WHERE subnet = ?"), { subnet });
        if (step.ok())
            step = db.run(QStringLiteral("DELETE FROM hosts WHERE subnet = ?"), { subnet });
        return step.ok() ? SqlResult(changeLog::record(db, entries.value)) : step;
    });
    if (!r.ok())
        return Result<bool>(r);
    return !hasBranches;
}

Result<bool> renameStored(DB& db, const QString& name, const QString& subnet)
{
    bool gone = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        const SqlResult row = rowForEditing(db, subnet);
        gone = row.ok() && row.rows.isEmpty();
        if (!row.ok() || gone)
            return row;
        const QString before = row.rows.first().value(1).toString();
        const SqlResult renamed = rename(db, name, subnet);
        return before == name ? renamed
                              : logged(db, renamed, { changeLog::What::Renamed, subnet, name, {}, before, name });
    });
    if (!r.ok())
        return Result<bool>(r);
    return !gone;
}

SqlResult deleteEverything(DB& db)
{
    // A file opened while read-locked may still lack the history tables; their deletes must not fail.
    if (const SqlResult prepared = historySchema::prepare(db); !prepared.ok())
        return prepared;
    const QStringList statements
        = QStringList { QStringLiteral("DELETE FROM subnets"), QStringLiteral("DELETE FROM hosts") }
        + historySchema::clearStatements(db);
    return inWriteTransaction(db, [&] {
        const Result<QString> before = changeLog::counts(db);
        if (!before.ok())
            return SqlResult(before);
        SqlResult r;
        for (int i = 0; i < statements.size() && r.ok(); ++i)
            r = db.run(statements.at(i));
        return logged(db, r, { changeLog::What::Emptied, {}, {}, {}, before.value, {} });
    });
}

Result<bool> insertFirstOrganisation(DB& db, const QString& name, const QString& subnet)
{
    bool occupied = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        const SqlResult any = db.run(QStringLiteral("SELECT 1 FROM subnets LIMIT 1"));
        if (!any.ok())
            return any;
        occupied = !any.rows.isEmpty();
        return occupied
            ? SqlResult {}
            : logged(db, insertOrganisation(db, name, subnet), { changeLog::What::Added, subnet, name, {}, {}, name });
    });
    if (!r.ok())
        return Result<bool>(r);
    return !occupied;
}

Result<std::optional<QString>> insertBranchUnder(
    DB& db, const QString& name, const QString& subnet, const QString& parentSubnet)
{
    std::optional<QString> refusal;
    const SqlResult r = inWriteTransaction(db, [&]() -> SqlResult {
        const SqlResult parent = idOfSubnet(db, parentSubnet);
        if (!parent.ok())
            return parent;
        if (parent.rows.isEmpty()) {
            refusal = QStringLiteral("Подсеть ") + parentSubnet + QStringLiteral(" больше не существует");
            return {};
        }
        const Result<std::optional<QString>> broken = branchRefusal(db, subnet, parentSubnet);
        if (!broken.ok() || broken.value) {
            refusal = broken.value;
            return Status(broken);
        }
        return logged(db, insertBranch(db, name, subnet, parent.rows.first().value(0), parentSubnet),
            { changeLog::What::Added, subnet, name, {}, {}, name });
    });
    if (!r.ok())
        return Status(r);
    return refusal;
}

} // namespace subnetTable
