#include "calc/calculateSubnetsWindow.h"
#include "calc/subnetFacts.h"
#include "db/DB.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

const QString noHosts = QStringLiteral("В подсети нет адресов для хостов");
const QString refusalTail = QStringLiteral(" - это не подсеть и не IP-адрес!");

QLineEdit* addressField(QWidget* dialog)
{
    return dialog->findChild<QLineEdit*>(QStringLiteral("second"));
}

QComboBox* maskBox(QWidget* dialog)
{
    return dialog->findChild<QComboBox*>(QStringLiteral("masks"));
}

QPushButton* dialogButton(QWidget* dialog, QDialogButtonBox::StandardButton which)
{
    return dialog->findChild<QDialogButtonBox*>()->button(which);
}

QStringList results(QWidget* dialog)
{
    QStringList texts;
    for (int i = 7; i <= 12; ++i)
        texts << dialog->findChild<QLabel*>(QStringLiteral("label%1").arg(i))->text();
    return texts;
}

// Empties the field as a user would and types `text` through the validator.
void typeAddress(QWidget* dialog, const QString& text)
{
    QLineEdit* field = addressField(dialog);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Walks the mask list with the keyboard: the item for prefix p sits 32 - p rows below the top.
void pickMask(QWidget* dialog, int prefix)
{
    QComboBox* box = maskBox(dialog);
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < 32 - prefix; ++i)
        QTest::keyClick(box, Qt::Key_Down);
}

void calculate(QWidget* dialog)
{
    QTest::mouseClick(dialogButton(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
}

QStringList noResults()
{
    return QStringList { "", "", "", "", "", "" };
}

} // namespace

class CalculatorTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void facts_data();
    void facts();
    void unreadableText_data();
    void unreadableText();

    void formRows();
    void prefill_data();
    void prefill();
    void calculatesTypedInput_data();
    void calculatesTypedInput();
    void secondCalculationReplacesAll();
    void refusesUnreadableAddress_data();
    void refusesUnreadableAddress();
    void validator_data();
    void validator();
    void closes_data();
    void closes();

    void openedFromContextMenu();
    void openedFromAction_data();
    void openedFromAction();

private:
    void seed(const QStringList& subnets);
    void makeCurrent(ZarvinWindow& window, const QString& subnet);
    std::unique_ptr<TempDataDir> dataDir;
};

void CalculatorTest::init()
{
    dataDir = std::make_unique<TempDataDir>();
}

void CalculatorTest::cleanup()
{
    dataDir.reset();
}

void CalculatorTest::facts_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("/24 drops the host bits") << "192.168.1.10"
                                             << "255.255.255.000 /24"
                                             << QStringList { "192.168.1.0/24", "192.168.1.0", "256", "254",
                                                    "192.168.1.255", "192.168.1.1 - 192.168.1.254" };
    QTest::newRow("/31 pair has no hosts")
        << "10.0.0.7"
        << "255.255.255.254 /31" << QStringList { "10.0.0.6/31", "10.0.0.6", "2", "0", "10.0.0.7", noHosts };
    QTest::newRow("/32 is one address") << "10.1.0.0"
                                        << "255.255.255.255 /32"
                                        << QStringList { "10.1.0.0/32", "10.1.0.0", "1", "0", "10.1.0.0", noHosts };
    QTest::newRow("/32 at the top address")
        << "255.255.255.255"
        << "255.255.255.255 /32"
        << QStringList { "255.255.255.255/32", "255.255.255.255", "1", "0", "255.255.255.255", noHosts };
    QTest::newRow("/31 at the top pair") << "255.255.255.255"
                                         << "255.255.255.254 /31"
                                         << QStringList { "255.255.255.254/31", "255.255.255.254", "2", "0",
                                                "255.255.255.255", noHosts };
    QTest::newRow("/30 smallest with hosts")
        << "172.16.5.4"
        << "255.255.255.252 /30"
        << QStringList { "172.16.5.4/30", "172.16.5.4", "4", "2", "172.16.5.7", "172.16.5.5 - 172.16.5.6" };
    QTest::newRow("/30 at address zero") << "0.0.0.3"
                                         << "255.255.255.252 /30"
                                         << QStringList { "0.0.0.0/30", "0.0.0.0", "4", "2", "0.0.0.3",
                                                "0.0.0.1 - 0.0.0.2" };
    QTest::newRow("/9 splits an octet") << "10.200.0.1"
                                        << "255.128.000.000 /9"
                                        << QStringList { "10.128.0.0/9", "10.128.0.0", "8388608", "8388606",
                                               "10.255.255.255", "10.128.0.1 - 10.255.255.254" };
    QTest::newRow("/1 upper half") << "200.1.1.1"
                                   << "128.000.000.000 /1"
                                   << QStringList { "128.0.0.0/1", "128.0.0.0", "2147483648", "2147483646",
                                          "255.255.255.255", "128.0.0.1 - 255.255.255.254" };
    QTest::newRow("/0 counts past 32 bits") << "1.2.3.4"
                                            << "000.000.000.000 /0"
                                            << QStringList { "0.0.0.0/0", "0.0.0.0", "4294967296", "4294967294",
                                                   "255.255.255.255", "0.0.0.1 - 255.255.255.254" };
}

