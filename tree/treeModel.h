#pragma once

#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVector>

class QStandardItemModel;
class QTreeView;

namespace treeModel {

// Puts the rows of subnetTable::allRows() into the model: organisations at the top, each branch under
// its parent. A row whose parent is missing or comes later is left out with its subtree.
void fill(QStandardItemModel& model, const QVector<QVariantList>& rows);

// What the user made of the tree view: rows collapsed and selected, the current row, how far it
// is scrolled. Rows are known by their subnet, so that the state outlives a reload of the model.
struct ViewState {
    QSet<QString> collapsed, selected;
    QString current;
    int scroll = 0;
};
ViewState capture(const QTreeView& view);
// After a reload: every row expanded (as a loaded tree is) but those collapsed before.
void restore(QTreeView& view, const ViewState& state);

} // namespace treeModel
