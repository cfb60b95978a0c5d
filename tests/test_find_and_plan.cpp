#include "db/DB.h"
#include "db/changeWatcher.h"
#include "hosts/hostTable.h"
#include "hosts/hostsWindow.h"
#include "tests/support/modelText.h"
#include "tests/support/pgServer.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/addSubnetsWindow.h"
#include "tree/subnetTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

class TestFindAndPlan : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void findAnAddressAndAText();
    void searchFailureIsShown();
    void changeLogWindowFilters();
    void statusBarSaysHowFull();
    void othersChangesShownLive();
    void freeSpaceWindow();
    void suggest_data();
    void suggest();
    void freeAddress_data();
    void freeAddress();

private:
    ZarvinWindow* openMain();
    QTreeView* tree() { return main->findChild<QTreeView*>("tree"); }
    QModelIndex rowOf(const QString& name);

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<DbProbe> probe;
    std::unique_ptr<ModalAnswerer> answers;
    std::unique_ptr<ZarvinWindow> main;
};

void TestFindAndPlan::init()
{
    probe.reset();
    dir = nullptr;
    dir = std::make_unique<TempDataDir>();
    DB {};
    probe = std::make_unique<DbProbe>(dir->dbPath());
    answers = std::make_unique<ModalAnswerer>();
    probe->addSubnets({ { 1, "Организация", "10.0.0.0/8", QVariant(), QVariant() },
        { 2, "Офис", "10.1.0.0/16", 1, "10.0.0.0/8" }, { 3, "Склад", "10.1.2.0/24", 2, "10.1.0.0/16" } });
    probe->addHosts({ { "10.1.2.0/24", "10.1.2.37", "склад, стеллаж 3" }, { "10.1.2.0/24", "10.1.2.38", "Принтер" },
        { "10.1.0.0/16", "10.1.0.5", "шлюз" } });
}

void TestFindAndPlan::cleanup()
{
    for (hostsWindow* w : visibleWindows<hostsWindow>())
        delete w;
    main.reset();
    const QString problems = answers->problems();
    answers.reset();
    QVERIFY2(problems.isEmpty(), qPrintable(problems));
}

ZarvinWindow* TestFindAndPlan::openMain()
{
    main = std::make_unique<ZarvinWindow>();
    main->show();
    main->activateWindow();
    if (!QTest::qWaitForWindowActive(main.get()))
        qWarning("main window did not become active");
    return main.get();
}

QModelIndex TestFindAndPlan::rowOf(const QString& name)
{
    const QModelIndexList found
        = tree()->model()->match(tree()->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchRecursive);
    return found.value(0);
}

void TestFindAndPlan::findAnAddressAndAText()
{
    openMain();
    QTest::keyClick(tree(), Qt::Key_F, Qt::ControlModifier);
    QWidget* finder = main->findChild<QWidget*>("findWindow");
    QVERIFY(finder && finder->isVisible());
    auto* text = finder->findChild<QLineEdit*>("findText");
    auto* results = finder->findChild<QTreeView*>("findResults");

    typeText(text, "10.1.2.99");
    QTRY_COMPARE(columnTexts(results->model(), 1), QStringList { "не записан; входит в 10.1.2.0/24 «Склад»" });
    retype(text, "склад");
    QTRY_COMPARE(columnTexts(results->model(), 0), QStringList({ "10.1.2.0/24", "10.1.2.37" }));
    QCOMPARE(finder->findChild<QLabel*>("findSummary")->text(), QString("Найдено: 2"));

    doubleClickCell(results, results->model()->index(1, 0));
    QTRY_COMPARE(visibleWindows<hostsWindow>().size(), 1);
    hostsWindow* hosts = visibleWindows<hostsWindow>().first();
    QCOMPARE(hosts->subnet(), QString("10.1.2.0/24"));
    auto* table = hosts->findChild<QTableView*>("tableView");
    QCOMPARE(columnTexts(table->model(), 0), QStringList({ "10.1.2.37", "10.1.2.38" }));
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().data().toString(), QString("10.1.2.37"));
    QCOMPARE(main->currentSubnet(), std::optional<QString>("10.1.2.0/24"));
    QCOMPARE(main->firstSelectedSubnet(), std::optional<QString>("10.1.2.0/24"));

    // A row result shows its row and opens nothing; Enter activates as a double click does.
    retype(text, "10.1.0.0/16");
    QTRY_COMPARE(columnTexts(results->model(), 0), QStringList({ "10.0.0.0/8", "10.1.0.0/16", "10.1.2.0/24" }));
    results->setFocus();
    results->setCurrentIndex(results->model()->index(0, 2));
    QTest::keyClick(results, Qt::Key_Return);
    QCOMPARE(main->currentSubnet(), std::optional<QString>("10.0.0.0/8"));
    QCOMPARE(visibleWindows<hostsWindow>().size(), 1);
}