void CalculatorTest::facts()
{
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QStringList, expected);

    const auto facts = subnetFacts::calculate(address, mask);
    QVERIFY(facts);
    QCOMPARE((QStringList { facts->network, facts->first, facts->addressCount, facts->hostCount, facts->broadcast,
                 facts->hostRange }),
        expected);
}

void CalculatorTest::unreadableText_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("empty, untouched mask") << ""
                                           << "255.255.255.255 /32"
                                           << "/32" + refusalTail;
    QTest::newRow("three octets") << "10.0.0"
                                  << "255.255.255.000 /24"
                                  << "10.0.0/24" + refusalTail;
    QTest::newRow("trailing dot") << "10.0.0."
                                  << "255.255.255.000 /24"
                                  << "10.0.0./24" + refusalTail;
    QTest::newRow("last octet 25 and a blank") << "1.2.3.25 "
                                               << "255.255.255.000 /24"
                                               << "1.2.3.25 /24" + refusalTail;
    QTest::newRow("a name, not an address") << "Головной офис"
                                            << "000.000.000.000 /0"
                                            << "Головной офис/0" + refusalTail;
    QTest::newRow("five octets") << "10.1.0.0.0"
                                 << "255.255.000.000 /16"
                                 << "10.1.0.0.0/16" + refusalTail;
    QTest::newRow("octet above 255") << "10.1.0.256"
                                     << "255.255.000.000 /16"
                                     << "10.1.0.256/16" + refusalTail;
}

void CalculatorTest::unreadableText()
{
    QFETCH(QString, address);
    QFETCH(QString, mask);
    QFETCH(QString, refusal);

    QVERIFY(!subnetFacts::calculate(address, mask));
    QCOMPARE(subnetFacts::refusalText(address, mask), refusal);
}

void CalculatorTest::formRows()
{
    calculateSubnetsWindow dialog(std::nullopt);
    auto* form = dialog.findChild<QFormLayout*>();
    QVERIFY(form);
    QCOMPARE(form->rowCount(), 9);
    const QStringList captions
        = { "Подсеть: ", "Маска подсети: ", "Подсеть: ", "Начало подсети: ", "Количество адресов в подсети:",
              "Количество адресов для хостов: ", "Широковещательный адрес: ", "Диапазон адресов для хостов: " };
    for (int row = 0; row < captions.size(); ++row) {
        auto* caption = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget());
        QVERIFY(caption);
        QCOMPARE(caption->text(), captions.at(row));
    }
    QCOMPARE(form->itemAt(0, QFormLayout::FieldRole)->widget(), addressField(&dialog));
    QCOMPARE(form->itemAt(1, QFormLayout::FieldRole)->widget(), maskBox(&dialog));
    for (int i = 7; i <= 12; ++i) {
        auto* result = dialog.findChild<QLabel*>(QStringLiteral("label%1").arg(i));
        QCOMPARE(form->itemAt(i - 5, QFormLayout::FieldRole)->widget(), result);
        QCOMPARE(result->styleSheet(), QStringLiteral("font: bold"));
    }
    QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("label12"))->wordWrap());
    QCOMPARE(qobject_cast<QDialogButtonBox*>(form->itemAt(8, QFormLayout::SpanningRole)->widget())
                 ->button(QDialogButtonBox::Ok)
                 ->text(),
        QStringLiteral("Рассчитать"));
    QCOMPARE(maskBox(&dialog)->count(), 33);
    QCOMPARE(results(&dialog), noResults());
}

