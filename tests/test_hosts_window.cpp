#include "db/DB.h"
#include "gui/desktop.h"
#include "hosts/hostsWindow.h"
#include "tests/support/modelText.h"
#include "tests/support/readOnlyFile.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include <memory>

const QString lan = QStringLiteral("192.168.1.0/24");
const QString upper = QStringLiteral("192.168.0.0/16");
const QString scanned = QStringLiteral("127.0.0.0/29");
const QString saveNotice = QStringLiteral(
    "Warning Внимание!: Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание");
const QString mustFill = QStringLiteral("Critical Ошибка!: Ячейка IP-адреса должна быть заполнена");
const QString askAll = QStringLiteral("Question Удалить таблицу: Вы действительно хотите удалить ВСЮ таблицу?");

class TestHostsWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void typedAddressIsChecked();
    void firstSaveBesideAnotherWindow();
    void laterSaveUpdatesAndLoadShowsStored();
    void deleteAllAsksFirst();
    void deleteRows();
    void openedFromTheTree();
    void contextMenuStates();
    void saveStopsWhenDatabaseStaysLocked();
    void scanThenSaveKeepsStoredNotes();
    void staleWindowSavesOnlyItsEdits();
    void readOnlyFileRefusesTheSave();

private:
    static QTableView* tableOf(QWidget* w) { return w->findChild<QTableView*>(QStringLiteral("tableView")); }
    static void appendHostRow(QStandardItemModel* model, const QString& host, const QString& note)
    {
        model->appendRow({ new QStandardItem(host), new QStandardItem(note) });
    }
    hostsWindow* open(const QString& subnet);
    // Queues answers to the message boxes, clicks `button` and waits until they are answered.
    void press(QWidget* w, const char* button,
        std::initializer_list<QMessageBox::StandardButton> presses = { QMessageBox::Ok })
    {
        for (QMessageBox::StandardButton b : presses)
            answers->thenBox(b);
        clickButton(w, button);
        QTRY_COMPARE(answers->pending(), 0);
    }
    void seed(const QString& subnet, const QString& host, const QVariant& note)
    {
        QVERIFY(probe->addHosts({ { subnet, host, note } }));
    }
    // The lists as the first save leaves them.
    void seedFirstSave()
    {
        QVERIFY(probe->addHosts({ { upper, "192.168.1.40", "new" }, { "10.0.0.0/24", "10.0.0.11", "" },
            { lan, "192.168.1.10", "gateway" }, { lan, "192.168.1.30", "" } }));
    }
    static int rowOf(QStandardItemModel* model, const QString& address) { return columnTexts(model).indexOf(address); }

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<DbProbe> probe;
    std::unique_ptr<ModalAnswerer> answers;
    std::vector<std::unique_ptr<hostsWindow>> windows;
};

void TestHostsWindow::init()
{
    probe.reset();
    dir = nullptr; // gives the environment back before the next directory takes it
    dir = std::make_unique<TempDataDir>();
    DB {}; // the tables exist before the probe seeds them
    probe = std::make_unique<DbProbe>(dir->dbPath());
    // One organisation, as the file allows, with every window's subnet a branch of it.
    probe->exec(QStringLiteral("INSERT INTO subnets (id, subnet, name) VALUES (1, '0.0.0.0/0', 'Орг')"));
    for (const QString& subnet : { upper, lan, QStringLiteral("10.0.0.0/24"), scanned })
        probe->exec(QStringLiteral("INSERT INTO subnets (subnet, name, parent_id, parent_subnet) VALUES (?, ?, 1, "
                                   "'0.0.0.0/0')"),
            { subnet, subnet });
    answers = std::make_unique<ModalAnswerer>();
}

void TestHostsWindow::cleanup()
{
    windows.clear();
    QVERIFY2(answers->unexpected.isEmpty(), qPrintable(answers->unexpected.join(QLatin1Char('\n'))));
    QCOMPARE(answers->pending(), 0);
}

