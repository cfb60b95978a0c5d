#include "tree/addSubnetsWindow.h"

#include "db/DB.h"
#include "gui/messages.h"
#include "tree/addressPlan.h"
#include "tree/subnetTable.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegExp>
#include <QRegExpValidator>

addSubnetsWindow::addSubnetsWindow(const std::optional<QString>& value, QWidget* parent)
    : QDialog(parent)
    , db(std::make_unique<DB>())
    , parentSubnet(value)
{
    nameEdit = new QLineEdit(this);
    nameEdit->setObjectName(QStringLiteral("first"));
    addressEdit = new QLineEdit(this);
    addressEdit->setObjectName(QStringLiteral("second"));
    addressEdit->setValidator(new QRegExpValidator(QRegExp(net::dottedQuadPattern()), this));
    maskBox = new QComboBox(this);
    maskBox->setObjectName(QStringLiteral("masks"));
    maskBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    maskBox->addItems(net::maskList());
    pbSuggest = new QPushButton(QStringLiteral("Подобрать"), this);
    pbSuggest->setObjectName(QStringLiteral("pbSuggest"));
    pbSuggest->setToolTip(QStringLiteral("Первая свободная подсеть с этой маской"));
    pbSuggest->setAutoDefault(false);
    pbSuggest->setEnabled(value.has_value());
    connect(pbSuggest, &QPushButton::clicked, this, &addSubnetsWindow::suggest);
    auto* maskRow = new QHBoxLayout;
    maskRow->addWidget(maskBox);
    maskRow->addWidget(pbSuggest);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("Наименование"), nameEdit);
    layout->addRow(QStringLiteral("Подсеть"), addressEdit);
    layout->addRow(QStringLiteral("Маска подсети"), maskRow);
    layout->addWidget(buttons);
}

const Status& addSubnetsWindow::dbStatus() const
{
    return db->status();
}

addSubnetsWindow::~addSubnetsWindow() = default;

Result<QStringList> addSubnetsWindow::add(const std::optional<QString>& value)
{
    const QString entry = addressEdit->text() + net::prefixPart(maskBox->currentText());
    const auto typed = net::parseAddressWithPrefix(entry);
    // Kept as is: a hyphen between blanks where a dash would stand, as in every message users know.
    if (!typed)
        return Status::failure(entry + QStringLiteral(" - это не подсеть и не IP-адрес!"));
    const net::Network network = net::networkOf(typed->address, typed->prefix);
    if (!value)
        return QStringList { nameEdit->text(), net::toText(network) };
    return addBranch(nameEdit->text(), network, *value);
}

Result<QStringList> addSubnetsWindow::addBranch(const QString& name, const net::Network& network, const QString& parent)
{
    const QString networkText = net::toText(network);
    const Result<std::optional<QString>> refusal = subnetTable::branchRefusal(*db, networkText, parent);
    if (!refusal.ok())
        return Status(refusal);
    if (refusal.value)
        return Status::failure(*refusal.value);
    return QStringList { name, networkText, parent };
}

bool addSubnetsWindow::checkSubnet(const QVector<QVariantList>& rows, const net::Network& network)
{
    return subnetTable::overlapsAny(rows, network);
}

void addSubnetsWindow::suggest()
{
    const auto parent = parentSubnet ? net::parseNetwork(*parentSubnet) : std::nullopt;
    if (!parent)
        return;
    const int prefix = net::prefixPart(maskBox->currentText()).mid(1).toInt();
    const Result<addressPlan::Networks> branches = addressPlan::branchesOf(*db, *parentSubnet);
    if (!branches.ok()) {
        messages::error(this, branches.errorText);
        return;
    }
    const auto free = addressPlan::suggestBranch(*parent, prefix, branches.value);
    if (!free) {
        messages::warning(this, QStringLiteral("Внимание!"),
            QStringLiteral("В подсети ") + *parentSubnet + QStringLiteral(" нет свободной подсети с маской /")
                + QString::number(prefix));
        return;
    }
    addressEdit->setText(net::toText(free->address));
}