void CalculatorTest::prefill_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("shown");

    QTest::newRow("subnet text gives its address") << "10.1.0.0/16"
                                                   << "10.1.0.0";
    QTest::newRow("no slash keeps the whole text") << "10.1.2.3"
                                                   << "10.1.2.3";
    QTest::newRow("text the validator would refuse") << "Головной офис"
                                                     << "Головной офис";
    QTest::newRow("only the first slash counts") << "10.0.0/8/16"
                                                 << "10.0.0";
}

void CalculatorTest::prefill()
{
    QFETCH(QString, value);
    QFETCH(QString, shown);

    calculateSubnetsWindow dialog(value);
    QCOMPARE(addressField(&dialog)->text(), shown);
    // The mask list ignores the prefix of the value.
    QCOMPARE(maskBox(&dialog)->currentText(), QStringLiteral("255.255.255.255 /32"));
}

void CalculatorTest::calculatesTypedInput_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("/24 three rows down") << "192.168.1.10" << 24 << "255.255.255.000 /24"
                                         << QStringList { "192.168.1.0/24", "192.168.1.0", "256", "254",
                                                "192.168.1.255", "192.168.1.1 - 192.168.1.254" };
    QTest::newRow("/0 at the bottom of the list") << "1.2.3.4" << 0 << "000.000.000.000 /0"
                                                  << QStringList { "0.0.0.0/0", "0.0.0.0", "4294967296", "4294967294",
                                                         "255.255.255.255", "0.0.0.1 - 255.255.255.254" };
    QTest::newRow("/32 untouched mask") << "10.20.30.40" << 32 << "255.255.255.255 /32"
                                        << QStringList { "10.20.30.40/32", "10.20.30.40", "1", "0", "10.20.30.40",
                                               noHosts };
}

void CalculatorTest::calculatesTypedInput()
{
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, mask);
    QFETCH(QStringList, expected);

    ModalAnswerer answerer;
    calculateSubnetsWindow dialog(std::nullopt);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    typeAddress(&dialog, address);
    pickMask(&dialog, prefix);
    QCOMPARE(maskBox(&dialog)->currentText(), mask);
    calculate(&dialog);

    QCOMPARE(results(&dialog), expected);
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.unexpected, QStringList());
}

void CalculatorTest::secondCalculationReplacesAll()
{
    ModalAnswerer answerer;
    calculateSubnetsWindow dialog(std::nullopt);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    typeAddress(&dialog, QStringLiteral("192.168.1.10"));
    pickMask(&dialog, 24);
    calculate(&dialog);
    QCOMPARE(results(&dialog).at(0), QStringLiteral("192.168.1.0/24"));

    typeAddress(&dialog, QStringLiteral("10.0.0.7"));
    pickMask(&dialog, 31);
    QTest::keyClick(addressField(&dialog), Qt::Key_Return);

    QCOMPARE(results(&dialog), (QStringList { "10.0.0.6/31", "10.0.0.6", "2", "0", "10.0.0.7", noHosts }));
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.unexpected, QStringList());
}

void CalculatorTest::refusesUnreadableAddress_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("typed"); // a null text keeps the pre-filled one
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("emptied after a result") << QString() << "" << 24 << "/24" + refusalTail;
    QTest::newRow("partial after a result") << QString() << "10.0.0" << 24 << "10.0.0/24" + refusalTail;
    QTest::newRow("trailing dot after a result") << QString() << "10.0.0." << 16 << "10.0.0./16" + refusalTail;
    QTest::newRow("25 and a blank after a result") << QString() << "1.2.3.25 " << 30 << "1.2.3.25 /30" + refusalTail;
    QTest::newRow("pre-filled text of a broken row") << "10.1.0/16" << QString() << 32 << "10.1.0/32" + refusalTail;
    QTest::newRow("nothing to pre-fill") << QString() << QString() << 32 << "/32" + refusalTail;
}

