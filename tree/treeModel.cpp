#include "tree/treeModel.h"

#include <QHash>
#include <QStandardItemModel>

#include <algorithm>

namespace treeModel {

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

} // namespace treeModel
