#include "tree/subnetTable.h"

#include "db/DB.h"
#include "db/historySchema.h"

namespace subnetTable {

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
    return db.runTogether({ QStringLiteral("DELETE FROM subnets WHERE subnet = ?"),
                              QStringLiteral("DELETE FROM hosts WHERE subnet = ?") },
        { subnet });
}

SqlResult deleteEverything(DB& db)
{
    // A file opened while read-locked may still lack the history tables; their deletes must not fail.
    historySchema::prepare(db);
    return db.runTogether(QStringList { QStringLiteral("DELETE FROM subnets"), QStringLiteral("DELETE FROM hosts") }
            + historySchema::clearStatements(),
        {});
}

} // namespace subnetTable