void CalculatorTest::refusesUnreadableAddress()
{
    QFETCH(QString, value);
    QFETCH(QString, typed);
    QFETCH(int, prefix);
    QFETCH(QString, refusal);

    ModalAnswerer answerer;
    calculateSubnetsWindow dialog(value.isNull() ? std::nullopt : std::optional<QString>(value));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (!typed.isNull()) {
        typeAddress(&dialog, QStringLiteral("192.168.1.10"));
        calculate(&dialog);
        QCOMPARE(results(&dialog).at(5), noHosts);
        typeAddress(&dialog, typed);
        QCOMPARE(addressField(&dialog)->text(), typed);
    }
    pickMask(&dialog, prefix);
    answerer.thenBox(QMessageBox::Ok);
    calculate(&dialog);

    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Critical);
    QCOMPARE(answerer.boxes.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(answerer.boxes.at(0).text, refusal);
    QCOMPARE(results(&dialog), noResults());
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.unexpected, QStringList());
}

void CalculatorTest::validator_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("kept");

    QTest::newRow("letter refused") << "10a"
                                    << "10";
    QTest::newRow("fourth dot refused") << "1.2.3.4."
                                        << "1.2.3.4";
    QTest::newRow("octet above 255 refused") << "10.256"
                                             << "10.25";
    QTest::newRow("leading zero then digit refused") << "10.01"
                                                     << "10.0";
    QTest::newRow("partial text kept") << "192.168."
                                       << "192.168.";
    QTest::newRow("blank after 25 kept") << "1.2.3.25 "
                                         << "1.2.3.25 ";
    QTest::newRow("blank after other octet refused") << "1.2.3.4 "
                                                     << "1.2.3.4";
    QTest::newRow("slash refused") << "1.2.3.4/"
                                   << "1.2.3.4";
}

void CalculatorTest::validator()
{
    QFETCH(QString, keys);
    QFETCH(QString, kept);

    calculateSubnetsWindow dialog(std::nullopt);
    QTest::keyClicks(addressField(&dialog), keys);
    QCOMPARE(addressField(&dialog)->text(), kept);
}

void CalculatorTest::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close button") << "close";
}