hostsWindow* TestHostsWindow::open(const QString& subnet)
{
    windows.push_back(std::make_unique<hostsWindow>(subnet));
    hostsWindow* window = windows.back().get();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        qWarning("hosts window did not become active");
    return window;
}

// The editor takes no octet above 255; a text the check cannot read is emptied silently, an address
// of another subnet with a box. The nested check of an emptied cell sets nothing.
void TestHostsWindow::typedAddressIsChecked()
{
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    QStandardItemModel* model = hostRows(w);
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    answers->thenBox();
    QStringList cells;
    for (const char* typed : { "192.168.1.256", "192.168.1.25 ", "192.168.2.10" }) {
        QVERIFY(typeIntoCell(tableOf(w), 0, 0, typed));
        cells << model->index(0, 0).data().toString();
    }
    QCOMPARE(cells, QStringList({ "192.168.1.25", "", "" }));
    QCOMPARE(changes.size(), 1 + 2 + 2); // each refused text: the edit, then the clearing
    QCOMPARE(boxTexts(*answers),
        QStringList { "Critical Ошибка!: Хост с адресом 192.168.2.10 не входит в подсеть 192.168.1.0/24" });
}

// Typed rows saved beside a window of another subnet: the empty ones refused, an address of the
// parent subnet stored under it, a scanned row without a note item stored with ''.
void TestHostsWindow::firstSaveBesideAnotherWindow()
{
    seed(upper, "192.168.1.40", "old");
    hostsWindow* w = open(lan);
    // A window of another subnet opened later keeps its own subnet, and leaves this one its own.
    hostsWindow* other = open(QStringLiteral("10.0.0.0/24"));
    clickButton(other, "pbAddRow");
    QVERIFY(typeIntoCell(tableOf(other), 0, 0, "10.0.0.11"));
    answers->thenBox();
    clickButton(other, "pbSave");
    QTableView* view = tableOf(w);
    QStandardItemModel* model = hostRows(w);
    for (int i = 0; i < 4; ++i)
        clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(view, 0, 0, "192.168.1.10"));
    QVERIFY(typeIntoCell(view, 0, 1, "gateway")); // re-checks the address, silently
    QVERIFY(typeIntoCell(view, 1, 1, "forgot the address"));
    QVERIFY(typeIntoCell(view, 2, 0, "192.168.1.40")); // stored under the parent subnet
    QVERIFY(typeIntoCell(view, 2, 1, "new"));
    // Row 3 stays empty. A scanned row has an address item only; a row may lack both.
    model->appendRow(new QStandardItem(QStringLiteral("192.168.1.30")));
    model->appendRow(QList<QStandardItem*>({ nullptr, new QStandardItem(QStringLiteral("no address item")) }));
    press(w, "pbSave", { QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok });
    QCOMPARE(
        boxTexts(*answers), QStringList({ saveNotice, saveNotice, mustFill, mustFill })); // the other window's first
    QCOMPARE(probe->rows(QStringLiteral("SELECT subnet, host, note, note IS NULL FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { upper, "192.168.1.40", "new", 0 }, { "10.0.0.0/24", "10.0.0.11", "", 0 },
            { lan, "192.168.1.10", "gateway", 0 }, { lan, "192.168.1.30", "", 0 } })); // no note item: '', not NULL
    QCOMPARE(model->rowCount(), 6); // not reloaded
}

