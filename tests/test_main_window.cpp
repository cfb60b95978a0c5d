#include "db/DB.h"
#include "db/connectionSettings.h"
#include "hosts/hostsWindow.h"
#include "tests/support/modelText.h"
#include "tests/support/pgServer.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/treeModel.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include <memory>

namespace {

const QString title = "Зарвин: адресный план организации";

QString databaseOf(const QString& url)
{
    return url.section('?', 0, 0).section('/', -1);
}

QString socketOf(const QString& url)
{
    return url.section("?host=", 1);
}

// Fills the connection dialog's server fields and presses «Проверить»: what it said.
QString checkServer(QWidget* dialog, const QString& socket, const QString& database)
{
    dialog->findChild<QRadioButton*>("server")->click();
    retype(dialog->findChild<QLineEdit*>("host"), socket);
    retype(dialog->findChild<QLineEdit*>("database"), database);
    retype(dialog->findChild<QLineEdit*>("user"), "postgres");
    clickButton(dialog, "check");
    return dialog->findChild<QLabel*>("result")->text();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<TempDataDir>();
        DB schema; // creates the tables for seeding
    }
    void cleanup() { dir.reset(); }

    void treeSkipsOrphansAndForwardParents()
    {
        const QVector<QVariantList> rows { { 1, "Org", "10.0.0.0/8", QVariant(), QVariant() },
            { 2, "North", "10.1.0.0/16", 1, "10.0.0.0/8" }, { 3, "Orphan", "10.2.0.0/16", 99, "10.0.0.0/8" },
            { 4, "Under orphan", "10.2.1.0/24", 3, "10.2.0.0/16" }, { 5, "Forward", "10.3.0.0/16", 6, "10.0.0.0/8" },
            { 6, "South", "10.4.0.0/16", 1, "10.0.0.0/8" }, { 7, "North desk", "10.1.1.0/24", 2, "10.1.0.0/16" },
            { 8, "Top despite parent subnet", "192.168.0.0/16", QVariant(), "10.0.0.0/8" } };
        seed(rows);
        ZarvinWindow w;
        auto* tree = w.findChild<QTreeView*>("tree");
        const QStringList shown { "Org|10.0.0.0/8", "  North|10.1.0.0/16", "    North desk|10.1.1.0/24",
            "  South|10.4.0.0/16", "Top despite parent subnet|192.168.0.0/16" };
        QCOMPARE(treeLines(tree->model()), shown);
        // A server returns a renamed row after the others: the tree is the same.
        QStandardItemModel reordered;
        QVector<QVariantList> lastFirst(rows.crbegin(), rows.crend());
        treeModel::fill(reordered, lastFirst);
        QCOMPARE(treeLines(&reordered), shown);
        const QModelIndex north = tree->model()->index(0, 0, tree->model()->index(0, 0));
        QVERIFY(tree->isExpanded(tree->model()->index(0, 0)));
        QVERIFY(tree->isExpanded(north));
        QVERIFY(tree->selectionModel()->selectedIndexes().isEmpty());
    }

    // Empty, then with rows: the headers, the commands and the context menu follow the rows and the selection.
    void actionsAndMenuFollowTheSelection()
    {
        ZarvinWindow w;
        auto* tree = w.findChild<QTreeView*>("tree");
        QCOMPARE(tree->model()->headerData(0, Qt::Horizontal).toString(), QString("Наименование"));
        QCOMPARE(tree->model()->headerData(1, Qt::Horizontal).toString(), QString("Подсеть"));
        QCOMPARE(menuEntries(w.buildContextMenu()), QStringList({ "Создать организцию" }));
        seed({ { 1, "Org", "10.0.0.0/8", QVariant(), QVariant() }, { 2, "North", "10.1.0.0/16", 1, "10.0.0.0/8" } });
        w.load_data();
        QCOMPARE(menuEntries(w.buildContextMenu()),
            QStringList({ "Добавить строку [off]", "---", "Удалить  строку [off]", "Удалить базу данных" }));

        const QModelIndex north = tree->model()->index(0, 0, tree->model()->index(0, 0));
        tree->selectionModel()->select(north, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QCOMPARE(w.firstSelectedSubnet(), std::optional<QString>("10.1.0.0/16"));
        QCOMPARE(treeActions(&w), QString("addRow editRow deleteRow deleteDB hosts"));
        QCOMPARE(menuEntries(w.buildContextMenu()),
            QStringList({ "Добавить строку", "Изменить строку", "---", "Удалить  строку", "Удалить базу данных", "---",
                "Калькулятор подсети", "Учет хостов", "Свободные подсети…" }));

        tree->selectionModel()->clearSelection();
        QCOMPARE(treeActions(&w), QString("deleteDB"));
        QCOMPARE(enabledActions(&w, { "calculate", "close" }), QString("calculate close"));
    }

    // A tree that cannot be read is reported, the last one stays, and the stored one shows once the file is free.
    void lockedDatabaseIsReportedAndRecovered()
    {
        seed({ { 1, "Org", "10.0.0.0/8", QVariant(), QVariant() } });
        ShortBusyTimeout shortWait;
        ZarvinWindow w;
        auto* tree = w.findChild<QTreeView*>("tree");
        {
            DbProbe locker(dir->dbPath());
            QVERIFY(locker.exec("BEGIN EXCLUSIVE"));
            ModalAnswerer answerer;
            answerer.thenBox();
            w.load_data();
            QCOMPARE(answerer.boxes.size(), 1);
            QCOMPARE(answerer.boxes.at(0).title, QString("Ошибка"));
            QCOMPARE(answerer.boxes.at(0).icon, QMessageBox::Critical);
            QVERIFY(!answerer.boxes.at(0).text.isEmpty());
            QCOMPARE(treeLines(tree->model()), QStringList({ "Org|10.0.0.0/8" }));
            QVERIFY(locker.exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('North', "
                                "'10.1.0.0/16', 1, '10.0.0.0/8')"));
            QVERIFY(locker.exec("COMMIT"));
        }
        w.load_data();
        QCOMPARE(treeLines(tree->model()), QStringList({ "Org|10.0.0.0/8", "  North|10.1.0.0/16" }));
    }

    // On a server the title names the database and the server; a role that may only read views.
    void titleSaysWhereTheDataIs_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("file") << ""
                              << "";
        QTest::newRow("server, viewer") << "zarvin_viewer"
                                        << " — %1 на %2 (только чтение)";
    }
    void titleSaysWhereTheDataIs()
    {
        QFETCH(QString, role);
        QFETCH(QString, suffix);
        const QString url = role.isEmpty() ? QString() : pgServer::newDatabase();
        const QString database = databaseOf(url);
        if (!role.isEmpty())
            QVERIFY(QFile::remove(dir->dbPath()));
        qputenv("ZARVIN_DATABASE", url.toUtf8());
        QVERIFY(DB().status().ok()); // the owner makes the tables
        std::unique_ptr<ServerRole> viewer(role == "zarvin_viewer" ? new ServerRole(url, ServerRole::Viewer) : nullptr);
        QVERIFY(!viewer || viewer->made());
        ZarvinWindow w;
        viewer.reset();
        qunsetenv("ZARVIN_DATABASE");
        QVERIFY(w.dbStatus().ok());
        QCOMPARE(w.windowTitle(), title + (role.isEmpty() ? suffix : suffix.arg(database, socketOf(url))));
        QCOMPARE(QFile::exists(dir->dbPath()), role.isEmpty()); // no file beside the server
    }

