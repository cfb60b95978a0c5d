#include "hosts/scanSubnetWindow.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegExpValidator>
#include <QSpacerItem>

scanSubnetWindow::scanSubnetWindow(QWidget* parent)
    : QDialog(parent)
    , gridLayout(new QGridLayout(this))
    , label(new QLabel(this))
    , port(new QLineEdit(this))
    , rbICMP(new QRadioButton(this))
    , rbTCP(new QRadioButton(this))
{
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    auto* buttonBox = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    buttonBox->setObjectName(QStringLiteral("buttonBox"));
    label->setObjectName(QStringLiteral("label"));
    port->setObjectName(QStringLiteral("port"));
    rbICMP->setObjectName(QStringLiteral("rbICMP"));
    rbTCP->setObjectName(QStringLiteral("rbTCP"));
    gridLayout->addWidget(rbICMP, 1, 0, 1, 2);
    gridLayout->addWidget(rbTCP, 2, 0, 1, 2);
    gridLayout->addWidget(label, 4, 0, 1, 1);
    gridLayout->addWidget(port, 4, 1, 1, 1);
    gridLayout->addItem(new QSpacerItem(10, 10, QSizePolicy::Minimum, QSizePolicy::Expanding), 5, 1, 1, 1);
    gridLayout->addWidget(buttonBox, 6, 1, 1, 1);

    // Exactly the ports 1 to 65535; parsePort reads the text with the same pattern.
    port->setValidator(new QRegExpValidator(QRegExp(scanRequest::portPattern()), port));

    rbICMP->setChecked(true);
    label->hide();
    port->hide();
    // Kept as is, the blank after "Порт:" and the short "завершени" too: captions users know.
    label->setText(QStringLiteral("Порт: "));
    rbICMP->setText(QStringLiteral("Сканировать по ICMP\n(дождитесь уведомления о завершени)"));
    rbTCP->setText(QStringLiteral("Сканировать по TCP"));

    connect(buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(rbICMP, &QRadioButton::clicked, this, &scanSubnetWindow::stateRadioButton);
    connect(rbTCP, &QRadioButton::clicked, this, &scanSubnetWindow::stateRadioButton);
}

void scanSubnetWindow::stateRadioButton()
{
    if (rbICMP->isChecked()) {
        label->hide();
        port->hide();
    } else if (rbTCP->isChecked()) {
        label->show();
        port->show();
    }
}

std::optional<ScanRequest> scanSubnetWindow::scanParameter() const
{
    if (rbICMP->isChecked())
        return ScanRequest { scanRequest::icmp(), QString() };
    if (rbTCP->isChecked())
        return ScanRequest { scanRequest::tcp(), port->text() };
    return std::nullopt;
}
