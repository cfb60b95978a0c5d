#include "tree/subnetTable.h"

#include "db/DB.h"
#include "db/historySchema.h"

#include <functional>

namespace subnetTable {

namespace {

// No other connection can write between the check and the insert.
SqlResult inWriteTransaction(DB& db, const std::function<SqlResult()>& body)
{
    return db.writeTransaction([&] { return Status(body()); });
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
        // Kept as written, blanks around "=" included: statement texts stay as they have always been.
        step = db.run(QStringLiteral("DELETE FROM subnets WHERE subnet = ?"), { subnet });
        return step.ok() ? db.run(QStringLiteral("DELETE FROM hosts WHERE subnet = ?"), { subnet }) : step;
    });
    if (!r.ok())
        return Result<bool>(r);
    return !hasBranches;
}

Result<bool> renameStored(DB& db, const QString& name, const QString& subnet)
{
    bool gone = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        const SqlResult row = idOfSubnet(db, subnet);
        gone = row.ok() && row.rows.isEmpty();
        return !row.ok() || gone ? row : rename(db, name, subnet);
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
    return db.runTogether(QStringList { QStringLiteral("DELETE FROM subnets"), QStringLiteral("DELETE FROM hosts") }
            + historySchema::clearStatements(),
        {});
}

Result<bool> insertFirstOrganisation(DB& db, const QString& name, const QString& subnet)
{
    bool occupied = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        const SqlResult any = db.run(QStringLiteral("SELECT 1 FROM subnets LIMIT 1"));
        if (!any.ok())
            return any;
        occupied = !any.rows.isEmpty();
        return occupied ? SqlResult {} : insertOrganisation(db, name, subnet);
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
        return insertBranch(db, name, subnet, parent.rows.first().value(0), parentSubnet);
    });
    if (!r.ok())
        return Status(r);
    return refusal;
}

} // namespace subnetTable
