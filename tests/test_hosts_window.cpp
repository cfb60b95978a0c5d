#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "tests/hostsTestHelpers.h"
#include "tests/support/testSupport.h"

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {

const QString lan = QStringLiteral("192.168.1.0/24");
const QString noticeText
    = QStringLiteral("Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание");
const QString emptyAddressText = QStringLiteral("Ячейка IP-адреса должна быть заполнена");

void appendHostRow(QStandardItemModel* model, const QString& host, const QString& note)
{
    model->appendRow({ new QStandardItem(host), new QStandardItem(note) });
}

QStringList column(QStandardItemModel* model, int c)
{
    QStringList texts;
    for (int r = 0; r < model->rowCount(); ++r)
        texts << model->index(r, c).data().toString();
    return texts;
}

} // namespace

class TestHostsWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newWindowShowsEmptyTable();
    void typedAddressIsChecked_data();
    void typedAddressIsChecked();
    void editorRefusesKeystrokes_data();
    void editorRefusesKeystrokes();
    void writtenAddressIsChecked_data();
    void writtenAddressIsChecked();
    void noteEditRechecksAddressSilently();
    void saveWritesEveryFilledRow();
    void saveEmptyTableShowsOnlyNotice();
    void saveStoredElsewhereUpdatesNoteOnly();
    void loadKeepsFirstStoredOrder();
    void loadShowsStoredRowsUncheckedButLaterEditsChecked();
    void loadOfNullNoteShowsEmptyAndSavesEmptyText();
    void deleteSelectedRows();
    void deleteRowsAnsweredNo();
    void deleteRowsWithoutSelectionReloads();
    void deleteAllAnsweredNoOrEscape();
    void deleteAllKeepsOtherSubnetsAndChecksNewEdits();
    void contextMenuStates();
    void contextMenuEntriesRun();
    void twoWindowsKeepTheirSubnets();
    void saveStopsWhenDatabaseStaysLocked();
    void loadFailureShowsError();
    void deleteFailuresLeaveTable();

private:
    hostsWindow* open(const QString& subnet);
    QVector<QVariantList> stored(const QString& subnet);
    // The next box is a message box: record it with the address cell of `row` as it is then.
    void thenBoxSeeingCell(
        hostsWindow* window, int row, QStringList* cellsSeen, QMessageBox::StandardButton button = QMessageBox::Ok);

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<DbProbe> probe;
    std::unique_ptr<ModalAnswerer> answers;
    QVector<QPointer<hostsWindow>> windows;
};

void TestHostsWindow::init()
{
    dir = std::make_unique<TempDataDir>();
    {
        DB schema; // the tables exist before the probe seeds them
    }
    probe = std::make_unique<DbProbe>(dir->dbPath());
    answers = std::make_unique<ModalAnswerer>();
}

void TestHostsWindow::cleanup()
{
    for (const QPointer<hostsWindow>& w : windows)
        delete w.data();
    windows.clear();
    const QStringList unexpected = answers->unexpected;
    const int pending = answers->pending();
    answers.reset();
    probe.reset();
    dir.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    QCOMPARE(pending, 0);
}

hostsWindow* TestHostsWindow::open(const QString& subnet)
{
    auto* window = new hostsWindow(subnet);
    windows << window;
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        qWarning("hosts window did not become active");
    return window;
}

QVector<QVariantList> TestHostsWindow::stored(const QString& subnet)
{
    return probe->rows(QStringLiteral("SELECT host, note FROM hosts WHERE subnet=? ORDER BY id"), { subnet });
}

void TestHostsWindow::thenBoxSeeingCell(
    hostsWindow* window, int row, QStringList* cellsSeen, QMessageBox::StandardButton button)
{
    answers->then([this, window, row, cellsSeen, button](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            answers->unexpected << QStringLiteral("not a message box");
            w->close();
            return;
        }
        answers->boxes << ModalAnswerer::Box { box->icon(), box->windowTitle(), box->text() };
        *cellsSeen << modelOf(window)->index(row, 0).data().toString();
        pressBoxButton(box, button);
    });
}