// A second save updates in place, and of two rows with one address the later note wins; a load
// shows the stored rows unchecked, but checks every later edit, a note edit included.
void TestHostsWindow::laterSaveUpdatesAndLoadShowsStored()
{
    seedFirstSave();
    seed(lan, "10.9.9.9", QVariant()); // written by another program: outside, NULL note
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    const QStringList typed = { "192.168.1.50", "first", "192.168.1.10", "a2", "192.168.1.50", "second" };
    for (int row = 0; row < 3; ++row) {
        clickButton(w, "pbAddRow");
        for (int c = 0; c < 2; ++c)
            QVERIFY(typeIntoCell(view, row, c, typed[row * 2 + c]));
    }
    press(w, "pbSave");
    clickButton(w, "pbAddRow"); // unsaved, dropped by the load
    clickButton(w, "pbLoad");
    QStandardItemModel* model = hostRows(w);
    QCOMPARE(rowTexts(model), QStringList({ "192.168.1.10|a2", "192.168.1.30|", "10.9.9.9|", "192.168.1.50|second" }));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("IP-адрес хоста"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Примечание"));
    answers->thenBox();
    QVERIFY(typeIntoCell(view, 2, 1, "moved"));
    QCOMPARE(columnTexts(model), QStringList({ "192.168.1.10", "192.168.1.30", "", "192.168.1.50" }));
    QCOMPARE(boxTexts(*answers), // none for the loaded rows
        QStringList({ saveNotice, "Critical Ошибка!: Хост с адресом 10.9.9.9 не входит в подсеть 192.168.1.0/24" }));
}

// Asked first: No keeps the list; Yes deletes this subnet's hosts only, and the fresh model is checked too.
void TestHostsWindow::deleteAllAsksFirst()
{
    seedFirstSave();
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    QStandardItemModel* model = hostRows(w);
    press(w, "pbDeleleAll", { QMessageBox::No });
    QCOMPARE(hostRows(w), model);
    QCOMPARE(columnTexts(model), QStringList({ "192.168.1.10", "192.168.1.30" }));
    press(w, "pbDeleleAll", { QMessageBox::Yes });
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { "192.168.1.40" }, { "10.0.0.11" } }));
    QCOMPARE(hostRows(w)->rowCount(), 0);
    clickButton(w, "pbAddRow");
    answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, "10.0.0.12"));
    QCOMPARE(boxTexts(*answers),
        QStringList(
            { askAll, askAll, "Critical Ошибка!: Хост с адресом 10.0.0.12 не входит в подсеть 192.168.1.0/24" }));
}

void TestHostsWindow::deleteRows()
{
    const QStringList all = { "192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.9" };
    for (int i = 0; i < 3; ++i)
        seed(lan, all[i], "n");
    seed(upper, all[3], "elsewhere");
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    appendHostRow(hostRows(w), all[3], "typed here, stored under the parent subnet");
    press(w, "pbDeleteRows", { QMessageBox::Yes }); // nothing selected: deletes nothing, reloads
    QCOMPARE(boxTexts(*answers),
        QStringList { "Question Удалить строки: Вы действительно хотите удалить выбранные строки?" });
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 4);
    QCOMPARE(columnTexts(hostRows(w)), all.mid(0, 3));

    appendHostRow(hostRows(w), all[3], "again");
    QTableView* view = tableOf(w);
    clickCell(view, hostRows(w)->index(0, 0));
    clickCell(view, hostRows(w)->index(2, 1), Qt::ControlModifier); // a note cell selects its row
    clickCell(view, hostRows(w)->index(3, 0), Qt::ControlModifier); // goes by address, whatever its subnet
    press(w, "pbDeleteRows", { QMessageBox::Yes });
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")), QVector<QVariantList>({ { "192.168.1.2" } }));
    QCOMPARE(columnTexts(hostRows(w)), QStringList({ "192.168.1.2" }));
}

