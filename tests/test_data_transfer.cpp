// The user's roads through the CSV, backup and restore commands, with Qt's own file dialogs.
#include "hosts/hostsWindow.h"
#include "hosts/scan/scanHistory.h"
#include "tests/support/modelText.h"
#include "tests/support/pgServer.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QTreeView>
#include <QtTest>

#include <memory>

class TestDataTransfer : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir.reset(); // the previous directory gives the environment back before the next one takes it
        dir = std::make_unique<TempDataDir>();
        answerer = std::make_unique<ModalAnswerer>();
        window = std::make_unique<ZarvinWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        probe = std::make_unique<DbProbe>(dir->dbPath());
        folders.clear();
    }
    void cleanup()
    {
        hosts.reset();
        window.reset();
        const QString problems = answerer->problems();
        probe.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    void inventoryExportedAndImported();
    void backupAndRestore();
    void hostListImportAndExport();

private:
    // The next modal must be Qt's file dialog: the path is typed into its name field and Enter pressed.
    void thenFile(const QString& path)
    {
        answerer->then([this, path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            auto* edit = dialog ? dialog->findChild<QLineEdit*>("fileNameEdit") : nullptr;
            if (!edit) {
                answerer->unexpected << QString("expected Qt's file dialog, got ") + w->metaObject()->className();
                w->close();
                return;
            }
            folders << dialog->directory().absolutePath();
            edit->setText(path);
            QTest::keyClick(edit, Qt::Key_Return);
        });
    }
    void trigger(const char* name)
    {
        window->findChild<QAction*>(name)->trigger();
        QTRY_COMPARE(answerer->pending(), 0);
    }
    // The command run with `path` typed into its file dialog and the message boxes answered with `presses`;
    // the text of the last box.
    QString withFile(const char* action, const QString& path,
        std::initializer_list<QMessageBox::StandardButton> presses = { QMessageBox::Ok })
    {
        thenFile(path);
        for (QMessageBox::StandardButton press : presses)
            answerer->thenBox(press);
        trigger(action);
        return lastBox();
    }
    QString lastBox() const { return answerer->boxes.isEmpty() ? QString() : answerer->boxes.last().text; }
    QStringList stored() { return probe->inventory(); }
    QStringList storedHistory()
    {
        return probe->lines("SELECT * FROM sightings ORDER BY address")
            + probe->lines("SELECT scan, address FROM scan_answers ORDER BY 1, 2")
            + probe->lines("SELECT id, subnet, method, port, ended FROM scans ORDER BY id");
    }
    // Scans of 10.1.2.0/24, the first two sharing an address, each ended later than those stored.
    void recordScans(int count)
    {
        DB db;
        const QDateTime noon = QDateTime::fromString("2026-12-06T12:00:00Z", Qt::ISODate);
        const QVector<quint32> answered[] = { { 0x0a010203, 0x0a010209 }, { 0x0a010209, 0x0a010301 }, { 0x0a010203 } };
        for (int i = 0; i < count; ++i) {
            const QDateTime ended = noon.addSecs(60 * storedHistory().size());
            QVERIFY(scanHistory::record(
                db, { i ? "TCP" : "ICMP", quint16(i * 22), "10.1.2.0/24", ended, ended, 254, answered[i] })
                        .ok());
        }
    }
    int shownRows() const { return treeLines(window->findChild<QTreeView*>("tree")->model()).size(); }
    // A tree of three rows with texts a spreadsheet would take for formulas, and two hosts.
    void seedInventory()
    {
        QVERIFY(probe->exec("INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES ('10.0.0.0/8', NULL, "
                            "NULL, '=Орг, \"главная\"')"));
        QVERIFY(probe->exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('Север\nсклад', "
                            "'10.1.0.0/16', 1, '10.0.0.0/8')"));
        QVERIFY(probe->exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('-', '10.1.2.0/24', "
                            "2, '10.1.0.0/16')"));
        QVERIFY(probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.2.0/24', '10.1.2.3', '+7 900'), "
                            "('10.1.0.0/16', '10.1.0.9', '')"));
        window->load_data();
    }
    QString file(const QString& name) const { return dir->path() + '/' + name; }

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<ZarvinWindow> window;
    std::unique_ptr<hostsWindow> hosts;
    std::unique_ptr<DbProbe> probe;
    QStringList folders; // the folder each file dialog opened in
};