void TestFindAndPlan::searchFailureIsShown()
{
    openMain();
    main->openFind();
    QWidget* finder = main->findChild<QWidget*>("findWindow");
    probe->exec("DROP TABLE hosts");
    answers->thenBox();
    typeText(finder->findChild<QLineEdit*>("findText"), "принтер");
    QTRY_COMPARE(answers->boxes.size(), 1);
    QCOMPARE(answers->boxes.first().title, QString("Ошибка"));
    QVERIFY2(answers->boxes.first().text.contains("hosts"), qPrintable(answers->boxes.first().text));
}

// The log's lines, newest first, one per command; the text filter (any case) and the branch.
void TestFindAndPlan::changeLogWindowFilters()
{
    {
        DB db;
        QVERIFY(hostTable::saveRows(db, "10.1.2.0/24",
            { { "10.1.2.38", "МФУ", true }, { "10.1.2.40", "", false }, { "10.1.2.41", "касса", false } })
                    .ok());
        QVERIFY(subnetTable::renameStored(db, "Офис Центр", "10.1.0.0/16").ok());
        QVERIFY(hostTable::deleteHosts(db, { "10.1.0.5" }).ok());
    }
    openMain();
    tree()->setCurrentIndex(rowOf("Склад"));
    main->findChild<QAction*>("changeLog")->trigger();
    QWidget* changes = main->findChild<QWidget*>("changesWindow");
    QVERIFY(changes && changes->isVisible());
    auto* table = changes->findChild<QTableView*>("changesTable");
    auto* text = changes->findChild<QLineEdit*>("changesFilter");
    const QStringList all { "Удален хост", "Переименована строка", "Добавлено хостов: 2, изменено примечаний: 1" };
    QCOMPARE(columnTexts(table->model(), 2), all);
    typeText(text, "10.1.0.5");
    QTRY_COMPARE(columnTexts(table->model(), 2), QStringList { "Удален хост" });
    QCOMPARE(columnTexts(table->model(), 6), QStringList { "шлюз" });
    retype(text, "ОФИС центр");
    QTRY_COMPARE(columnTexts(table->model(), 2), all.mid(0, 2)); // the host was deleted from the renamed row
    retype(text, "мфу");
    QTRY_COMPARE(columnTexts(table->model(), 2), QStringList { "Изменено примечание" });
    retype(text, "%"); // a character, not a wildcard
    QTRY_COMPARE(columnTexts(table->model(), 2), QStringList {});
    retype(text, "");
    QTRY_COMPARE(columnTexts(table->model(), 2), all);
    changes->findChild<QCheckBox*>("changesBranchOnly")->click();
    QCOMPARE(columnTexts(table->model(), 2), QStringList { all.last() });
    QCOMPARE(columnTexts(table->model(), 3), QStringList { "10.1.2.0/24" });
    // Another user's command comes into the open log by itself.
    DB other;
    QVERIFY(hostTable::deleteHosts(other, { "10.1.2.41" }).ok());
    QTRY_COMPARE_WITH_TIMEOUT(columnTexts(table->model(), 2), QStringList({ "Удален хост", all.last() }), 2000);
}

