#include "hosts/scanSubnetWindow.h"

#include "hosts/scan/fpingSweep.h"

#include <QCheckBox>
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
    , cbFast(new QCheckBox(QStringLiteral("Быстро (fping)"), this))
    , fpingInstalled(!FpingSweep::locate().isEmpty())
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
    cbFast->setObjectName(QStringLiteral("cbFast"));
    gridLayout->addWidget(cbFast, 3, 0, 1, 2);
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

    // Without fping the box stays empty and the user's choice stays stored for when it is back.
    cbFast->setChecked(fpingInstalled && scanRequest::fastChosen());
    cbFast->setToolTip(fpingInstalled
            ? QStringLiteral("Одна программа fping опрашивает всю подсеть: ответа каждого адреса ждет "
                             "полсекунды, молчащим посылает запрос еще раз")
            : QStringLiteral("Программа fping не установлена: установите пакет fping"));
    stateRadioButton();

    connect(buttonBox, &QDialogButtonBox::accepted, this, [this] {
        if (fpingInstalled)
            scanRequest::rememberFast(cbFast->isChecked());
        accept();
    });
    connect(buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(rbICMP, &QRadioButton::clicked, this, &scanSubnetWindow::stateRadioButton);
    connect(rbTCP, &QRadioButton::clicked, this, &scanSubnetWindow::stateRadioButton);
}

void scanSubnetWindow::stateRadioButton()
{
    cbFast->setEnabled(rbICMP->isChecked() && fpingInstalled);
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
        return ScanRequest { scanRequest::icmp(), QString(), cbFast->isEnabled() && cbFast->isChecked() };
    if (rbTCP->isChecked())
        return ScanRequest { scanRequest::tcp(), port->text() };
    return std::nullopt;
}