void TestHostsWindow::newWindowShowsEmptyTable()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"), { lan, "192.168.1.7", "x" });
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    QStandardItemModel* model = modelOf(w);
    QVERIFY(model);
    QCOMPARE(model->rowCount(), 0); // nothing is read until the user loads
    QCOMPARE(model->columnCount(), 2);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("IP-адрес хоста"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Примечание"));
    QCOMPARE(view->horizontalHeader()->sectionSize(0), 170);
    QCOMPARE(view->horizontalHeader()->sectionResizeMode(1), QHeaderView::Stretch);
    QCOMPARE(view->horizontalHeader()->sectionPosition(1) + view->horizontalHeader()->sectionSize(1),
        view->viewport()->width());
    QCOMPARE(view->editTriggers(), QAbstractItemView::EditTriggers(QAbstractItemView::DoubleClicked));
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!w->findChild<QProgressBar*>(QStringLiteral("progressBar"))->isVisible());
    QVERIFY(!w->findChild<QLabel*>(QStringLiteral("labelPort"))->isVisible());

    clickButton(w, "pbAddRow");
    clickButton(w, "pbAddRow");
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(column(model, 0), QStringList({ "", "" }));
    QCOMPARE(column(model, 1), QStringList({ "", "" }));
    QVERIFY(view->selectionModel()->selectedIndexes().isEmpty());
    QVERIFY(!view->indexWidget(model->index(1, 0))); // no editor opened

    // A click selects the whole row; typing on it opens no editor.
    clickCell(view, model->index(1, 1));
    QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(view->selectionModel()->selectedIndexes().size(), 2);
    QTest::keyClicks(view, "1");
    QTest::keyClick(view, Qt::Key_F2);
    QVERIFY(!view->indexWidget(model->index(1, 1)));
    QCOMPARE(model->index(1, 1).data().toString(), QString());
}

void TestHostsWindow::typedAddressIsChecked_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("message");
    QTest::newRow("host of the subnet kept") << lan << "192.168.1.10"
                                             << "192.168.1.10"
                                             << "";
    QTest::newRow("other subnet") << lan << "192.168.2.10"
                                  << ""
                                  << "Хост с адресом 192.168.2.10 не входит в подсеть 192.168.1.0/24";
    QTest::newRow("broadcast") << lan << "192.168.1.255"
                               << ""
                               << "Адрес 192.168.1.255 является широковещательным для подсети 192.168.1.0/24";
    QTest::newRow("network address") << lan << "192.168.1.0"
                                     << ""
                                     << "Адрес 192.168.1.0 - адрес подсети 192.168.1.0/24";
    QTest::newRow("/31 lower gets network") << "10.0.0.4/31"
                                            << "10.0.0.4"
                                            << ""
                                            << "Адрес 10.0.0.4 - адрес подсети 10.0.0.4/31";
    QTest::newRow("/31 upper gets broadcast") << "10.0.0.4/31"
                                              << "10.0.0.5"
                                              << ""
                                              << "Адрес 10.0.0.5 является широковещательным для подсети 10.0.0.4/31";
    QTest::newRow("/32 gets broadcast, not network")
        << "10.0.0.5/32"
        << "10.0.0.5"
        << ""
        << "Адрес 10.0.0.5 является широковещательным для подсети 10.0.0.5/32";
    QTest::newRow("25 with a trailing blank cleared silently") << lan << "192.168.1.25 "
                                                               << ""
                                                               << "";
}

void TestHostsWindow::typedAddressIsChecked()
{
    QFETCH(QString, subnet);
    QFETCH(QString, typed);
    QFETCH(QString, cell);
    QFETCH(QString, message);
    hostsWindow* w = open(subnet);
    clickButton(w, "pbAddRow");
    QStandardItemModel* model = modelOf(w);
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    QStringList cellAtBox;
    if (!message.isEmpty())
        thenBoxSeeingCell(w, 0, &cellAtBox);
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, typed));
    QCOMPARE(model->index(0, 0).data().toString(), cell);
    if (message.isEmpty()) {
        QVERIFY(answers->boxes.isEmpty());
        // The edit, then the clearing when the text was refused; nothing more.
        QCOMPARE(changes.size(), cell.isEmpty() ? 2 : 1);
        return;
    }
    QCOMPARE(answers->boxes.size(), 1);
    QCOMPARE(answers->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Ошибка!"));
    QCOMPARE(answers->boxes[0].text, message);
    QCOMPARE(cellAtBox, QStringList({ "" })); // already empty behind the box
    // The edit and the clearing; the nested check sets the same empty text and emits nothing.
    QCOMPARE(changes.size(), 2);
}

