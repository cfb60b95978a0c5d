#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "tests/support/testSupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <memory>

const QString lan = QStringLiteral("192.168.1.0/24");
const QString upper = QStringLiteral("192.168.0.0/16");

class TestHostsWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void typedAddressIsChecked_data();
    void typedAddressIsChecked();
    void saveLoadAndDeleteAllBesideAnotherWindow();
    void deleteRows();
    void contextMenuStates();
    void saveStopsWhenDatabaseStaysLocked();

private:
    static QTableView* tableOf(QWidget* w) { return w->findChild<QTableView*>(QStringLiteral("tableView")); }
    static QStandardItemModel* modelOf(QWidget* w) { return qobject_cast<QStandardItemModel*>(tableOf(w)->model()); }
    static void appendHostRow(QStandardItemModel* model, const QString& host, const QString& note)
    {
        model->appendRow({ new QStandardItem(host), new QStandardItem(note) });
    }
    static QStringList column(QStandardItemModel* model, int c)
    {
        QStringList texts;
        for (int r = 0; r < model->rowCount(); ++r)
            texts << model->index(r, c).data().toString();
        return texts;
    }
    hostsWindow* open(const QString& subnet);
    void seed(const QString& subnet, const QString& host, const QVariant& note)
    {
        probe->exec(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"), { subnet, host, note });
    }
    void expectBox(int i, QMessageBox::Icon icon, const QString& title, const QString& text);

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

void TestHostsWindow::expectBox(int i, QMessageBox::Icon icon, const QString& title, const QString& text)
{
    const ModalAnswerer::Box box = answers->boxes.value(i); // all empty when there is none
    QCOMPARE(box.icon, icon);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, text);
}

void TestHostsWindow::typedAddressIsChecked_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("message");
    QTest::newRow("host of the subnet kept") << "192.168.1.10" << QString("192.168.1.10") << "";
    QTest::newRow("the editor takes no octet above 255") << "192.168.1.256" << QString("192.168.1.25") << "";
    QTest::newRow("25 with a trailing blank emptied silently") << "192.168.1.25 " << QString("") << "";
    QTest::newRow("other subnet") << "192.168.2.10" << QString("")
                                  << "Хост с адресом 192.168.2.10 не входит в подсеть 192.168.1.0/24";
    QTest::newRow("broadcast") << "192.168.1.255" << QString("")
                               << "Адрес 192.168.1.255 является широковещательным для подсети 192.168.1.0/24";
    QTest::newRow("network address") << "192.168.1.0" << QString("")
                                     << "Адрес 192.168.1.0 - адрес подсети 192.168.1.0/24";
}

void TestHostsWindow::typedAddressIsChecked()
{
    QFETCH(QString, typed);
    QFETCH(QString, cell);
    QFETCH(QString, message);
    hostsWindow* w = open(lan);
    clickButton(w, "pbAddRow");
    QStandardItemModel* model = modelOf(w);
    QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
    if (!message.isEmpty())
        answers->thenBox();
    QVERIFY(typeIntoCell(tableOf(w), 0, 0, typed));
    QCOMPARE(model->index(0, 0).data().toString(), cell);
    // The edit, then the clearing of a refused text; the nested check of the emptied cell sets nothing.
    QCOMPARE(changes.size(), cell.isEmpty() ? 2 : 1);
    QCOMPARE(answers->boxes.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        expectBox(0, QMessageBox::Critical, QStringLiteral("Ошибка!"), message);
}

void TestHostsWindow::saveLoadAndDeleteAllBesideAnotherWindow()
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
    QStandardItemModel* model = modelOf(w);
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
    for (int i = 0; i < 3; ++i)
        answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(answers->boxes.size(), 4); // the other window's notice first
    for (int i : { 0, 1 })
        expectBox(i, QMessageBox::Warning, QStringLiteral("Внимание!"),
            QStringLiteral("Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание"));
    for (int i : { 2, 3 })
        expectBox(i, QMessageBox::Critical, QStringLiteral("Ошибка!"),
            QStringLiteral("Ячейка IP-адреса должна быть заполнена"));
    QCOMPARE(probe->rows(QStringLiteral("SELECT subnet, host, note, note IS NULL FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { upper, "192.168.1.40", "new", 0 }, { "10.0.0.0/24", "10.0.0.11", "", 0 },
            { lan, "192.168.1.10", "gateway", 0 }, { lan, "192.168.1.30", "", 0 } })); // no note item: '', not NULL
    QCOMPARE(model->rowCount(), 6); // not reloaded

    // A second save updates in place; of two rows with one address the later note wins.
    seed(lan, "10.9.9.9", QVariant()); // written by another program: outside, NULL note
    model->removeRows(0, model->rowCount());
    appendHostRow(model, "192.168.1.50", "first");
    appendHostRow(model, "192.168.1.10", "a2");
    appendHostRow(model, "192.168.1.50", "second");
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->pending(), 0);
    clickButton(w, "pbAddRow"); // unsaved, dropped by the load
    clickButton(w, "pbLoad");
    model = modelOf(w);
    QCOMPARE(column(model, 0), QStringList({ "192.168.1.10", "192.168.1.30", "10.9.9.9", "192.168.1.50" }));
    QCOMPARE(column(model, 1), QStringList({ "a2", "", "", "second" }));
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("IP-адрес хоста"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Примечание"));
    QCOMPARE(answers->boxes.size(), 5); // stored rows are shown unchecked
    answers->thenBox(); // but every later edit is checked, a note edit included
    QVERIFY(typeIntoCell(view, 2, 1, "moved"));
    QCOMPARE(column(model, 0), QStringList({ "192.168.1.10", "192.168.1.30", "", "192.168.1.50" }));
    QCOMPARE(
        answers->boxes.value(5).text, QStringLiteral("Хост с адресом 10.9.9.9 не входит в подсеть 192.168.1.0/24"));

    answers->thenBox(QMessageBox::No);
    clickButton(w, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    expectBox(6, QMessageBox::Question, QStringLiteral("Удалить таблицу"),
        QStringLiteral("Вы действительно хотите удалить ВСЮ таблицу?"));
    QCOMPARE(modelOf(w), model);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts WHERE subnet=?"), { lan }).size(), 4);
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleleAll");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { "192.168.1.40" }, { "10.0.0.11" } }));
    QCOMPARE(modelOf(w)->rowCount(), 0);
    clickButton(w, "pbAddRow"); // the fresh model is checked too
    answers->thenBox();
    QVERIFY(typeIntoCell(view, 0, 0, "10.0.0.12"));
    QCOMPARE(answers->boxes.size(), 9);
    QCOMPARE(answers->boxes[8].text, QStringLiteral("Хост с адресом 10.0.0.12 не входит в подсеть 192.168.1.0/24"));
}

void TestHostsWindow::deleteRows()
{
    const QStringList all = { "192.168.1.1", "192.168.1.2", "192.168.1.3", "192.168.1.9" };
    for (int i = 0; i < 3; ++i)
        seed(lan, all[i], "n");
    seed(upper, all[3], "elsewhere");
    hostsWindow* w = open(lan);
    clickButton(w, "pbLoad");
    appendHostRow(modelOf(w), all[3], "typed here, stored under the parent subnet");
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows"); // nothing selected: deletes nothing, reloads
    QTRY_COMPARE(answers->pending(), 0);
    expectBox(0, QMessageBox::Question, QStringLiteral("Удалить строки"),
        QStringLiteral("Вы действительно хотите удалить выбранные строки?"));
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")).size(), 4);
    QCOMPARE(column(modelOf(w), 0), all.mid(0, 3));

    appendHostRow(modelOf(w), all[3], "again");
    QTableView* view = tableOf(w);
    clickCell(view, modelOf(w)->index(0, 0));
    clickCell(view, modelOf(w)->index(2, 1), Qt::ControlModifier); // a note cell selects its row
    clickCell(view, modelOf(w)->index(3, 0), Qt::ControlModifier); // goes by address, whatever its subnet
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers->pending(), 0);
    QCOMPARE(probe->rows(QStringLiteral("SELECT host FROM hosts")), QVector<QVariantList>({ { "192.168.1.2" } }));
    QCOMPARE(column(modelOf(w), 0), QStringList({ "192.168.1.2" }));
}