void CalculatorTest::closes()
{
    QFETCH(QString, how);

    calculateSubnetsWindow dialog(QStringLiteral("10.1.0.0/16"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (how == "cancel")
        QTest::mouseClick(dialogButton(&dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
    else if (how == "escape")
        QTest::keyClick(addressField(&dialog), Qt::Key_Escape);
    else
        dialog.close();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void CalculatorTest::seed(const QStringList& subnets)
{
    {
        DB schema;
    } // creates the tables the probe writes into
    DbProbe probe(dataDir->dbPath());
    QVariant parentId;
    QVariant parentSubnet;
    for (const QString& subnet : subnets) {
        QVERIFY(probe.exec(QStringLiteral("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) "
                                          "VALUES (?, ?, ?, ?)"),
            { QStringLiteral("Филиал ") + subnet, subnet, parentId, parentSubnet }));
        parentId = probe.rows(QStringLiteral("SELECT id FROM subnets WHERE subnet = ?"), { subnet }).value(0).value(0);
        parentSubnet = subnet;
    }
}

void CalculatorTest::makeCurrent(ZarvinWindow& window, const QString& subnet)
{
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("tree"));
    QAbstractItemModel* model = tree->model();
    const QModelIndexList hits
        = model->match(model->index(0, 1), Qt::DisplayRole, subnet, 1, Qt::MatchExactly | Qt::MatchRecursive);
    QCOMPARE(hits.size(), 1);
    const QModelIndex name = hits.at(0).sibling(hits.at(0).row(), 0);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(name).center());
    QCOMPARE(tree->currentIndex().sibling(name.row(), 1).data().toString(), subnet);
}

// What the calculator showed while it was open.
struct Seen {
    QString title;
    QSize size;
    QSize minimum;
    QSize maximum;
    Qt::WindowFlags flags;
    QString address;
    QString mask;
    QStringList results;
    bool openAfterCalculation = false;
};

void CalculatorTest::openedFromContextMenu()
{
    seed({ QStringLiteral("172.16.0.0/16"), QStringLiteral("172.16.5.0/24") });
    ZarvinWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    makeCurrent(window, QStringLiteral("172.16.5.0/24"));

    ModalAnswerer answerer;
    bool entryEnabled = false;
    answerer.then([&](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        QAction* entry = nullptr;
        for (QAction* a : menu ? menu->actions() : QList<QAction*>())
            if (a->text() == QStringLiteral("Калькулятор подсети"))
                entry = a;
        if (!entry) {
            w->close();
            return;
        }
        entryEnabled = entry->isEnabled();
        const QPoint at = menu->actionGeometry(entry).center();
        // The click runs the calculator's own modal loop: leave this handler first.
        QTimer::singleShot(0, menu, [menu, at] { QTest::mouseClick(menu, Qt::LeftButton, {}, at); });
    });
    Seen seen;
    answerer.then([&](QWidget* w) {
        seen = { w->windowTitle(), w->size(), w->minimumSize(), w->maximumSize(), w->windowFlags(),
            addressField(w)->text(), QString(), {}, false };
        typeAddress(w, QStringLiteral("172.16.5.4"));
        pickMask(w, 30);
        seen.mask = maskBox(w)->currentText();
        calculate(w);
        seen.results = results(w);
        seen.openAfterCalculation = w->isVisible();
        QTest::mouseClick(dialogButton(w, QDialogButtonBox::Cancel), Qt::LeftButton);
    });

    auto* tree = window.findChild<QTreeView*>(QStringLiteral("tree"));
    const QPoint at = tree->visualRect(tree->currentIndex()).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &event);

    QCOMPARE(answerer.pending(), 0);
    QCOMPARE(answerer.unexpected, QStringList());
    QVERIFY(entryEnabled);
    QCOMPARE(seen.title, QStringLiteral("Калькулятор подсети"));
    QCOMPARE(seen.address, QStringLiteral("172.16.5.0"));
    QCOMPARE(seen.size, QSize(480, 280));
    QCOMPARE(seen.minimum, QSize(480, 280));
    QCOMPARE(seen.maximum, QSize(480, 280));
    QVERIFY(seen.flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(seen.flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!(
        seen.flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));
    QCOMPARE(seen.mask, QStringLiteral("255.255.255.252 /30"));
    QCOMPARE(seen.results,
        (QStringList { "172.16.5.4/30", "172.16.5.4", "4", "2", "172.16.5.7", "172.16.5.5 - 172.16.5.6" }));
    QVERIFY(seen.openAfterCalculation);
    QVERIFY(!QApplication::activeModalWidget());
}

void CalculatorTest::openedFromAction_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("atOnce"); // results of "Рассчитать" pressed at once; empty: not pressed

    QTest::newRow("current row 10.1.0.0/16")
        << QStringList { "10.1.0.0/16" } << "10.1.0.0"
        << QStringList { "10.1.0.0/32", "10.1.0.0", "1", "0", "10.1.0.0", noHosts };
    QTest::newRow("no row") << QStringList() << "" << QStringList();
}

void CalculatorTest::openedFromAction()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, address);
    QFETCH(QStringList, atOnce);

    seed(rows);
    ZarvinWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (!rows.isEmpty())
        makeCurrent(window, rows.last());

    ModalAnswerer answerer;
    Seen seen;
    answerer.then([&](QWidget* w) {
        seen.address = addressField(w)->text();
        seen.mask = maskBox(w)->currentText();
        if (!atOnce.isEmpty())
            calculate(w);
        seen.results = results(w);
        QTest::keyClick(addressField(w), Qt::Key_Escape);
    });
    auto* action = window.findChild<QAction*>(QStringLiteral("calculate"));
    QVERIFY(action && action->isEnabled());
    action->trigger();

    QCOMPARE(answerer.pending(), 0);
    QCOMPARE(answerer.unexpected, QStringList());
    QCOMPARE(seen.address, address);
    QCOMPARE(seen.mask, QStringLiteral("255.255.255.255 /32"));
    QCOMPARE(seen.results, atOnce.isEmpty() ? noResults() : atOnce);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(CalculatorTest)
#include "test_calculator.moc"