void TestHostsWindow::editorRefusesKeystrokes_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("editorText");
    QTest::newRow("octet above 255") << "192.168.1.256"
                                     << "192.168.1.25";
    QTest::newRow("fifth octet") << "1.2.3.4.5"
                                 << "1.2.3.45";
    QTest::newRow("leading zero 01") << "01.2.3.4"
                                     << "0.2.3.4";
    QTest::newRow("leading zero 007") << "10.007.1.1"
                                      << "10.0.1.1";
    QTest::newRow("unfinished stands") << "192.168."
                                       << "192.168.";
    QTest::newRow("25 and one blank") << "10.0.0.25 "
                                      << "10.0.0.25 ";
    QTest::newRow("no other trailing blank") << "10.0.0.24 "
                                             << "10.0.0.24";
    QTest::newRow("no letters") << "1a.2.3.4"
                                << "1.2.3.4";
}

void TestHostsWindow::editorRefusesKeystrokes()
{
    QFETCH(QString, keys);
    QFETCH(QString, editorText);
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    QTableView* view = tableOf(w);
    const QModelIndex cell = modelOf(w)->index(0, 0);
    QLineEdit* editor = openEditor(view, cell);
    QVERIFY(editor);
    QTest::keyClicks(editor, keys);
    QCOMPARE(editor->text(), editorText);
    QTest::keyClick(editor, Qt::Key_Escape);
    QTRY_VERIFY(!view->indexWidget(cell));
    QCOMPARE(cell.data().toString(), QString());
}

void TestHostsWindow::writtenAddressIsChecked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("unfinished") << "192.168."
                                << "";
    QTest::newRow("leading zero field") << "192.168.1.010"
                                        << "";
    QTest::newRow("IPv6 counts as an address outside")
        << "2001:DB8:0:0:0:0:0:1"
        << "Хост с адресом 2001:db8::1 не входит в подсеть 192.168.1.0/24";
}

void TestHostsWindow::writtenAddressIsChecked()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    if (!message.isEmpty())
        answers->thenBox();
    QStandardItemModel* model = modelOf(w);
    model->setData(model->index(0, 0), text);
    QCOMPARE(model->index(0, 0).data().toString(), QString());
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QCOMPARE(answers->boxes[0].text, message);
}

void TestHostsWindow::noteEditRechecksAddressSilently()
{
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    QStandardItemModel* model = modelOf(w);
    clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(view, 0, 0, "192.168.1.10"));
    QVERIFY(typeIntoCell(view, 0, 1, "router, rack 2"));
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("192.168.1.10"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("router, rack 2"));

    // The note of a new row typed before its address.
    clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(view, 1, 1, "printer"));
    QCOMPARE(model->index(1, 0).data().toString(), QString());
    QCOMPARE(model->index(1, 1).data().toString(), QStringLiteral("printer"));
    QVERIFY(answers->boxes.isEmpty());
}

