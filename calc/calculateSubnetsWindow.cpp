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

QLabel* captionLabel(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLabel* resultLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setStyleSheet(QStringLiteral("font: bold"));
    return label;
}

} // namespace

calculateSubnetsWindow::calculateSubnetsWindow(const std::optional<QString>& value, QWidget* parent)
    : QDialog(parent)
{
    second = new QLineEdit(this);
    second->setObjectName(QStringLiteral("second"));
    masks = new QComboBox(this);
    masks->setObjectName(QStringLiteral("masks"));
    second->setValidator(new QRegExpValidator(QRegExp(net::dottedQuadPattern()), this));
    if (value)
        second->setText(value->section(QLatin1Char('/'), 0, 0));
    second->setFixedWidth(230);
    masks->addItems(net::maskList());
    masks->setFixedWidth(230);
    createResultLabels();
    buildLayout();
}

void calculateSubnetsWindow::createResultLabels()
{
    label1 = captionLabel(QStringLiteral("Подсеть: "), "label1", this);
    label2 = captionLabel(QStringLiteral("Начало подсети: "), "label2", this);
    // Kept as is: this caption alone has no blank after its colon.
    label3 = captionLabel(QStringLiteral("Количество адресов в подсети:"), "label3", this);
    label4 = captionLabel(QStringLiteral("Количество адресов для хостов: "), "label4", this);
    label5 = captionLabel(QStringLiteral("Широковещательный адрес: "), "label5", this);
    label6 = captionLabel(QStringLiteral("Диапазон адресов для хостов: "), "label6", this);
    label7 = resultLabel("label7", this);
    label8 = resultLabel("label8", this);
    label9 = resultLabel("label9", this);
    label10 = resultLabel("label10", this);
    label11 = resultLabel("label11", this);
    label12 = resultLabel("label12", this);
    label12->setWordWrap(true);
    label12->setFixedWidth(230);
}

void calculateSubnetsWindow::buildLayout()
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout = new QFormLayout(this);
    layout->setFormAlignment(Qt::AlignLeft);
    // Kept as is: "Подсеть: " heads both the address row and the first result row.
    layout->addRow(QStringLiteral("Подсеть: "), second);
    layout->addRow(QStringLiteral("Маска подсети: "), masks);
    layout->addRow(label1, label7);
    layout->addRow(label2, label8);
    layout->addRow(label3, label9);
    layout->addRow(label4, label10);
    layout->addRow(label5, label11);
    layout->addRow(label6, label12);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Рассчитать"));
    layout->addRow(buttons);
    // Only "Рассчитать" is wired, and not to accept(): the dialog stays open for the next calculation.
    connect(buttons, &QDialogButtonBox::accepted, this, &calculateSubnetsWindow::calculateSabnet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

std::array<QLabel*, 6> calculateSubnetsWindow::results() const
{
    return { label7, label8, label9, label10, label11, label12 };
}

void calculateSubnetsWindow::calculateSabnet()
{
    const auto facts = subnetFacts::calculate(second->text(), masks->currentText());
    clearLabel();
    if (!facts) {
        messages::error(this, subnetFacts::refusalText(second->text(), masks->currentText()));
        return;
    }
    const std::array<QString, 6> texts
        = { facts->network, facts->first, facts->addressCount, facts->hostCount, facts->broadcast, facts->hostRange };
    for (std::size_t i = 0; i < texts.size(); ++i)
        results()[i]->setText(texts[i]);
}

void calculateSubnetsWindow::clearLabel()
{
    for (QLabel* label : results())
        label->clear();
}
