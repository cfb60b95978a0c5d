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
    return db.run(QStringLiteral("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?)"),
        { name, subnet, parentId, parentSubnet });
}

SqlResult insertOrganisation(DB& db, const QString& name, const QString& subnet)
{
    // Kept as is: an organisation's insert names the columns in another order than a branch's.
    return db.run(QStringLiteral("INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES (?, ?, ?, ?)"),
        { subnet, QVariant(), QVariant(), name });
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

SqlResult deleteRowWithHosts(DB& db, const QString& subnet)
{
    // Kept as written, blanks around "=" included: statement texts stay as they have always been.
    return db.runTogether({ QStringLiteral("DELETE FROM subnets WHERE subnet = ?"),
                              QStringLiteral("DELETE FROM hosts WHERE subnet = ?") },
        { subnet });
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

Result<bool> insertBranchUnder(DB& db, const QString& name, const QString& subnet, const QString& parentSubnet)
{
    bool parentGone = false;
    const SqlResult r = inWriteTransaction(db, [&] {
        const SqlResult parent = idOfSubnet(db, parentSubnet);
        if (!parent.ok())
            return parent;
        parentGone = parent.rows.isEmpty();
        return parentGone ? SqlResult {} : insertBranch(db, name, subnet, parent.rows.first().value(0), parentSubnet);
    });
    if (!r.ok())
        return Result<bool>(r);
    return !parentGone;
}

} // namespace subnetTable