void TestHostsWindow::saveWritesEveryFilledRow()
{
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    QStandardItemModel* model = modelOf(w);
    for (int i = 0; i < 4; ++i)
        clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(view, 0, 0, "192.168.1.10"));
    QVERIFY(typeIntoCell(view, 0, 1, "gateway"));
    QVERIFY(typeIntoCell(view, 1, 1, "forgot the address"));
    QVERIFY(typeIntoCell(view, 2, 0, "192.168.1.20"));
    // Row 3 stays empty. A scanned row has an address item only; a row may lack both.
    model->appendRow(new QStandardItem(QStringLiteral("192.168.1.30")));
    model->appendRow(QList<QStandardItem*>({ nullptr, new QStandardItem(QStringLiteral("no address item")) }));
    QVERIFY(!model->item(5, 0));

    answers->thenBox();
    answers->thenBox();
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes.size(), 3);
    QCOMPARE(answers->boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Внимание!"));
    QCOMPARE(answers->boxes[0].text, noticeText);
    for (int i : { 1, 2 }) {
        QCOMPARE(answers->boxes[i].icon, QMessageBox::Critical);
        QCOMPARE(answers->boxes[i].title, QStringLiteral("Ошибка!"));
        QCOMPARE(answers->boxes[i].text, emptyAddressText);
    }
    const auto rows = probe->rows(QStringLiteral("SELECT subnet, host, note, note IS NULL FROM hosts ORDER BY id"));
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0], QVariantList({ lan, "192.168.1.10", "gateway", 0 }));
    QCOMPARE(rows[1], QVariantList({ lan, "192.168.1.20", "", 0 }));
    QCOMPARE(rows[2], QVariantList({ lan, "192.168.1.30", "", 0 })); // empty text, not NULL
    QCOMPARE(model->rowCount(), 6); // the table is not reloaded
}

void TestHostsWindow::saveEmptyTableShowsOnlyNotice()
{
    hostsWindow* w = open(lan);
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->boxes.size(), 1);
    QCOMPARE(answers->boxes[0].text, noticeText);
    QVERIFY(probe->rows(QStringLiteral("SELECT * FROM hosts")).isEmpty());
}

void TestHostsWindow::saveStoredElsewhereUpdatesNoteOnly()
{
    const QString parent = QStringLiteral("192.168.0.0/16");
    probe->exec(
        QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"), { parent, "192.168.1.10", "old" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, "192.168.1.10"));
    QVERIFY(typeIntoCell(tableOf(w), 0, 1, "new"));
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT subnet, host, note FROM hosts")),
        QVector<QVariantList>({ { parent, "192.168.1.10", "new" } }));
    clickButton(w, "pbLoad");
    QCOMPARE(modelOf(w)->rowCount(), 0); // it stays in the other list
}

void TestHostsWindow::loadKeepsFirstStoredOrder()
{
    hostsWindow* w = open(lan);
    QStandardItemModel* model = modelOf(w);
    appendHostRow(model, "192.168.1.30", "c");
    appendHostRow(model, "192.168.1.10", "a");
    appendHostRow(model, "192.168.1.20", "b");
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);

    model->removeRows(0, model->rowCount());
    appendHostRow(model, "192.168.1.40", "d");
    appendHostRow(model, "192.168.1.10", "a2");
    appendHostRow(model, "192.168.1.50", "first");
    appendHostRow(model, "192.168.1.50", "second"); // the later row's note wins
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);

    clickButton(w, "pbAddRow"); // unsaved, dropped by the load
    clickButton(w, "pbLoad");
    model = modelOf(w);
    QCOMPARE(column(model, 0),
        QStringList({ "192.168.1.30", "192.168.1.10", "192.168.1.20", "192.168.1.40", "192.168.1.50" }));
    QCOMPARE(column(model, 1), QStringList({ "c", "a2", "b", "d", "second" }));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("IP-адрес хоста"));
    QCOMPARE(tableOf(w)->horizontalHeader()->sectionSize(0), 170);
}

void TestHostsWindow::loadShowsStoredRowsUncheckedButLaterEditsChecked()
{
    for (const char* host : { "192.168.1.255", "10.9.9.9", "192.168.1.5" })
        probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, '')"), { lan, host });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    QStandardItemModel* model = modelOf(w);
    QCOMPARE(column(model, 0), QStringList({ "192.168.1.255", "10.9.9.9", "192.168.1.5" }));
    QVERIFY(answers->boxes.isEmpty());

    answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(w), 2, 0, "192.168.2.1"));
    QCOMPARE(model->index(2, 0).data().toString(), QString());
    // A note edit checks its row's address too, stored or not.
    answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(w), 1, 1, "moved"));
    QCOMPARE(model->index(1, 0).data().toString(), QString());
    QCOMPARE(answers->boxes.size(), 2);
    QCOMPARE(answers->boxes[0].text, QStringLiteral("Хост с адресом 192.168.2.1 не входит в подсеть 192.168.1.0/24"));
    QCOMPARE(answers->boxes[1].text, QStringLiteral("Хост с адресом 10.9.9.9 не входит в подсеть 192.168.1.0/24"));
}

