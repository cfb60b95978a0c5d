#include "tree/treeModel.h"

#include <QHash>
#include <QStandardItemModel>

namespace treeModel {

void fill(QStandardItemModel& model, const QVector<QVariantList>& rows)
{
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
