#include "tree/treeModel.h"

#include <QHash>
#include <QItemSelection>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

#include <algorithm>
#include <functional>

namespace treeModel {

namespace {

// Every row's name cell under `parent`, depth first.
void eachRow(
    const QAbstractItemModel& model, const QModelIndex& parent, const std::function<void(const QModelIndex&)>& f)
{
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex name = model.index(r, 0, parent);
        f(name);
        eachRow(model, name, f);
    }
}

QString subnetOf(const QModelIndex& name)
{
    return name.siblingAtColumn(1).data().toString();
}

} // namespace

void fill(QStandardItemModel& model, const QVector<QVariantList>& stored)
{
    // In id order, parents before their branches: the file reads its rows so, a server returns a
    // row it has updated (renamed) after the others.
    QVector<QVariantList> rows = stored;
    std::stable_sort(rows.begin(), rows.end(),
        [](const QVariantList& a, const QVariantList& b) { return a.value(0).toLongLong() < b.value(0).toLongLong(); });
    QHash<qint64, QStandardItem*> itemOfId;
    for (const QVariantList& row : rows) {
        auto* nameItem = new QStandardItem(row.value(1).toString());
        auto* subnetItem = new QStandardItem(row.value(2).toString());
        const QVariant parentId = row.value(3);
        QStandardItem* parent = parentId.isNull() ? model.invisibleRootItem() : itemOfId.value(parentId.toLongLong());
        if (parent) {
            parent->appendRow({ nameItem, subnetItem });
        } else {
            delete nameItem;
            delete subnetItem;
            nameItem = nullptr; // its descendants are not shown either
        }
        itemOfId.insert(row.value(0).toLongLong(), nameItem);
    }
}

ViewState capture(const QTreeView& view)
{
    ViewState state;
    eachRow(*view.model(), QModelIndex(), [&](const QModelIndex& name) {
        if (!view.isExpanded(name) && view.model()->hasChildren(name))
            state.collapsed.insert(subnetOf(name));
    });
    for (const QModelIndex& name : view.selectionModel()->selectedRows())
        state.selected.insert(subnetOf(name));
    if (const QModelIndex current = view.selectionModel()->currentIndex(); current.isValid())
        state.current = subnetOf(current);
    state.scroll = view.verticalScrollBar()->value();
    return state;
}

void restore(QTreeView& view, const ViewState& state)
{
    view.expandAll();
    QItemSelection selection;
    QModelIndex current;
    eachRow(*view.model(), QModelIndex(), [&](const QModelIndex& name) {
        const QString subnet = subnetOf(name);
        if (state.collapsed.contains(subnet))
            view.collapse(name);
        if (state.selected.contains(subnet))
            selection.select(name, name.siblingAtColumn(1));
        if (subnet == state.current)
            current = name;
    });
    // A current row inside a collapsed one stays hidden: scrolling to it would expand its parents.
    const bool autoScroll = view.hasAutoScroll();
    view.setAutoScroll(false);
    if (current.isValid())
        view.selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    view.setAutoScroll(autoScroll);
    view.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.doItemsLayout(); // the scroll range follows the rows only once they are laid out
    view.verticalScrollBar()->setValue(state.scroll);
}

} // namespace treeModel
