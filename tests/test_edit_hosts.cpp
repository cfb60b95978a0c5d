#include "app/desktop.h"
#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "tests/hostsTestHelpers.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QAction>
#include <QFile>
#include <QPointer>
#include <QSqlDatabase>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

const QString org = QStringLiteral("192.168.0.0/16");
const QString branch = QStringLiteral("192.168.1.0/24");

QList<hostsWindow*> openHostsWindows()
{
    QList<hostsWindow*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* h = qobject_cast<hostsWindow*>(w); h && h->isVisible())
            found << h;
    return found;
}

} // namespace

// Host accounting as it is opened from the organisation tree.
class TestEditHosts : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void centringRule();
    void doubleClickOpensWindowOfRow();
    void sameBranchTwiceGivesTwoWindows();
    void nothingSelectedOpensNothing();
    void twoRowsSelectedOpensFirst();
    void unreadableDatabaseShowsError();
    void newUserKeepsThreeHostsOfBranch();

private:
    void buildMain();
    QTreeView* tree() const { return main->findChild<QTreeView*>(QStringLiteral("tree")); }
    QModelIndex orgRow() const { return tree()->model()->index(0, 0); }
    QModelIndex branchRow() const { return tree()->model()->index(0, 0, orgRow()); }
    hostsWindow* doubleClickRow(const QModelIndex& row);

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<DbProbe> probe;
    std::unique_ptr<ModalAnswerer> answers;
    std::unique_ptr<ZarvinWindow> main;
};

void TestEditHosts::init()
{
    dir = std::make_unique<TempDataDir>();
    {
        DB schema;
    }
    probe = std::make_unique<DbProbe>(dir->dbPath());
    probe->exec(QStringLiteral("INSERT INTO subnets (id, subnet, parent_id, parent_subnet, name) VALUES (1, ?, NULL, "
                               "NULL, 'Организация')"),
        { org });
    probe->exec(QStringLiteral("INSERT INTO subnets (id, subnet, parent_id, parent_subnet, name) VALUES (2, ?, 1, ?, "
                               "'Филиал')"),
        { branch, org });
    answers = std::make_unique<ModalAnswerer>();
}

void TestEditHosts::cleanup()
{
    for (hostsWindow* w : openHostsWindows())
        delete w;
    main.reset();
    const QStringList unexpected = answers->unexpected;
    answers.reset();
    probe.reset();
    dir.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
}

void TestEditHosts::buildMain()
{
    main = std::make_unique<ZarvinWindow>();
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
}

hostsWindow* TestEditHosts::doubleClickRow(const QModelIndex& row)
{
    const int before = openHostsWindows().size();
    doubleClickCell(tree(), row);
    if (!QTest::qWaitFor([&] { return openHostsWindows().size() == before + 1; }, 5000))
        return nullptr;
    hostsWindow* opened = nullptr;
    for (hostsWindow* w : openHostsWindows())
        if (!opened || w->property("seen").isNull())
            opened = w->property("seen").isNull() ? w : opened;
    opened->setProperty("seen", true);
    return opened;
}

void TestEditHosts::centringRule()
{
    QCOMPARE(centredPosition(QSize(1920, 1080), QSize(800, 600), 50), QPoint(560, 190));
}

void TestEditHosts::doubleClickOpensWindowOfRow()
{
    buildMain();
    const int connections = QSqlDatabase::connectionNames().size();
    QPointer<hostsWindow> w = doubleClickRow(branchRow());
    QVERIFY(w);
    QCOMPARE(w->subnet(), branch);
    QCOMPARE(w->windowTitle(), QStringLiteral("Учет хостов для подсети 192.168.1.0/24"));
    QVERIFY(!w->isModal());
    QVERIFY(w->isWindow());
    QCOMPARE(w->pos(), centredPosition(desktopSize(), w->size(), 50));
    QCOMPARE(modelOf(w)->rowCount(), 0);
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections + 1);
    // The main window stays usable beside it.
    QVERIFY(QApplication::activeModalWidget() == nullptr);

    clickButton(w, "pbClose");
    QTRY_VERIFY(!w); // destroyed on close, with its connection
    QCOMPARE(QSqlDatabase::connectionNames().size(), connections);
}