// Opened from the tree by a double click: titled with its subnet, centred, with a connection of its
// own that goes with it on close, and empty until loaded. The same subnet again: a window of its own.
void TestHostsWindow::openedFromTheTree()
{
    seed(lan, "192.168.1.10", "шлюз");
    QVERIFY(probe->exec("UPDATE subnets SET parent_id = (SELECT id FROM subnets WHERE subnet = ?), parent_subnet = ? "
                        "WHERE subnet = ?",
        { upper, upper, lan })); // a branch, not a top row
    ZarvinWindow main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* tree = main.findChild<QTreeView*>(QStringLiteral("tree"));
    const QModelIndex row
        = tree->model()->match(tree->model()->index(0, 1), Qt::DisplayRole, lan, 1, Qt::MatchRecursive).value(0);
    QVERIFY(row.parent().isValid());
    const int connections = QSqlDatabase::connectionNames().size();
    QList<QPointer<hostsWindow>> opened;
    for (int i = 0; i < 2; ++i) {
        doubleClickCell(tree, row.sibling(row.row(), 0));
        QTRY_COMPARE(visibleWindows<hostsWindow>().size(), i + 1);
        for (hostsWindow* w : visibleWindows<hostsWindow>())
            if (!opened.contains(w))
                opened << w;
    }
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections + 2);
    hostsWindow* w = opened.at(0);
    QCOMPARE(w->windowTitle(), QStringLiteral("Учет хостов для подсети 192.168.1.0/24"));
    QCOMPARE(w->pos(), centredPosition(desktopSize(), w->size(), 50));
    QCOMPARE(hostRows(w)->rowCount(), 0);
    clickButton(w, "pbLoad");
    QCOMPARE(rowTexts(hostRows(w)), QStringList { "192.168.1.10|шлюз" });
    for (hostsWindow* each : visibleWindows<hostsWindow>())
        clickButton(each, "pbClose");
    QTRY_VERIFY(!opened.at(0) && !opened.at(1)); // destroyed on close, with their connections
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections);
}

void TestHostsWindow::contextMenuStates()
{
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    QVector<QStringList> shown;
    // Right clicks at `at`, records the menu's entries and chooses "Добавить строку".
    const auto rightClick = [&](QPoint at) {
        answers->then([&](QWidget* popup) {
            auto* menu = qobject_cast<QMenu*>(popup);
            shown << menuEntries(menu);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[1]).center());
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
    };
    rightClick(QPoint(5, 5));
    clickButton(w, "pbAddRow");
    rightClick(QPoint(5, view->viewport()->height() - 5)); // below the rows
    clickCell(view, hostRows(w)->index(1, 0));
    rightClick(view->visualRect(hostRows(w)->index(1, 0)).center());
    const auto entries = [](const QString& save, const QString& deleteRow) {
        return QStringList { save, "Добавить строку", "---", "Загрузить из БД", "Сканировать подсеть", "---", deleteRow,
            "Удалить все хосты", "---", "Закрыть" };
    };
    QCOMPARE(shown,
        QVector<QStringList>({ entries("Сохранить [off]", "Удалить  строку [off]"),
            entries("Сохранить", "Удалить  строку [off]"), entries("Сохранить", "Удалить  строку") }));
    QCOMPARE(hostRows(w)->rowCount(), 4);
}

// Another program holds the write lock for the whole busy time-out: the save stores nothing, not
// the rows before the one that met the lock, and says so.
void TestHostsWindow::saveStopsWhenDatabaseStaysLocked()
{
    ShortBusyTimeout shortWait;
    hostsWindow* w = open(lan);
    QStandardItemModel* model = hostRows(w);
    for (const char* host : { "192.168.1.10", "", "192.168.1.20", "" })
        appendHostRow(model, host, *host ? "before" : "");
    answers->thenBox();
    answers->then([this](QWidget* box) {
        probe->exec(QStringLiteral("BEGIN IMMEDIATE"));
        pressBoxButton(qobject_cast<QMessageBox*>(box), QMessageBox::Ok);
    });
    answers->thenBox();
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE_WITH_TIMEOUT(answers->pending(), 0, 20000);
    probe->exec(QStringLiteral("ROLLBACK"));
    QCOMPARE(boxTexts(*answers).mid(1), // the first of the two empty rows answered by the lock's taker
        QStringList({ mustFill,
            "Critical Ошибка: Хосты не сохранены, база данных не изменилась.\nБазу данных занимает другая программа "
            "или другое окно, попробуйте ещё раз.\ndatabase is locked Unable to fetch row" }));
    QCOMPARE(probe->rows(QStringLiteral("SELECT count(*) FROM hosts")), QVector<QVariantList>({ { 0 } }));
    QCOMPARE(model->rowCount(), 4);
}

