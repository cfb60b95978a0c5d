#include "db/DB.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/addSubnetsWindow.h"
#include "tree/editSubnetsWindow.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

static const QString askDelete = QStringLiteral("Question Внимание!: Вы уверены, что хотите удалить этот элемент?");
static const QString askEmpty
    = QStringLiteral("Question Удалить таблицу: Вы действительно хотите удалить ВСЮ таблицу?");
static const QString org = QStringLiteral("10.0.0.0/8");
// The tree once the organisation has its two branches, the second renamed.
static const QStringList branches { "Корпорация|10.0.0.0/8", "  Север|10.1.0.0/16", "  Южный филиал|10.2.0.0/16" };

class TestTreeCommands : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir.reset(); // the previous directory restores the environment before the next one sets it
        dir = std::make_unique<TempDataDir>();
        answerer = std::make_unique<ModalAnswerer>();
        dialogTitles.clear();
    }
    void cleanup()
    {
        const QString problems = answerer->problems();
        window.reset(); // the next init() replaces the rest
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    void branchesAndRenaming();
    void branchesAddedRefusedAndRenamed();
    void deletionRefusedKeptOrRolledBack();
    void databaseEmptied();
    void staleTreeRefused();

private:
    void openWindow()
    {
        window = std::make_unique<ZarvinWindow>();
        window->resize(1600, 600); // every tool button visible, none in the overflow menu
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        probe = std::make_unique<DbProbe>(dir->dbPath());
    }

    // Rows (id, name, subnet, parent_id, parent_subnet) stored before the window opens.
    void openWithRows(const QVector<QVariantList>& rows)
    {
        DB {}; // the tables, for the rows
        QVERIFY(DbProbe(dir->dbPath()).addSubnets(rows));
        openWindow();
    }
    // Where the road's first two phases end, with a host in the organisation's list and in Север's.
    void openWithBranches()
    {
        openWithRows({ { 1, "Корпорация", org, QVariant(), QVariant() }, { 2, "Север", "10.1.0.0/16", 1, org },
            { 3, "Южный филиал", "10.2.0.0/16", 1, org } });
        QVERIFY(probe->exec("INSERT INTO hosts (subnet, host) VALUES ('10.0.0.0/8', '10.0.0.1'), "
                            "('10.1.0.0/16', '10.1.0.5')"));
    }

    QTreeView* tree() const { return window->findChild<QTreeView*>(QStringLiteral("tree")); }
    QStandardItemModel* model() const { return qobject_cast<QStandardItemModel*>(tree()->model()); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QModelIndex indexOf(const QString& subnet) const
    {
        const auto found
            = model()->match(model()->index(0, 1), Qt::DisplayRole, subnet, 1, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found[0].sibling(found[0].row(), 0);
    }

    void clickToolButton(const char* name)
    {
        QWidget* button = window->findChild<QToolBar*>(QStringLiteral("toolBar"))->widgetForAction(action(name));
        QVERIFY(button && button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void clickRow(const QString& subnet, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QVERIFY2(indexOf(subnet).isValid(), qPrintable(subnet));
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, modifiers, tree()->visualRect(indexOf(subnet)).center());
    }
    void rightClick(const QString& subnet = QString()) // none: below the rows
    {
        const QPoint pos = subnet.isEmpty() ? QPoint(5, tree()->viewport()->height() - 5)
                                            : tree()->visualRect(indexOf(subnet)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree()->viewport()->mapToGlobal(pos));
        QApplication::sendEvent(tree()->viewport(), &event);
    }

    // The organisation from the tool bar while the tree is empty, else a branch of `parent`.
    void add(const QString& name, const QString& address, int prefix, bool refused = false, const QString& parent = org)
    {
        const bool branch = model()->rowCount() > 0;
        if (branch)
            clickRow(parent);
        thenAddDialog(name, address, prefix);
        if (refused)
            answerer->thenBox();
        clickToolButton(branch ? "addRow" : "createOrg");
    }

    // The next modal must be a `Dialog`: `fill` types into it, then Ok is clicked.
    template <class Dialog> void thenDialog(std::function<void(Dialog&)> fill)
    {
        answerer->then([this, fill](QWidget* w) {
            if (auto* dialog = qobject_cast<Dialog*>(w)) {
                dialogTitles << dialog->windowTitle();
                fill(*dialog);
                clickDialogButton(dialog);
            } else {
                answerer->unexpected << QStringLiteral("expected ") + Dialog::staticMetaObject.className();
                w->close();
            }
        });
    }
    void thenAddDialog(const QString& name, const QString& address, int prefix)
    {
        thenDialog<addSubnetsWindow>([=](addSubnetsWindow& dialog) {
            typeText(dialog.nameEdit, name);
            typeText(dialog.addressEdit, address);
            for (int p = 32; p > prefix; --p)
                QTest::keyClick(dialog.maskBox, Qt::Key_Down);
        });
    }
    // `opened` receives the name and subnet the dialog opened with.
    void thenEditDialog(const QString& newName, QStringList* opened = nullptr)
    {
        thenDialog<editSubnetsWindow>([=](editSubnetsWindow& dialog) {
            if (opened)
                *opened = QStringList { dialog.nameEdit->text(), dialog.subnetLabel->text() };
            retype(dialog.nameEdit, newName);
        });
    }

    // Each row as "name|subnet", indented two blanks per level, as stored through parent_id,
    // flagging a parent_subnet that names another row than parent_id does.
    QStringList storedTree(const QVariant& parentId = QVariant(), int depth = 0)
    {
        QStringList lines;
        const auto rows = probe->rows("SELECT s.id, s.name, s.subnet, s.parent_subnet IS p.subnet FROM subnets s LEFT "
                                      "JOIN subnets p ON p.id = s.parent_id WHERE s.parent_id IS ? ORDER BY s.id",
            { parentId });
        for (const QVariantList& r : rows)
            lines << QString(depth * 2, ' ') + r[1].toString() + '|' + r[2].toString()
                    + (r[3].toBool() ? "" : " (parent_subnet names another row)")
                  << storedTree(r[0], depth + 1);
        return lines;
    }
    int count(const char* table) { return probe->rows(QStringLiteral("SELECT COUNT(*) FROM ") + table)[0][0].toInt(); }

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<ZarvinWindow> window;
    std::unique_ptr<DbProbe> probe;
    QStringList dialogTitles;
};

// The organisation from an empty tree, then branches. Two branches share a name, and then the
// current row is not the first selected one: each new branch hangs under the row it was checked
// against. Rows selected with no current row add nothing. A rename keeps the subnet and the
// branches, and an emptied name is stored as ''.
void TestTreeCommands::branchesAndRenaming()
{
    openWindow();
    add("Орг", "10.0.0.0", 8);
    add("Склад", "10.1.0.0", 16);
    add("Склад", "10.2.0.0", 16);
    add("Цех", "10.2.1.0", 24, false, "10.2.0.0/16");
    clickRow("10.1.0.0/16");
    clickRow("10.2.0.0/16", Qt::ControlModifier);
    QCOMPARE(window->firstSelectedSubnet(), std::optional<QString>("10.1.0.0/16"));
    QCOMPARE(window->currentSubnet(), std::optional<QString>("10.2.0.0/16"));
    thenAddDialog("Порт", "10.2.5.0", 24);
    clickToolButton("addRow");
    QTest::keyClick(tree(), Qt::Key_A, Qt::ControlModifier); // the reload left no current row
    QVERIFY(!tree()->selectionModel()->currentIndex().isValid());
    QVERIFY(!tree()->selectionModel()->selectedIndexes().isEmpty());
    thenAddDialog("Юг", "10.3.0.0", 16);
    answerer->thenBox();
    clickToolButton("addRow");
    QCOMPARE(boxTexts(*answerer),
        QStringList { "Warning Ошибка: Сначала выберите элемент для добавления дочернего элемента." });

    QStringList opened;
    clickRow("10.2.0.0/16");
    thenMenuEntry(*answerer, "Изменить строку");
    thenEditDialog(QString(), &opened);
    rightClick("10.2.0.0/16");
    QCOMPARE(opened, (QStringList { "Склад", "10.2.0.0/16" }));
    QCOMPARE(probe->rows("SELECT name IS NULL, name FROM subnets WHERE subnet = '10.2.0.0/16'"),
        (QVector<QVariantList> { { 0, "" } }));
    const QStringList expected { "Орг|10.0.0.0/8", "  Склад|10.1.0.0/16", "  |10.2.0.0/16", "    Цех|10.2.1.0/24",
        "    Порт|10.2.5.0/24" };
    QCOMPARE(storedTree() + treeLines(model()), expected + expected);
    QCOMPARE(count("subnets"), expected.size()); // no row stored out of the tree's reach
    QCOMPARE(dialogTitles.first(), QStringLiteral("Создать организцию"));
}

void TestTreeCommands::branchesAddedRefusedAndRenamed()
{
    openWithRows({ { 1, "Корпорация", org, QVariant(), QVariant() } });
    add("Копия", "10.9.9.9", 8, true); // the organisation's own network, without branches yet
    add("Север", "10.1.0.0", 16);
    clickRow(org);
    thenMenuEntry(*answerer, "Добавить строку");
    thenAddDialog("Юг", "10.2.0.0", 16);
    rightClick(org);
    add("Лишний", "10.1.2.0", 24, true);
    clickRow("10.2.0.0/16");
    thenEditDialog("Южный филиал");
    clickToolButton("editRow");
    QCOMPARE(storedTree() + treeLines(model()), branches + branches);
    const QString branch = QStringLiteral("Добавить филиал");
    QCOMPARE(dialogTitles, QStringList({ branch, branch, branch, branch, "Изменить запись" }));
    QCOMPARE(boxTexts(*answerer),
        (QStringList { "Critical Ошибка: Подсеть 10.0.0.0/8 уже существует!",
            "Critical Ошибка: 10.1.2.0/24 входит в существующую подсеть" }));
}

// Refused while the row has branches, kept on the default answer, and rolled back whole when its
// host list cannot go; the connection is usable afterwards, and the first selected row goes with
// its hosts.
void TestTreeCommands::deletionRefusedKeptOrRolledBack()
{
    openWithBranches();
    clickRow(org);
    thenMenuEntry(*answerer, "Удалить  строку");
    answerer->thenBox(QMessageBox::Yes);
    answerer->thenBox();
    rightClick(org);
    clickRow("10.1.0.0/16");
    answerer->then([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); }); // No is the default
    clickToolButton("deleteRow");
    QVERIFY(probe->exec("CREATE TRIGGER refuse BEFORE DELETE ON hosts BEGIN INSERT INTO missing VALUES (1); END"));
    answerer->thenBox(QMessageBox::Yes);
    answerer->thenBox();
    clickToolButton("deleteRow");
    const auto error = answerer->boxes.takeLast();
    QVERIFY2(error.icon == QMessageBox::Critical && error.title == "Ошибка" && error.text.contains("missing"),
        qPrintable(error.text));
    QCOMPARE(storedTree() + treeLines(model()), branches + branches);
    QCOMPARE(count("hosts"), 2);
    QVERIFY(probe->exec("DROP TRIGGER refuse"));
    clickRow("10.1.0.0/16");
    clickRow("10.2.0.0/16", Qt::ControlModifier);
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");
    const QStringList left { "Корпорация|10.0.0.0/8", "  Южный филиал|10.2.0.0/16" };
    QCOMPARE(storedTree() + treeLines(model()), left + left);
    QCOMPARE(probe->rows("SELECT host FROM hosts"), QVector<QVariantList> { { "10.0.0.1" } });
    QCOMPARE(treeActions(window.get()), QStringLiteral("deleteDB")); // the reload left nothing selected
    QCOMPARE(boxTexts(*answerer),
        (QStringList { askDelete, "Warning Ошибка!: Сначала необходимо удалить дочерние элементы", askDelete,
            askDelete })); // the No by Return is not recorded
}

// Kept on No; emptied from the context menu with nothing selected; a new organisation afterwards,
// whose deletion as the last row empties the tree as well.
void TestTreeCommands::databaseEmptied()
{
    openWithBranches();
    answerer->thenBox(QMessageBox::No);
    clickToolButton("deleteDB");
    QCOMPARE(storedTree(), branches);
    thenMenuEntry(*answerer, "Удалить базу данных");
    answerer->thenBox(QMessageBox::Yes);
    rightClick();
    QCOMPARE(count("subnets") + count("hosts"), 0);
    QCOMPARE(model()->rowCount() + model()->columnCount(), 0); // the header labels go too, until the next reload
    QCOMPARE(treeActions(window.get()), QStringLiteral("createOrg"));
    add("Новая", "192.168.0.0", 16);
    QCOMPARE(treeLines(model()), QStringList { "Новая|192.168.0.0/16" });
    clickRow("192.168.0.0/16"); // the last row deleted: as if emptied
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");
    QCOMPARE(storedTree() + treeLines(model()), QStringList());
    QCOMPARE(treeActions(window.get()), QStringLiteral("createOrg"));
    QCOMPARE(boxTexts(*answerer), QStringList({ askEmpty, askEmpty, askDelete }));
}

// Another program changed the file behind the tree on screen: a second organisation, a branch
// under a parent it deleted, and a rename of a row it deleted are refused with a box saying so;
// nothing is written and the tree is reloaded.
void TestTreeCommands::staleTreeRefused()
{
    openWindow();
    QVERIFY(probe->exec(
        "INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES (?, NULL, NULL, ?)", { org, "Чужая" }));
    add("Вторая", "172.16.0.0", 12, true);
    const QStringList theirs { "Чужая|10.0.0.0/8" };
    QCOMPARE(storedTree() + treeLines(model()), theirs + theirs);
    QCOMPARE(treeActions(window.get()), QStringLiteral("deleteDB"));

    add("Север", "10.1.0.0", 16);
    QVERIFY(probe->exec("DELETE FROM subnets WHERE subnet = '10.1.0.0/16'"));
    add("Подфилиал", "10.1.1.0", 24, true, "10.1.0.0/16");
    QCOMPARE(storedTree() + treeLines(model()), theirs + theirs);
    add("Юг", "10.2.0.0", 16);
    clickRow("10.2.0.0/16");
    thenDialog<editSubnetsWindow>([this](editSubnetsWindow& dialog) { // deleted while the dialog is open
        QVERIFY(probe->exec("DELETE FROM subnets WHERE subnet = '10.2.0.0/16'"));
        retype(dialog.nameEdit, "Южный");
    });
    answerer->thenBox();
    clickToolButton("editRow");
    QCOMPARE(storedTree() + treeLines(model()), theirs + theirs);
    const QString changed = " (дерево изменено другим пользователем или в другом окне): ";
    QCOMPARE(boxTexts(*answerer),
        (QStringList { "Critical Ошибка: В базе данных уже есть организация" + changed + "организация не добавлена",
            "Critical Ошибка: Подсеть 10.1.0.0/16 больше не существует" + changed + "филиал не добавлен",
            "Critical Ошибка: Подсеть 10.2.0.0/16 больше не существует" + changed + "строка не переименована" }));
}

QTEST_MAIN(TestTreeCommands)
#include "test_tree_commands.moc"