void TestHostsWindow::loadOfNullNoteShowsEmptyAndSavesEmptyText()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, NULL)"), { lan, "192.168.1.60" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    QStandardItemModel* model = modelOf(w);
    QCOMPARE(model->rowCount(), 1);
    QVERIFY(model->item(0, 1));
    QCOMPARE(model->index(0, 1).data().toString(), QString());
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT note, note IS NULL FROM hosts")), QVector<QVariantList>({ { "", 0 } }));
}

void TestHostsWindow::deleteSelectedRows()
{
    const QString parent = QStringLiteral("192.168.0.0/16");
    for (const char* host : { "192.168.1.1", "192.168.1.2", "192.168.1.3" })
        probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, host });
    probe->exec(
        QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'elsewhere')"), { parent, "192.168.1.9" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    QStandardItemModel* model = modelOf(w);
    appendHostRow(model, "192.168.1.9", "typed here, stored under the parent");
    QTableView* view = tableOf(w);
    clickCell(view, model->index(0, 0));
    clickCell(view, model->index(2, 1), Qt::ControlModifier);
    clickCell(view, model->index(3, 0), Qt::ControlModifier);
    QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes[0].icon, QMessageBox::Question);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Удалить строки"));
    QCOMPARE(answers->boxes[0].text, QStringLiteral("Вы действительно хотите удалить выбранные строки?"));
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")), QVector<QVariantList>({ { "192.168.1.2" } }));
    QCOMPARE(column(modelOf(w), 0), QStringList({ "192.168.1.2" })); // reloaded
}

void TestHostsWindow::deleteRowsAnsweredNo()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    clickButton(w, "pbAddRow");
    clickCell(tableOf(w), modelOf(w)->index(0, 0));
    answers->thenBox(QMessageBox::No);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 1);
    QCOMPARE(modelOf(w)->rowCount(), 2);
}

void TestHostsWindow::deleteRowsWithoutSelectionReloads()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    appendHostRow(modelOf(w), "192.168.1.2", "never saved");
    QVERIFY(tableOf(w)->selectionModel()->selectedRows().isEmpty());
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 1);
    QCOMPARE(column(modelOf(w), 0), QStringList({ "192.168.1.1" }));
}

void TestHostsWindow::deleteAllAnsweredNoOrEscape()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    appendHostRow(modelOf(w), "192.168.1.2", "unsaved");
    QStandardItemModel* before = modelOf(w);
    answers->thenBox(QMessageBox::No);
    answers->then([this](QWidget* box) {
        answers->boxes << ModalAnswerer::Box { QMessageBox::NoIcon, box->windowTitle(), QString() };
        QTest::keyClick(box, Qt::Key_Escape);
    });
    clickButton(w, "pbDeleleAll");
    clickButton(w, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes.size(), 2);
    QCOMPARE(answers->boxes[0].icon, QMessageBox::Question);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Удалить таблицу"));
    QCOMPARE(answers->boxes[0].text, QStringLiteral("Вы действительно хотите удалить ВСЮ таблицу?"));
    QCOMPARE(answers->boxes[1].title, QStringLiteral("Удалить таблицу"));
    QCOMPARE(modelOf(w), before);
    QCOMPARE(column(before, 0), QStringList({ "192.168.1.1", "192.168.1.2" }));
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 1);
}

void TestHostsWindow::deleteAllKeepsOtherSubnetsAndChecksNewEdits()
{
    const QString other = QStringLiteral("10.0.0.0/24");
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.2" });
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { other, "10.0.0.1" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    clickButton(w, "pbAddRow");
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")), QVector<QVariantList>({ { "10.0.0.1" } }));
    QStandardItemModel* model = modelOf(w);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Примечание"));

    clickButton(w, "pbAddRow");
    answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, "10.0.0.7"));
    QCOMPARE(model->index(0, 0).data().toString(), QString());
    QCOMPARE(answers->boxes.last().text, QStringLiteral("Хост с адресом 10.0.0.7 не входит в подсеть 192.168.1.0/24"));
}

