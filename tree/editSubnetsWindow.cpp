#include "tree/editSubnetsWindow.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

editSubnetsWindow::editSubnetsWindow(const QVector<QVariantList>& value, QWidget* parent)
    : QDialog(parent)
{
    QString name;
    QString subnet;
    for (const QVariantList& row : value) {
        name = row.value(1).toString();
        subnet = row.value(2).toString();
    }
    first = new QLineEdit(name, this);
    first->setObjectName(QStringLiteral("first"));
    label = new QLabel(this);
    label->setObjectName(QStringLiteral("label"));
    label->setTextFormat(Qt::PlainText);
    label->setText(subnet);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Наименование"), first);
    layout->addRow(QStringLiteral("Подсеть"), label);
    layout->addWidget(buttons);
}

QStringList editSubnetsWindow::edit(const QVector<QVariantList>&) const
{
    return { first->text(), label->text() };
}