// Export, refusal into a full database, empty, import: the same tree and hosts.
void TestDataTransfer::inventoryExportedAndImported()
{
    seedInventory();
    const QStringList before = stored();
    QCOMPARE(withFile("exportCsv", file("inventory.csv")), "База данных выгружена в файл " + file("inventory.csv"));
    answerer->thenBox();
    trigger("importCsv");
    QVERIFY2(lastBox().contains("Сначала очистите базу данных"), qPrintable(lastBox()));
    answerer->thenBox(QMessageBox::Yes);
    trigger("deleteDB");
    QCOMPARE(stored(), QStringList());
    QCOMPARE(withFile("importCsv", file("inventory.csv")), "Импортировано: строк дерева — 3, хостов — 2.");
    QCOMPARE(stored(), before);
    QCOMPARE(shownRows(), 3);
    QCOMPARE(folders.last(), dir->path()); // the folder of the last file, for the session
}

// Backup (twice: Qt's dialog asks before replacing), a branch deleted, a hosts window open, restore:
// the branch back and the window reloaded. The live file itself and a No leave everything as it is.
void TestDataTransfer::backupAndRestore()
{
    seedInventory();
    recordScans(2);
    const QStringList before = stored(), history = storedHistory();
    QCOMPARE(history.size(), 3 + 2 + 2); // sightings, the last scan's answers, scans
    const QString written = "Резервная копия записана в файл " + file("copy.db");
    QCOMPARE(withFile("backupDb", file("copy.db")), written);
    QCOMPARE(withFile("backupDb", file("copy.db"), { QMessageBox::Yes, QMessageBox::Ok }), written);
    recordScans(3);
    QVERIFY(probe->exec("DELETE FROM subnets WHERE subnet = '10.1.2.0/24'"));
    QVERIFY(probe->exec("DELETE FROM hosts WHERE subnet = '10.1.2.0/24'"));
    hosts = std::make_unique<hostsWindow>("10.1.2.0/24");
    hosts->show();
    if (!onServer()) // a server has no file to choose
        QVERIFY2(
            withFile("restoreDb", dir->dbPath()).contains("Это и есть открытая база данных"), qPrintable(lastBox()));
    thenFile(file("copy.db"));
    answerer->then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); }); // No is the default
    trigger("restoreDb");
    QCOMPARE(stored().size(), 3);
    withFile("restoreDb", file("copy.db"), { QMessageBox::Yes, QMessageBox::Ok });
    QVERIFY2(answerer->boxes.at(answerer->boxes.size() - 2)
                 .text.contains("Сейчас в базе: строк дерева — 2, хостов — 1.\nВ копии: строк дерева — 3, хостов — 2."),
        qPrintable(answerer->boxes.at(answerer->boxes.size() - 2).text));
    QCOMPARE(stored(), before);
    QCOMPARE(storedHistory(), history);
    QCOMPARE(shownRows(), 3);
    QStandardItemModel* shown = hostRows(hosts.get());
    QCOMPARE(shown->rowCount(), 1);
    QCOMPARE(shown->index(0, 1).data().toString(), QString("+7 900"));
    if (!onServer())
        return;
    // A fresh server database takes the copy whole, and numbers later rows after the copy's ids.
    qputenv("ZARVIN_DATABASE", pgServer::newDatabase().toUtf8());
    QVERIFY(window->reopenDatabase().ok());
    probe = std::make_unique<DbProbe>(dir->dbPath());
    QCOMPARE(stored(), QStringList());
    withFile("restoreDb", file("copy.db"), { QMessageBox::Yes, QMessageBox::Ok });
    QCOMPARE(stored(), before);
    QCOMPARE(storedHistory(), history);
    QVERIFY(probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.0.0/16', '10.1.0.10', '')"));
}

