#include "calc/calculateSubnetsWindow.h"
#include "db/DB.h"
#include "tests/support/modelText.h"
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
#include <QPushButton>
#include <QTest>
#include <QTreeView>

namespace {

const QString noHosts = QStringLiteral("В подсети нет адресов для хостов");
const QString refusalTail = QStringLiteral(" - это не подсеть и не IP-адрес!");

QLineEdit* field(QWidget* w)
{
    return w->findChild<QLineEdit*>(QStringLiteral("second"));
}
QStringList results(QWidget* w)
{
    QStringList texts;
    for (int i = 7; i <= 12; ++i)
        texts << w->findChild<QLabel*>(QStringLiteral("label%1").arg(i))->text();
    return texts;
}
QComboBox* masks(QWidget* w)
{
    return w->findChild<QComboBox*>(QStringLiteral("masks"));
}
// Types the address over the field's text and walks the mask list down to the prefix, as a user would.
void enter(QWidget* w, const QString& address, int prefix)
{
    QTest::keyClick(field(w), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field(w), Qt::Key_Backspace);
    QTest::keyClicks(field(w), address);
    QTest::keyClick(masks(w), Qt::Key_Home);
    for (int i = 0; i < 32 - prefix; ++i) // the item for prefix p sits 32 - p rows below the top
        QTest::keyClick(masks(w), Qt::Key_Down);
}

} // namespace

class CalculatorTest : public QObject {
    Q_OBJECT
private slots:
    void calculates_data();
    void calculates();
    void fromBranchContextMenu();
};

void CalculatorTest::calculates_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QStringList>("shown"); // the six results
    QTest::addColumn<QString>("refusal"); // the box, if any
    const QStringList cleared { "", "", "", "", "", "" };

    QTest::newRow("/24 drops the host bits")
        << "192.168.1.10" << 24
        << QStringList { "192.168.1.0/24", "192.168.1.0", "256", "254", "192.168.1.255", "192.168.1.1 - 192.168.1.254" }
        << QString();
    QTest::newRow("/31 pair has no hosts")
        << "10.0.0.7" << 31 << QStringList { "10.0.0.6/31", "10.0.0.6", "2", "0", "10.0.0.7", noHosts } << QString();
    QTest::newRow("/0 counts past 32 bits") << "1.2.3.4" << 0
                                            << QStringList { "0.0.0.0/0", "0.0.0.0", "4294967296", "4294967294",
                                                   "255.255.255.255", "0.0.0.1 - 255.255.255.254" }
                                            << QString();
    QTest::newRow("/32 at the top holds one")
        << "255.255.255.255" << 32
        << QStringList { "255.255.255.255/32", "255.255.255.255", "1", "0", "255.255.255.255", noHosts } << QString();
    QTest::newRow("25 and a blank refused")
        << "1.2.3.25 " << 30 << cleared << "Critical Ошибка: 1.2.3.25 /30" + refusalTail;
}

// A first result is on show; Enter then calculates the row's input, which replaces or clears all six.
void CalculatorTest::calculates()
{
    QFETCH(QString, typed);
    QFETCH(int, prefix);
    QFETCH(QStringList, shown);
    QFETCH(QString, refusal);

    ModalAnswerer answerer;
    calculateSubnetsWindow dialog(std::nullopt);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    enter(&dialog, QStringLiteral("100.64.0.1"), 16);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "calculateSabnet")); // by the slot's own name
    QCOMPARE(results(&dialog).at(2), QStringLiteral("65536")); // differs from every row in all six
    enter(&dialog, typed, prefix);
    if (!refusal.isEmpty())
        answerer.thenBox(QMessageBox::Ok);
    QTest::keyClick(field(&dialog), Qt::Key_Return);

    QCOMPARE(results(&dialog), shown);
    QCOMPARE(boxTexts(answerer), refusal.isEmpty() ? QStringList() : QStringList { refusal });
    QVERIFY(dialog.isVisible());
    QCOMPARE(answerer.unexpected, QStringList());
}

// With no row the calculator opens empty. A user calculates a /30 from a branch's context menu:
// the dialog opens with the branch's address, and stays open on the result.
void CalculatorTest::fromBranchContextMenu()
{
    TempDataDir dataDir;
    ModalAnswerer answerer;
    QStringList seen { QStringLiteral("not opened") };
    ZarvinWindow window;
    answerer.then([&](QWidget* w) {
        seen = QStringList { field(w)->text() };
        QTest::keyClick(field(w), Qt::Key_Escape);
    });
    auto* calculate = window.findChild<QAction*>(QStringLiteral("calculate"));
    QVERIFY(calculate->isEnabled()); // trigger() would run a disabled action too
    calculate->trigger();
    QVERIFY(DB().run(QStringLiteral("INSERT INTO subnets (name, subnet) VALUES ('Филиал', '10.1.0.0/16')")).ok());
    window.load_data();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* tree = window.findChild<QTreeView*>(QStringLiteral("tree"));
    const QPoint at = tree->visualRect(tree->model()->index(0, 0)).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);

    thenMenuEntry(answerer, QStringLiteral("Калькулятор подсети"));
    QVector<QSize> sizes;
    Qt::WindowFlags flags;
    QStringList captions; // the label column, then the calculate button
    answerer.then([&](QWidget* w) {
        auto* form = w->findChild<QFormLayout*>();
        for (int row = 0; row < form->rowCount(); ++row)
            if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole))
                captions << qobject_cast<QLabel*>(item->widget())->text();
        captions << w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->text();
        seen << w->windowTitle() << field(w)->text() << masks(w)->currentText();
        sizes = { w->size(), w->minimumSize(), w->maximumSize() };
        flags = w->windowFlags();
        enter(w, QStringLiteral("172.16.5.4"), 30);
        clickDialogButton(w);
        seen << masks(w)->currentText() << results(w) << (w->isVisible() ? "open" : "closed");
        clickDialogButton(w, QDialogButtonBox::Cancel);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &event);

    QCOMPARE(answerer.problems(), QString());
    QCOMPARE(seen,
        (QStringList { "", "Калькулятор подсети", "10.1.0.0", "255.255.255.255 /32", "255.255.255.252 /30",
            "172.16.5.4/30", "172.16.5.4", "4", "2", "172.16.5.7", "172.16.5.5 - 172.16.5.6", "open" }));
    QCOMPARE(captions,
        (QStringList { "Подсеть: ", "Маска подсети: ", "Подсеть: ", "Начало подсети: ", "Количество адресов в подсети:",
            "Количество адресов для хостов: ", "Широковещательный адрес: ", "Диапазон адресов для хостов: ",
            "Рассчитать" }));
    QCOMPARE(sizes, QVector<QSize>(3, QSize(480, 280))); // shown, least and most
    // Qt adds the title and the system menu that a close button needs; no other button.
    QCOMPARE(int(flags),
        int(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint
            | Qt::WindowSystemMenuHint));
}

QTEST_MAIN(CalculatorTest)
#include "test_calculator.moc"
