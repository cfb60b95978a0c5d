#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <optional>

class DB;

// The statements of the organisation tree on table `subnets`.
namespace subnetTable {

// The two inserts of the tree, for whoever prepares them once for many rows (the import).
QString insertBranchStatement(); // name, subnet, parent id, parent subnet
QString insertOrganisationStatement(); // subnet, NULL, NULL, name

SqlResult allRows(DB& db); // id, name, subnet, parent_id
SqlResult idOfSubnet(DB& db, const QString& subnet); // id
SqlResult insertBranch(
    DB& db, const QString& name, const QString& subnet, const QVariant& parentId, const QString& parentSubnet);
SqlResult insertOrganisation(DB& db, const QString& name, const QString& subnet);
// The branches (subnet, name) of a stored row, in their order: on a server in one statement.
Status insertBranches(DB& db, const QString& parentSubnet, const QVector<QPair<QString, QString>>& subnetsAndNames);
SqlResult branchSubnets(DB& db, const QString& parentSubnet); // subnet of each direct branch
SqlResult childrenOf(DB& db, const QString& subnet); // parent_subnet, one row per child
SqlResult rowForEditing(DB& db, const QString& subnet); // id, name, subnet, parent_subnet
SqlResult rename(DB& db, const QString& name, const QString& subnet);

// Does `network` overlap the network in the first field of any row?
bool overlapsAny(const QVector<QVariantList>& rows, const net::Network& network);
// What a new branch `subnet` under `parentSubnet` would break, as the user is told: lying outside
// the parent, or overlapping one of its branches (read now); none when it breaks neither.
Result<std::optional<QString>> branchRefusal(DB& db, const QString& subnet, const QString& parentSubnet);

// Each of these runs as one write transaction, checks and write together: on failure or refusal
// nothing has changed. Another copy may have changed the file since this tree was drawn (and
// since the dialog checked), so every rule is checked again under the write lock.
// The organisation goes only into an empty table: false when refused.
Result<bool> insertFirstOrganisation(DB& db, const QString& name, const QString& subnet);
// The branch goes only under a parent row that still exists, inside it and overlapping none of
// its branches; the value is the refusal, none when it went in. A duplicate subnet fails with
// a constraint failure.
Result<std::optional<QString>> insertBranchUnder(
    DB& db, const QString& name, const QString& subnet, const QString& parentSubnet);
// The row and its host list go only while it has no branches: false when it has.
Result<bool> deleteRowWithHosts(DB& db, const QString& subnet);
// Only a row still stored is renamed: false when it is gone.
Result<bool> renameStored(DB& db, const QString& name, const QString& subnet);
SqlResult deleteEverything(DB& db);

} // namespace subnetTable