void TestEditHosts::sameBranchTwiceGivesTwoWindows()
{
    buildMain();
    hostsWindow* first = doubleClickRow(branchRow());
    hostsWindow* second = doubleClickRow(branchRow());
    QVERIFY(first && second);
    QVERIFY(first != second);
    QCOMPARE(first->subnet(), branch);
    QCOMPARE(second->subnet(), branch);
    QCOMPARE(openHostsWindows().size(), 2);
}

void TestEditHosts::nothingSelectedOpensNothing()
{
    buildMain();
    QVERIFY(tree()->selectionModel()->selectedIndexes().isEmpty());
    main->editHosts();
    QTest::qWait(0); // let a wrongly opened window or box show
    QVERIFY(openHostsWindows().isEmpty());
    QVERIFY(answers->boxes.isEmpty());
}

void TestEditHosts::twoRowsSelectedOpensFirst()
{
    buildMain();
    clickCell(tree(), orgRow());
    clickCell(tree(), branchRow(), Qt::ControlModifier);
    QCOMPARE(tree()->selectionModel()->selectedRows().size(), 2);
    QAction* hosts = main->findChild<QAction*>(QStringLiteral("hosts"));
    QVERIFY(hosts && hosts->isEnabled());
    hosts->trigger();
    QTRY_COMPARE(openHostsWindows().size(), 1);
    QCOMPARE(openHostsWindows().first()->subnet(), org);
}

void TestEditHosts::unreadableDatabaseShowsError()
{
    buildMain();
    {
        QFile file(dir->dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(4096, 'x'));
    }
    answers->thenBox();
    doubleClickCell(tree(), branchRow());
    QTRY_COMPARE(answers->boxes.size(), 1);
    QCOMPARE(answers->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answers->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY(!answers->boxes[0].text.isEmpty());
    QVERIFY(openHostsWindows().isEmpty());
}

void TestEditHosts::newUserKeepsThreeHostsOfBranch()
{
    buildMain();
    QPointer<hostsWindow> w = doubleClickRow(branchRow());
    QVERIFY(w);
    QTableView* view = tableOf(w);
    const QStringList addresses = { "192.168.1.10", "192.168.1.20", "192.168.1.30" };
    const QStringList notes = { "шлюз", "принтер", "сервер 1С" };
    for (int i = 0; i < 3; ++i) {
        clickButton(w, "pbAddRow");
        if (i == 2) {
            answers->thenBox();
            QVERIFY(typeIntoCell(view, i, 0, "192.168.1.255"));
            QCOMPARE(answers->boxes.size(), 1);
            QCOMPARE(answers->boxes[0].text,
                QStringLiteral("Адрес 192.168.1.255 является широковещательным для подсети 192.168.1.0/24"));
            QCOMPARE(modelOf(w)->index(i, 0).data().toString(), QString());
        }
        QVERIFY(typeIntoCell(view, i, 0, addresses[i]));
        QVERIFY(typeIntoCell(view, i, 1, notes[i]));
    }
    answers->thenBox();
    clickButton(w, "pbSave");
    QTRY_COMPARE(answers->boxes.size(), 2);
    QCOMPARE(answers->boxes[1].title, QStringLiteral("Внимание!"));
    clickButton(w, "pbClose");
    QTRY_VERIFY(!w);

    w = doubleClickRow(branchRow());
    QVERIFY(w);
    QCOMPARE(modelOf(w)->rowCount(), 0);
    clickButton(w, "pbLoad");
    QStandardItemModel* model = modelOf(w);
    QCOMPARE(model->rowCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(model->index(i, 0).data().toString(), addresses[i]);
        QCOMPARE(model->index(i, 1).data().toString(), notes[i]);
    }
    clickCell(tableOf(w), model->index(1, 0));
    answers->thenBox(QMessageBox::Yes);
    clickButton(w, "pbDeleteRows");
    QTRY_COMPARE(answers->boxes.size(), 3);
    QCOMPARE(probe->rows(QStringLiteral("SELECT subnet, host, note FROM hosts ORDER BY id")),
        QVector<QVariantList>({ { branch, addresses[0], notes[0] }, { branch, addresses[2], notes[2] } }));
    QCOMPARE(modelOf(w)->rowCount(), 2);
    QVERIFY(answers->pending() == 0);
}

QTEST_MAIN(TestEditHosts)
#include "test_edit_hosts.moc"