// Loaded, scanned and saved, as the typical road goes: a save replaces a stored note only with a
// note typed in this window (the empty text too), never with the empty cell of a scanned row or of
// a typed address, and never a note stored in another subnet's list.
void TestHostsWindow::scanThenSaveKeepsStoredNotes()
{
    QVERIFY(probe->addHosts({ { scanned, "127.0.0.1", "gateway" }, { scanned, "127.0.0.2", "printer" },
        { scanned, "127.0.0.6", "to be emptied" }, { "127.0.0.0/28", "127.0.0.3", "elsewhere" },
        { "127.0.0.0/28", "127.0.0.7", "untouched" } }));
    hostsWindow* w = open(scanned);
    clickButton(w, "pbLoad");
    scanFromWindow(*answers, w);
    QStandardItemModel* model = hostRows(w);
    QCOMPARE(model->rowCount(), 6);
    const QStringList typed { "127.0.0.1", "router", "127.0.0.5", "new host", "127.0.0.6", "" }; // address, note
    for (int i = 0; i < typed.size(); i += 2)
        QVERIFY(typeIntoCell(tableOf(w), rowOf(model, typed[i]), 1, typed[i + 1]));
    clickButton(w, "pbAddRow"); // a stored address typed again, without a note
    QVERIFY(typeIntoCell(tableOf(w), model->rowCount() - 1, 0, typed[0]));
    press(w, "pbSave");
    QCOMPARE(probe->lines(QStringLiteral("SELECT host || ' ' || note FROM hosts ORDER BY host")),
        QStringList({ "127.0.0.1 router", "127.0.0.2 printer", "127.0.0.3 elsewhere", "127.0.0.4 ",
            "127.0.0.5 new host", "127.0.0.6 ", "127.0.0.7 untouched" }));
    QCOMPARE(answers->boxes.size(), 2); // the completion and the save notice
}

// Another user deleted the loaded hosts after this window loaded its list: the save writes the
// rows typed or edited here and no other.
void TestHostsWindow::staleWindowSavesOnlyItsEdits()
{
    QVERIFY(probe->addHosts({ { upper, "192.168.1.40", "parent's" }, { lan, "192.168.1.20", "loaded" },
        { lan, "192.168.1.21", "loaded" } }));
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(tableOf(w), 2, 0, "192.168.1.10"));
    QVERIFY(typeIntoCell(tableOf(w), 1, 1, "edited"));
    probe->exec("DELETE FROM hosts WHERE subnet = '192.168.1.0/24'");
    press(w, "pbSave");
    QCOMPARE(boxTexts(*answers), QStringList { saveNotice });
    QCOMPARE(probe->lines(QStringLiteral("SELECT host || '|' || note FROM hosts ORDER BY host")),
        QStringList({ "192.168.1.10|", "192.168.1.21|edited", "192.168.1.40|parent's" }));
}

// A file this user cannot write: the main window says so, and a save fails with the database's error.
void TestHostsWindow::readOnlyFileRefusesTheSave()
{
    auto guard = std::make_unique<ReadOnlyFile>(dir->dbPath());
    QVERIFY(ZarvinWindow().windowTitle().endsWith(QStringLiteral(" (только чтение)")));
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, "192.168.1.10"));
    press(w, "pbSave", { QMessageBox::Ok, QMessageBox::Ok });
    guard.reset();
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 0);
    QCOMPARE(boxTexts(*answers),
        QStringList({ saveNotice,
            "Critical Ошибка: Хосты не сохранены, база данных не изменилась.\nattempt to write a readonly database "
            "Unable to fetch row" }));
}

QTEST_MAIN(TestHostsWindow)
#include "test_hosts_window.moc"
