#pragma once

#include <QVariantList>
#include <QVector>

class QStandardItemModel;

namespace treeModel {

// Puts the rows of subnetTable::allRows() into the model: organisations at the top, each branch under
// its parent. A row whose parent is missing or comes later is left out with its subtree.
void fill(QStandardItemModel& model, const QVector<QVariantList>& rows);

} // namespace treeModel