void TestHostsWindow::contextMenuStates()
{
    hostsWindow* w = open(lan);
    const QStringList entries = { "Сохранить", "Добавить строку", "", "Загрузить из БД", "Сканировать подсеть", "",
        "Удалить  строку", "Удалить все хосты", "", "Закрыть" };
    QVector<QStringList> texts;
    QVector<QStringList> disabled;
    const auto inspect = [&](QWidget* popup) {
        auto* menu = qobject_cast<QMenu*>(popup);
        QStringList t, off;
        for (QAction* a : menu->actions()) {
            t << (a->isSeparator() ? QString() : a->text());
            if (!a->isSeparator() && !a->isEnabled())
                off << a->text();
        }
        texts << t;
        disabled << off;
        QTest::keyClick(menu, Qt::Key_Escape);
    };
    answers->then(inspect);
    rightClickTable(w);
    clickButton(w, "pbAddRow");
    clickButton(w, "pbAddRow");
    answers->then(inspect);
    rightClickTable(w, QPoint(5, tableOf(w)->viewport()->height() - 5)); // below the rows
    clickCell(tableOf(w), modelOf(w)->index(1, 0));
    answers->then(inspect);
    rightClickTable(w, tableOf(w)->visualRect(modelOf(w)->index(1, 0)).center());
    QCOMPARE(texts.size(), 3);
    for (const QStringList& t : texts)
        QCOMPARE(t, entries);
    QCOMPARE(disabled[0], QStringList({ "Сохранить", "Удалить  строку" }));
    QCOMPARE(disabled[1], QStringList({ "Удалить  строку" }));
    QCOMPARE(disabled[2], QStringList());
    QCOMPARE(modelOf(w)->rowCount(), 2); // dismissing ran nothing
    QVERIFY(answers->boxes.isEmpty());
}

void TestHostsWindow::contextMenuEntriesRun()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    hostsWindow* w = open(lan);
    // The entry is chosen, then the box it opens (if any) is answered with `button`.
    const auto choose = [this, w](const QString& entry, QMessageBox::StandardButton button = QMessageBox::NoButton) {
        answers->then([entry](QWidget* popup) { chooseEntryLater(qobject_cast<QMenu*>(popup), entry); });
        if (button != QMessageBox::NoButton)
            answers->thenBox(button);
        rightClickTable(w);
    };
    choose("Добавить строку");
    QCOMPARE(modelOf(w)->rowCount(), 1);
    choose("Загрузить из БД");
    QCOMPARE(column(modelOf(w), 0), QStringList({ "192.168.1.1" }));
    choose("Сохранить", QMessageBox::Ok);
    QTRY_COMPARE(answers->boxes.size(), 1);
    QCOMPARE(answers->boxes[0].text, noticeText);
    clickCell(tableOf(w), modelOf(w)->index(0, 0));
    choose("Удалить  строку", QMessageBox::Yes);
    QTRY_COMPARE(answers->boxes.size(), 2);
    QVERIFY(probe->rows(QStringLiteral("SELECT host FROM hosts")).isEmpty());
    choose("Удалить все хосты", QMessageBox::No);
    QTRY_COMPARE(answers->boxes.size(), 3);
    QCOMPARE(answers->boxes[2].title, QStringLiteral("Удалить таблицу"));
    choose("Закрыть");
    QTRY_VERIFY(!w->isVisible());
}

