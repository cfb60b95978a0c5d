#pragma once

#include <QStyledItemDelegate>

// The note cell editor: the plain line edit, whose commit also marks the cell as written by
// the user (hostModel::noteWrittenRole).
class NoteDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};