    // The dialog's fields as the URI libpq reads; what the fields do not show stays.
    void serverUrls_data()
    {
        QTest::addColumn<QStringList>("fields"); // host, port, database, user
        QTest::addColumn<QString>("earlier");
        QTest::addColumn<QString>("url");
        QTest::newRow("name and port") << QStringList { "db.example", "5433", "inventory", "editor" } << ""
                                       << "postgresql://editor@db.example:5433/inventory";
        QTest::newRow("socket, no user")
            << QStringList { "/run/postgresql", "5432", "опись", "" } << ""
            << "postgresql:///%D0%BE%D0%BF%D0%B8%D1%81%D1%8C?host=/run/postgresql&port=5432";
        QTest::newRow("IPv6, sslmode kept")
            << QStringList { "::1", "", "inventory", "a@b" } << "postgresql://x@old/db?host=/tmp&sslmode=require&port=1"
            << "postgresql://a%40b@[::1]/inventory?sslmode=require";
    }
    void serverUrls()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, earlier);
        QFETCH(QString, url);
        QCOMPARE(connectionSettings::urlOf({ fields[0], fields[1], fields[2], fields[3] }, earlier), url);
        const connectionSettings::Server back = connectionSettings::serverOf(url);
        QCOMPARE(QStringList({ back.host, back.port, back.database, back.user }), fields);
    }

    // The connection dialog tries a server, saves the choice, and the program goes over to it:
    // other windows closed, the tree read from there.
    void connectionDialogMovesToTheServer()
    {
        seed({ { 1, "Org", "10.0.0.0/8", QVariant(), QVariant() } });
        const QString url = pgServer::newDatabase();
        ZarvinWindow w;
        w.show();
        auto* tree = w.findChild<QTreeView*>("tree");
        tree->setCurrentIndex(tree->model()->index(0, 0));
        w.editHosts();
        QCOMPARE(visibleWindows<hostsWindow>().size(), 1);
        QString bad, good;
        ModalAnswerer answerer;
        answerer.then([&](QWidget* dialog) {
            QCOMPARE(dialog->objectName(), QString("connectionWindow"));
            bad = checkServer(dialog, socketOf(url), "nosuchdb");
            good = checkServer(dialog, socketOf(url), databaseOf(url));
            retype(dialog->findChild<QLineEdit*>("password"), "p:w\\d");
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        w.findChild<QAction*>("connectDb")->trigger();
        QVERIFY2(answerer.problems().isEmpty(), qPrintable(answerer.problems()));
        QVERIFY2(bad.startsWith("Не удалось подключиться: ") && bad.contains("nosuchdb"), qPrintable(bad));
        QVERIFY2(good.startsWith("Подключение установлено: база данных " + databaseOf(url)), qPrintable(good));
        QCOMPARE(QSettings(dir->settingsPath(), QSettings::IniFormat).value("Database/url").toString(), url);
        QCOMPARE(w.windowTitle(), title + " — " + databaseOf(url) + " на " + socketOf(url));
        QCOMPARE(treeLines(tree->model()), QStringList());
        QCOMPARE(treeActions(&w), QString("createOrg"));
        QTRY_VERIFY(visibleWindows<hostsWindow>().isEmpty());
        const QString pgpass = QDir::homePath() + "/.pgpass"; // the test's own home
        QVERIFY(
            QString(fileBytes(pgpass)).contains(socketOf(url) + ":*:" + databaseOf(url) + ":postgres:p\\:w\\\\d\n"));
        QCOMPARE(QFileInfo(pgpass).permissions() & 0x0077, QFile::Permissions());
    }

private:
    void seed(const QVector<QVariantList>& rows) { QVERIFY(DbProbe(dir->dbPath()).addSubnets(rows)); }

    std::unique_ptr<TempDataDir> dir;
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
