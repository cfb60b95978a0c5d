#pragma once

#include "db/sqlResult.h"

#include <QString>
#include <QVariant>

class DB;

// The statements of the organisation tree on table `subnets`.
namespace subnetTable {

SqlResult allRows(DB& db); // id, name, subnet, parent_id
SqlResult idOfSubnet(DB& db, const QString& subnet); // id
SqlResult insertBranch(
    DB& db, const QString& name, const QString& subnet, const QVariant& parentId, const QString& parentSubnet);
SqlResult insertOrganisation(DB& db, const QString& name, const QString& subnet);
SqlResult branchSubnets(DB& db, const QString& parentSubnet); // subnet of each direct branch
SqlResult childrenOf(DB& db, const QString& subnet); // parent_subnet, one row per child
SqlResult rowForEditing(DB& db, const QString& subnet); // id, name, subnet, parent_subnet
SqlResult rename(DB& db, const QString& name, const QString& subnet);

// Each of these runs as one transaction: on failure nothing has changed.
// Another program may have changed the file since this tree was drawn, so the checks that the
// tree on screen suggests are made again in the transaction of the insert:
// the organisation goes only into an empty table, the branch only under a parent row that still
// exists. The value says whether the row went in: false when refused, and then nothing changed.
Result<bool> insertFirstOrganisation(DB& db, const QString& name, const QString& subnet);
Result<bool> insertBranchUnder(DB& db, const QString& name, const QString& subnet, const QString& parentSubnet);
SqlResult deleteRowWithHosts(DB& db, const QString& subnet);
SqlResult deleteEverything(DB& db);

} // namespace subnetTable