// A colleague's semicolon list: the preview names what is new, changed and refused; Cancel writes
// nothing; Импортировать writes and the table shows the stored hosts. The table goes out as CSV.
void TestDataTransfer::hostListImportAndExport()
{
    QVERIFY(probe->exec("INSERT INTO subnets (subnet, name) VALUES ('192.168.1.0/24', 'Склад')"));
    QVERIFY(probe->exec("INSERT INTO hosts (subnet, host, note) VALUES ('192.168.1.0/24', '192.168.1.5', 'старое'), "
                        "('192.168.1.0/24', '192.168.1.6', 'остаётся')"));
    QFile list(file("colleague.csv"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.write("IP-адрес;Примечание\r\n192.168.1.10;принтер\r\n192.168.1.5;новое\r\n192.168.1.6;\r\n"
               "192.168.2.1;чужой\r\n192.168.1.255;\r\n");
    list.close();
    hosts = std::make_unique<hostsWindow>("192.168.1.0/24");
    hosts->show();
    QVERIFY(QTest::qWaitForWindowExposed(hosts.get()));
    QVERIFY(probe->exec("DELETE FROM subnets"));
    const QStringList before = stored();
    QStringList summaries;
    // The first import is refused: the subnet is no longer a row of the tree.
    for (const char* button : { "Cancel", "pbImportRows", "pbImportRows" }) {
        thenFile(file("colleague.csv"));
        answerer->then([&summaries, button](QWidget* w) {
            QCOMPARE(w->objectName(), QString("importWindow"));
            auto* refused = w->findChild<QTableWidget*>("refusedTable");
            summaries << w->findChild<QLabel*>("summary")->text() + "\n" + refused->item(0, 0)->text() + ": "
                    + refused->item(0, 2)->text() + "\n" + refused->item(1, 0)->text();
            QPushButton* press = w->findChild<QPushButton*>(button);
            if (!press) // the standard Cancel button has no object name
                for (QPushButton* b : w->findChildren<QPushButton*>())
                    if (b->objectName().isEmpty() && b->isEnabled())
                        press = b;
            QTest::mouseClick(press, Qt::LeftButton);
        });
        const bool refused = summaries.size() == 1;
        if (refused)
            answerer->thenBox();
        clickButton(hosts.get(), "pbImport");
        QTRY_COMPARE(answerer->pending(), 0);
        if (summaries.size() == 3)
            break;
        QCOMPARE(stored(), before);
        if (refused) {
            QCOMPARE(lastBox(),
                "Импорт не выполнен, база данных не изменилась.\nПодсеть 192.168.1.0/24 удалена из "
                "базы данных другим пользователем или в другом окне.");
            QVERIFY(probe->exec("INSERT INTO subnets (subnet, name) VALUES ('192.168.1.0/24', 'Склад')"));
        }
    }
    const QString summary = "Новых адресов: 1\nСохранённых адресов с новым примечанием: 1\nБез изменений: 1\n"
                            "Отклонено строк: 2\n5: Хост с адресом 192.168.2.1 не входит в подсеть 192.168.1.0/24\n6";
    QCOMPARE(summaries, QStringList({ summary, summary, summary }));
    QCOMPARE(stored(),
        QStringList({ "Склад|192.168.1.0/24|NULL|NULL|1", "192.168.1.0/24|192.168.1.5|новое",
            "192.168.1.0/24|192.168.1.6|остаётся", "192.168.1.0/24|192.168.1.10|принтер" }));
    QCOMPARE(hostRows(hosts.get())->rowCount(), 3);

    thenFile(file("out.csv"));
    answerer->thenBox();
    clickButton(hosts.get(), "pbExport");
    QTRY_COMPARE(answerer->pending(), 0);
    QFile out(file("out.csv"));
    QVERIFY(out.open(QIODevice::ReadOnly));
    // Bytes, not decoded text: decoding would drop a leading byte-order mark on both sides.
    QCOMPARE(out.readAll(),
        QByteArray(
            "\xEF\xBB\xBF"
            "IP-адрес хоста;Примечание\r\n192.168.1.5;новое\r\n192.168.1.6;остаётся\r\n192.168.1.10;принтер\r\n"));
}

QTEST_MAIN(TestDataTransfer)
#include "test_data_transfer.moc"