void TestHostsWindow::twoWindowsKeepTheirSubnets()
{
    const QString other = QStringLiteral("10.0.0.0/24");
    hostsWindow* first = open(lan);
    hostsWindow* second = open(other);
    appendHostRow(modelOf(first), "192.168.1.10", "first");
    appendHostRow(modelOf(second), "10.0.0.10", "second");
    answers->thenBox();
    clickButton(first, "pbSave");
    answers->thenBox();
    clickButton(second, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(stored(lan), QVector<QVariantList>({ { "192.168.1.10", "first" } }));
    QCOMPARE(stored(other), QVector<QVariantList>({ { "10.0.0.10", "second" } }));
    clickButton(first, "pbLoad");
    QCOMPARE(column(modelOf(first), 0), QStringList({ "192.168.1.10" }));
    answers->thenBox(QMessageBox::Yes);
    clickButton(first, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    QVERIFY(stored(lan).isEmpty());
    QCOMPARE(stored(other).size(), 1);
    // Each window checks against its own subnet.
    clickButton(first, "pbAddRow");
    answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(first), 0, 0, "10.0.0.11"));
    QCOMPARE(answers->boxes.last().text, QStringLiteral("Хост с адресом 10.0.0.11 не входит в подсеть 192.168.1.0/24"));
    QCOMPARE(first->subnet(), lan);
    QCOMPARE(second->subnet(), other);
}

void TestHostsWindow::saveStopsWhenDatabaseStaysLocked()
{
    hostsWindow* w = open(lan);
    QStandardItemModel* model = modelOf(w);
    appendHostRow(model, "192.168.1.10", "before");
    appendHostRow(model, "", "");
    appendHostRow(model, "192.168.1.20", "after");
    appendHostRow(model, "", "");
    answers->thenBox();
    answers->then([this](QWidget* box) {
        probe->exec(QStringLiteral("BEGIN IMMEDIATE")); // another program holds the write lock
        answers->boxes << ModalAnswerer::Box { qobject_cast<QMessageBox*>(box)->icon(), box->windowTitle(), {} };
        pressBoxButton(qobject_cast<QMessageBox*>(box), QMessageBox::Ok);
    });
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE_WITH_TIMEOUT(answers->pending(), 0, 20000);
    probe->exec(QStringLiteral("ROLLBACK"));
    QCOMPARE(answers->boxes.size(), 3); // no box for the second empty row: the save stopped
    QCOMPARE(answers->boxes[2].icon, QMessageBox::Critical);
    QCOMPARE(answers->boxes[2].title, QStringLiteral("Ошибка"));
    QVERIFY2(answers->boxes[2].text.contains(QStringLiteral("locked")), qPrintable(answers->boxes[2].text));
    QCOMPARE(stored(lan), QVector<QVariantList>({ { "192.168.1.10", "before" } }));
    QCOMPARE(model->rowCount(), 4);
}

void TestHostsWindow::loadFailureShowsError()
{
    hostsWindow* w = open(lan);
    appendHostRow(modelOf(w), "192.168.1.10", "unsaved");
    probe->exec(QStringLiteral("DROP TABLE hosts"));
    answers->thenBox();
    clickButton(w, "pbLoad");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY2(answers->boxes[0].text.contains(QStringLiteral("no such table")), qPrintable(answers->boxes[0].text));
    QCOMPARE(modelOf(w)->rowCount(), 0);
    QCOMPARE(modelOf(w)->columnCount(), 2);
}

void TestHostsWindow::deleteFailuresLeaveTable()
{
    probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, 'n')"), { lan, "192.168.1.1" });
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    appendHostRow(modelOf(w), "192.168.1.2", "unsaved");
    clickCell(tableOf(w), modelOf(w)->index(0, 0));
    probe->exec(QStringLiteral("DROP TABLE hosts"));
    answers->thenBox(QMessageBox::Yes);
    answers->thenBox();
    clickButton(w, "pbDeleteRows");
    answers->thenBox(QMessageBox::Yes);
    answers->thenBox();
    clickButton(w, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes.size(), 4);
    for (int i : { 1, 3 }) {
        QCOMPARE(answers->boxes[i].title, QStringLiteral("Ошибка"));
        QVERIFY(answers->boxes[i].text.contains(QStringLiteral("no such table")));
    }
    QCOMPARE(column(modelOf(w), 0), QStringList({ "192.168.1.1", "192.168.1.2" }));
}

QTEST_MAIN(TestHostsWindow)
#include "test_hosts_window.moc"
