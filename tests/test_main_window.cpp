#include "db/DB.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/treeModel.h"

#include <QAction>
#include <QMenu>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include <memory>

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
        QCOMPARE(tree->selectionModel()->selectedIndexes().size(), 2);
        QCOMPARE(tree->selectionModel()->selectedIndexes().at(0).data().toString(), QString("North"));
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

private:
    void seed(const QVector<QVariantList>& rows) { QVERIFY(DbProbe(dir->dbPath()).addSubnets(rows)); }

    std::unique_ptr<TempDataDir> dir;
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
