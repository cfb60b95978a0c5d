#pragma once

#include "db/DB.h"

#include <QString>
#include <QVariant>

class QStandardItemModel;

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
SqlResult deleteRowWithHosts(DB& db, const QString& subnet);
SqlResult deleteEverything(DB& db);

// Puts the rows of allRows() into the model: organisations at the top, each branch under
// its parent. A row whose parent is missing or comes later is left out with its subtree.
void fillTree(QStandardItemModel& model, const QVector<QVariantList>& rows);

} // namespace subnetTable
