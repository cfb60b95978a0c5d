#pragma once

#include <QRegExpValidator>
#include <QStyledItemDelegate>

// The address cell editor: a line edit that takes only dotted-quad text or text that can
// still grow into it.
class RegExpDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RegExpDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // Shared by every editor this delegate makes.
    QRegExpValidator* validator;
};
