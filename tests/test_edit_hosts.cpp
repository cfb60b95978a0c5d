#include "db/DB.h"
#include "gui/desktop.h"
#include "hosts/hostsWindow.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QPointer>
#include <QSqlDatabase>
#include <QTableView>
#include <QTest>
#include <QTreeView>

const QString branch = QStringLiteral("192.168.1.0/24");

static QList<hostsWindow*> hostsWindows()
{
    QList<hostsWindow*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<hostsWindow*>(w); h && h->isVisible())
            found << h;
    return found;
}

// Double clicks the row and returns the hosts window that opens, or null.
static hostsWindow* doubleClickRow(QTreeView* tree, const QModelIndex& row)
{
    const QList<hostsWindow*> before = hostsWindows();
    doubleClickCell(tree, row);
    if (QTest::qWaitFor([&] { return hostsWindows().size() > before.size(); }))
        for (hostsWindow* w : hostsWindows())
            if (!before.contains(w))
                return w;
    return nullptr;
}

class TestEditHosts : public QObject {
    Q_OBJECT

private slots:
    void newUserKeepsThreeHostsOfBranch();
};

void TestEditHosts::newUserKeepsThreeHostsOfBranch()
{
    TempDataDir dir;
    DB {};
    DbProbe probe(dir.dbPath());
    probe.exec(QStringLiteral("INSERT INTO subnets (id, subnet, parent_id, parent_subnet, name) VALUES "
                              "(1, '192.168.0.0/16', NULL, NULL, 'Организация'), "
                              "(2, ?, 1, '192.168.0.0/16', 'Филиал')"),
        { branch });
    ModalAnswerer answers;
    ZarvinWindow main;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    auto* tree = main.findChild<QTreeView*>(QStringLiteral("tree"));
    const QModelIndex branchRow = tree->model()->index(0, 0, tree->model()->index(0, 0));
    const int connections = QSqlDatabase::connectionNames().size();

    QPointer<hostsWindow> w = doubleClickRow(tree, branchRow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle(), QStringLiteral("Учет хостов для подсети 192.168.1.0/24"));
    QCOMPARE(w->pos(), centredPosition(desktopSize(), w->size(), 50));
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections + 1);
    auto* view = w->findChild<QTableView*>(QStringLiteral("tableView"));
    const QStringList addresses = { "192.168.1.10", "192.168.1.20", "192.168.1.30" };
    const QStringList notes = { "шлюз", "принтер", "сервер 1С" };
    answers.thenBox();
    for (int i = 0; i < 3; ++i) {
        clickButton(w, "pbAddRow");
        if (i == 2) // refused with the broadcast text
            QVERIFY(typeIntoCell(view, i, 0, QStringLiteral("192.168.1.255")));
        QVERIFY(typeIntoCell(view, i, 0, addresses[i]));
        QVERIFY(typeIntoCell(view, i, 1, notes[i]));
    }
    QCOMPARE(answers.boxes.size(), 1);
    QCOMPARE(answers.boxes[0].text,
        QStringLiteral("Адрес 192.168.1.255 является широковещательным для подсети 192.168.1.0/24"));
    answers.thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers.boxes.size(), 2);
    clickButton(w, "pbClose");
    QTRY_VERIFY(!w); // destroyed on close, with its connection
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections);

    w = doubleClickRow(tree, branchRow);
    QPointer<hostsWindow> twin = doubleClickRow(tree, branchRow); // the same branch again: a window of its own
    QVERIFY(w && twin && w != twin);
    view = w->findChild<QTableView*>(QStringLiteral("tableView"));
    QCOMPARE(view->model()->rowCount(), 0); // nothing shown before a load
    clickButton(w, "pbLoad");
    QCOMPARE(view->model()->rowCount(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(view->model()->index(i, 0).data().toString() + " " + view->model()->index(i, 1).data().toString(),
            addresses[i] + " " + notes[i]);
    clickCell(view, view->model()->index(1, 0));
    answers.thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers.boxes.size(), 3);
    QCOMPARE(probe.rows(QStringLiteral("SELECT subnet, host, note FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { branch, addresses[0], notes[0] }, { branch, addresses[2], notes[2] } }));
    qDeleteAll(hostsWindows());
    QVERIFY2(answers.unexpected.isEmpty(), qPrintable(answers.unexpected.join(QLatin1Char('\n'))));
    QCOMPARE(answers.pending(), 0);
}

QTEST_MAIN(TestEditHosts)
#include "test_edit_hosts.moc"
