#include "hosts/noteDelegate.h"

#include "hosts/hostModel.h"

void NoteDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    QStyledItemDelegate::setModelData(editor, model, index);
    model->setData(index, true, hostModel::noteWrittenRole);
}