void TestHostsWindow::contextMenuStates()
{
    hostsWindow* w = open(lan);
    QTableView* view = tableOf(w);
    QVector<QStringList> texts, disabled;
    // Right clicks at `at`, records the menu's entries and chooses "Добавить строку".
    const auto rightClick = [&](QPoint at) {
        answers->then([&](QWidget* popup) {
            auto* menu = qobject_cast<QMenu*>(popup);
            QStringList t, off;
            for (QAction* a : menu->actions()) {
                t << (a->isSeparator() ? QString() : a->text());
                if (!a->isSeparator() && !a->isEnabled())
                    off << a->text();
            }
            texts << t;
            disabled << off;
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions()[1]).center());
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
    };
    rightClick(QPoint(5, 5));
    clickButton(w, "pbAddRow");
    rightClick(QPoint(5, view->viewport()->height() - 5)); // below the rows
    clickCell(view, modelOf(w)->index(1, 0));
    rightClick(view->visualRect(modelOf(w)->index(1, 0)).center());
    const QStringList entries = { "Сохранить", "Добавить строку", "", "Загрузить из БД", "Сканировать подсеть", "",
        "Удалить  строку", "Удалить все хосты", "", "Закрыть" };
    QCOMPARE(texts, QVector<QStringList>(3, entries));
    QCOMPARE(disabled, QVector<QStringList>({ { "Сохранить", "Удалить  строку" }, { "Удалить  строку" }, {} }));
    QCOMPARE(modelOf(w)->rowCount(), 4);
}

void TestHostsWindow::saveStopsWhenDatabaseStaysLocked()
{
    hostsWindow* w = open(lan);
    QStandardItemModel* model = modelOf(w);
    for (const char* host : { "192.168.1.10", "", "192.168.1.20", "" })
        appendHostRow(model, host, *host ? "before" : "");
    answers->thenBox();
    answers->then([this](QWidget* box) {
        probe->exec(QStringLiteral("BEGIN IMMEDIATE")); // another program holds the write lock
        pressBoxButton(qobject_cast<QMessageBox*>(box), QMessageBox::Ok);
    });
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE_WITH_TIMEOUT(answers->pending(), 0, 20000);
    probe->exec(QStringLiteral("ROLLBACK"));
    QCOMPARE(answers->boxes.size(), 2); // no box for the second empty row: the save stopped
    QCOMPARE(answers->boxes[1].icon, QMessageBox::Critical);
    QCOMPARE(answers->boxes[1].title, QStringLiteral("Ошибка"));
    QVERIFY2(answers->boxes[1].text.contains(QStringLiteral("locked")), qPrintable(answers->boxes[1].text));
    QCOMPARE(probe->rows(QStringLiteral("SELECT host, note FROM hosts")),
        QVector<QVariantList>({ { "192.168.1.10", "before" } }));
    QCOMPARE(model->rowCount(), 4);
}

QTEST_MAIN(TestHostsWindow)
#include "test_hosts_window.moc"