void TestFindAndPlan::statusBarSaysHowFull()
{
    openMain();
    auto* status = main->findChild<QLabel*>("rowStatus");
    // How full the row is; the scan history's part that follows it is tested with the history.
    const auto usage = [status] { return status->text().section(QStringLiteral(" · Подсеть "), 0, 0); };
    const QString office = "Хостов: 1 из 65534 (0,0 %) · занято филиалами: 1 × /24, 0,4 %";
    clickCell(tree(), rowOf("Офис"));
    QCOMPARE(usage(), office);
    QCOMPARE(rowOf("Офис").siblingAtColumn(1).data(Qt::ToolTipRole).toString(), office);
    QTest::keyClick(tree(), Qt::Key_Down);
    QCOMPARE(usage(), QString("Хостов: 2 из 254 (0,8 %)"));
    // Hosts saved elsewhere count once the user comes back to the main window.
    QLineEdit other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.2.0/24', '10.1.2.1', '')");
    main->activateWindow();
    QTRY_COMPARE(usage(), QString("Хостов: 3 из 254 (1,2 %)"));
    main->load_data(); // no current row after a reload
    QCOMPARE(status->text(), QString());
}

// Changes made on a connection of another program come to the open windows without any action,
// within 2 s: the tree keeps what the user made of it, a hosts window with unsaved edits only
// says so, and one whose subnet went stays open and saves nothing.
void TestFindAndPlan::othersChangesShownLive()
{
    openMain();
    main->showFound("10.1.2.0/24", "10.1.2.37");
    QTRY_COMPARE(visibleWindows<hostsWindow>().size(), 1);
    hostsWindow* hosts = visibleWindows<hostsWindow>().first();
    auto* table = hosts->findChild<QTableView*>("tableView");
    clickCell(tree(), rowOf("Склад"));
    tree()->collapse(rowOf("Офис"));
    auto* status = main->findChild<QLabel*>("rowStatus");
    QVERIFY(probe->exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('Цех', '10.2.0.0/16', "
                        "1, '10.0.0.0/8')"));
    QVERIFY(probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.2.0/24', '10.1.2.40', 'новый'), "
                        "('10.1.0.0/16', '10.1.0.6', '')"));
    QTRY_VERIFY_WITH_TIMEOUT(rowOf("Цех").isValid(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(
        columnTexts(table->model()), QStringList({ "10.1.2.37", "10.1.2.38", "10.1.2.40" }), 2000);
    QCOMPARE(table->selectionModel()->selectedRows().value(0).data().toString(), QString("10.1.2.37"));
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith("Хостов: 3 из 254"), 2000);
    QVERIFY(!tree()->isExpanded(rowOf("Офис")) && tree()->isExpanded(rowOf("Организация")));
    QCOMPARE(main->firstSelectedSubnet(), std::optional<QString>("10.1.2.0/24"));
    QCOMPARE(main->currentSubnet(), std::optional<QString>("10.1.2.0/24"));

    auto* changed = hosts->findChild<QWidget*>("changedElsewhereBar");
    QVERIFY(typeIntoCell(table, 1, 1, "у окна"));
    QVERIFY(probe->exec("UPDATE hosts SET note = 'сменили' WHERE host = '10.1.2.38'"));
    QTRY_VERIFY_WITH_TIMEOUT(changed->isVisible(), 2000);
    QCOMPARE(table->model()->index(1, 1).data().toString(), QString("у окна"));
    clickButton(hosts, "refreshHosts");
    QCOMPARE(table->model()->index(1, 1).data().toString(), QString("сменили"));
    QVERIFY(!changed->isVisible());
    // Its own save is no change by another user, an empty row left unsaved or not.
    QSignalSpy told(ChangeWatcher::ofConfiguredDatabase().get(), &ChangeWatcher::changed);
    clickButton(hosts, "pbAddRow");
    QVERIFY(typeIntoCell(table, 2, 1, "свой"));
    answers->thenBox();
    answers->thenBox();
    clickButton(hosts, "pbSave");
    QTRY_VERIFY_WITH_TIMEOUT(told.count() > 0, 2000);
    QVERIFY(!changed->isVisible());
    // Another user's host is not brought in by a save here while a row stays unsaved: the bar stays.
    QVERIFY(probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.2.0/24', '10.1.2.41', '')"));
    QTRY_VERIFY_WITH_TIMEOUT(changed->isVisible(), 2000);
    answers->thenBox();
    answers->thenBox();
    clickButton(hosts, "pbSave");
    QVERIFY(changed->isVisible());
    // Under a dialog the tree stays as it is; the change comes once the dialog is closed.
    bool keptUnderDialog = false;
    answers->then([&](QWidget* dialog) {
        told.clear();
        keptUnderDialog = probe->exec("UPDATE subnets SET name = 'Депо' WHERE name = 'Цех'") && told.wait(2000)
            && rowOf("Цех").isValid();
        clickDialogButton(dialog, QDialogButtonBox::Cancel);
    });
    main->addSubnet();
    QVERIFY(keptUnderDialog);
    QTRY_VERIFY_WITH_TIMEOUT(rowOf("Депо").isValid(), 2000);

    auto* deleted = hosts->findChild<QWidget*>("subnetDeletedBar");
    QVERIFY(!deleted->isVisible());
    QVERIFY(probe->exec("DELETE FROM subnets WHERE subnet = '10.1.2.0/24'"));
    QTRY_VERIFY_WITH_TIMEOUT(deleted->isVisible(), 2000);
    QCOMPARE(columnTexts(table->model()), QStringList({ "10.1.2.37", "10.1.2.38", "10.1.2.40", "" }));
    QVERIFY(typeIntoCell(table, 0, 1, "после удаления"));
    for (int box = 0; box < 3; ++box) // the save's notice, the empty row, the refusal
        answers->thenBox();
    clickButton(hosts, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QVERIFY2(
        answers->boxes.last().text.contains("Подсеть 10.1.2.0/24 удалена"), qPrintable(answers->boxes.last().text));
    QCOMPARE(probe->lines("SELECT note FROM hosts WHERE host = '10.1.2.37'"), QStringList("склад, стеллаж 3"));
    // A server that was gone: its listeners connect again within a few seconds.
    if (!probe->isServer())
        return;
    probe.reset();
    QVERIFY(pgServer::stop() && pgServer::start());
    probe = std::make_unique<DbProbe>(dir->dbPath());
    QVERIFY(probe->exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('Гараж', '10.3.0.0/16', "
                        "1, '10.0.0.0/8')"));
    QTRY_VERIFY_WITH_TIMEOUT(rowOf("Гараж").isValid(), 5000);
}

void TestFindAndPlan::freeSpaceWindow()
{
    openMain();
    clickCell(tree(), rowOf("Офис"));
    QMenu* menu = main->buildContextMenu();
    QAction* entry = menu->actions().last();
    QCOMPARE(entry->text(), QString("Свободные подсети…"));
    entry->trigger();
    QWidget* window = main->findChild<QWidget*>("freeSpaceWindow");
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QString("Свободные подсети 10.1.0.0/16"));
    auto* list = window->findChild<QTreeWidget*>("freeBlocks");
    QCOMPARE(rowTexts(list->model(), " "),
        QStringList({ "10.1.128.0/17 32768", "10.1.64.0/18 16384", "10.1.32.0/19 8192", "10.1.16.0/20 4096",
            "10.1.8.0/21 2048", "10.1.4.0/22 1024", "10.1.0.0/23 512", "10.1.3.0/24 256" }));
}

// The parent is the organisation 10.0.0.0/8 with `branches`: the address offered in the field, or a
// warning and the field keeps what was typed.
void TestFindAndPlan::suggest_data()
{
    QTest::addColumn<QStringList>("branches");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QString>("warning");
    QTest::newRow("gap between branches")
        << QStringList { "10.0.2.0/24", "10.0.0.0/24" } << 24 << "10.0.1.0" << QString();
    QTest::newRow("parent's own network")
        << QStringList() << 8 << QString() << "В подсети 10.0.0.0/8 нет свободной подсети с маской /8";
}

void TestFindAndPlan::suggest()
{
    QFETCH(QStringList, branches);
    QFETCH(int, prefix);
    QFETCH(QString, offered);
    QFETCH(QString, warning);
    probe->exec("DELETE FROM subnets WHERE id > 1");
    for (const QString& b : branches)
        probe->exec(
            "INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('B', ?, 1, '10.0.0.0/8')", { b });
    QVERIFY(!addSubnetsWindow(std::nullopt).findChild<QPushButton*>("pbSuggest")->isEnabled());
    addSubnetsWindow dialog(QString("10.0.0.0/8"));
    dialog.show();
    QTest::keyClicks(dialog.addressEdit, "10.9.9.9");
    for (int p = 32; p > prefix; --p)
        QTest::keyClick(dialog.maskBox, Qt::Key_Down);
    if (!warning.isNull())
        answers->thenBox();
    clickButton(&dialog, "pbSuggest");
    QCOMPARE(dialog.addressEdit->text(), warning.isNull() ? offered : QString("10.9.9.9"));
    if (!warning.isNull()) {
        QCOMPARE(answers->boxes.value(0).icon, QMessageBox::Warning);
        QCOMPARE(answers->boxes.value(0).text, warning);
        return;
    }
    // What it offers passes the dialog's own rules.
    const auto added = dialog.add(QString("10.0.0.0/8"));
    QVERIFY(added.ok());
    QCOMPARE(added.value.value(1), offered + "/" + QString::number(prefix));
}

// Clicks of "Свободный адрес" in the window of `subnet`, after `typed` was typed into a row: the
// address of each row appended, then, when none is left, one more click and the warning.
void TestFindAndPlan::freeAddress_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QString>("warning");
    // Taken besides: 10.1.0.1 and 10.1.0.5 stored for the /16, 10.1.0.3 stored for another subnet.
    QTest::newRow("/16 skips every list and the table")
        << "10.1.0.0/16"
        << "10.1.0.2" << QStringList { "10.1.0.4", "10.1.0.6" } << QString();
    QTest::newRow("/30 then none") << "10.1.0.4/30"
                                   << "" << QStringList { "10.1.0.6" }
                                   << "В подсети 10.1.0.4/30 не осталось свободных адресов";
}

