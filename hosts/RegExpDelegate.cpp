#include "hosts/RegExpDelegate.h"

#include "net/ipv4.h"

#include <QLineEdit>

RegExpDelegate::RegExpDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
    , validator(new QRegExpValidator(QRegExp(net::dottedQuadPattern()), this))
{ }

QWidget* RegExpDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* editor = new QLineEdit(parent);
    editor->setValidator(validator);
    return editor;
}

void RegExpDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    static_cast<QLineEdit*>(editor)->setText(index.data().toString());
}

void RegExpDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    model->setData(index, static_cast<QLineEdit*>(editor)->text());
}
