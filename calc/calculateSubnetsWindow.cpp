#include "calc/calculateSubnetsWindow.h"

#include "calc/subnetFacts.h"
#include "gui/messages.h"
#include "net/ipv4.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExpValidator>

namespace {

QLabel* captionLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QLabel* resultLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setStyleSheet(QStringLiteral("font: bold"));
    return label;
}

} // namespace

calculateSubnetsWindow::calculateSubnetsWindow(const std::optional<QString>& value, QWidget* parent)
    : QDialog(parent)
{
    addressEdit = new QLineEdit(this);
    addressEdit->setObjectName(QStringLiteral("second"));
    maskBox = new QComboBox(this);
    maskBox->setObjectName(QStringLiteral("masks"));
    addressEdit->setValidator(new QRegExpValidator(QRegExp(net::dottedQuadPattern()), this));
    if (value)
        addressEdit->setText(value->section(QLatin1Char('/'), 0, 0));
    addressEdit->setFixedWidth(230);
    maskBox->addItems(net::maskList());
    maskBox->setFixedWidth(230);
    createResultLabels();
    buildLayout();
}

void calculateSubnetsWindow::createResultLabels()
{
    const QString texts[] = { QStringLiteral("Подсеть: "), QStringLiteral("Начало подсети: "),
        // Kept as is: this caption alone has no blank after its colon.
        QStringLiteral("Количество адресов в подсети:"), QStringLiteral("Количество адресов для хостов: "),
        QStringLiteral("Широковещательный адрес: "), QStringLiteral("Диапазон адресов для хостов: ") };
    for (std::size_t i = 0; i < captions.size(); ++i) {
        captions[i] = captionLabel(texts[i], QStringLiteral("label%1").arg(i + 1), this);
        facts[i] = resultLabel(QStringLiteral("label%1").arg(i + 7), this);
    }
    facts.back()->setWordWrap(true);
    facts.back()->setFixedWidth(230);
}

void calculateSubnetsWindow::buildLayout()
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout = new QFormLayout(this);
    layout->setFormAlignment(Qt::AlignLeft);
    // Kept as is: "Подсеть: " heads both the address row and the first result row.
    layout->addRow(QStringLiteral("Подсеть: "), addressEdit);
    layout->addRow(QStringLiteral("Маска подсети: "), maskBox);
    for (std::size_t i = 0; i < captions.size(); ++i)
        layout->addRow(captions[i], facts[i]);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Рассчитать"));
    layout->addRow(buttons);
    // Only "Рассчитать" is wired, and not to accept(): the dialog stays open for the next calculation.
    connect(buttons, &QDialogButtonBox::accepted, this, &calculateSubnetsWindow::calculateSabnet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void calculateSubnetsWindow::calculateSabnet()
{
    const auto found = subnetFacts::calculate(addressEdit->text(), maskBox->currentText());
    clearLabel();
    if (!found) {
        messages::error(this, subnetFacts::refusalText(addressEdit->text(), maskBox->currentText()));
        return;
    }
    const std::array<QString, 6> texts
        = { found->network, found->first, found->addressCount, found->hostCount, found->broadcast, found->hostRange };
    for (std::size_t i = 0; i < texts.size(); ++i)
        facts[i]->setText(texts[i]);
}

void calculateSubnetsWindow::clearLabel()
{
    for (QLabel* fact : facts)
        fact->clear();
}