void TestFindAndPlan::freeAddress()
{
    QFETCH(QString, subnet);
    QFETCH(QString, typed);
    QFETCH(QStringList, appended);
    QFETCH(QString, warning);
    QVERIFY(probe->addHosts({ { "10.1.0.0/16", "10.1.0.1", "" }, { "10.9.0.0/16", "10.1.0.3", "" } }));
    hostsWindow window(subnet);
    window.show();
    auto* table = window.findChild<QTableView*>("tableView");
    if (!typed.isEmpty()) {
        clickButton(&window, "pbAddRow");
        QVERIFY(typeIntoCell(table, 0, 0, typed));
    }
    QStringList rows = columnTexts(table->model(), 0);
    for (const QString& address : appended) {
        clickButton(&window, "pbFreeAddress");
        rows << address;
        QCOMPARE(columnTexts(table->model(), 0), rows);
        QCOMPARE(table->selectionModel()->selectedRows().value(0).row(), rows.size() - 1);
    }
    if (warning.isNull())
        return;
    answers->thenBox();
    clickButton(&window, "pbFreeAddress");
    QCOMPARE(answers->boxes.value(0).icon, QMessageBox::Warning);
    QCOMPARE(answers->boxes.value(0).text, warning);
    QCOMPARE(columnTexts(table->model(), 0), rows);
}

QTEST_MAIN(TestFindAndPlan)
#include "test_find_and_plan.moc"
