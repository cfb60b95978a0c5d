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
    nameEdit = new QLineEdit(name, this);
    nameEdit->setObjectName(QStringLiteral("first"));
    subnetLabel = new QLabel(this);
    subnetLabel->setObjectName(QStringLiteral("label"));
    subnetLabel->setTextFormat(Qt::PlainText);
    subnetLabel->setText(subnet);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Наименование"), nameEdit);
    layout->addRow(QStringLiteral("Подсеть"), subnetLabel);
    layout->addWidget(buttons);
}

QStringList editSubnetsWindow::edit(const QVector<QVariantList>&) const
{
    return { nameEdit->text(), subnetLabel->text() };
}
