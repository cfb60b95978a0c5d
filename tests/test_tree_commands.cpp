#include "db/DB.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/addSubnetsWindow.h"
#include "tree/editSubnetsWindow.h"

#include <QAction>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardItemModel>
#include <QToolBar>
#include <QTreeView>
#include <QtTest>

#include <memory>

namespace {

const QString selectFirst = QStringLiteral("Сначала выберите элемент для добавления дочернего элемента.");
const QString askDelete = QStringLiteral("Вы уверены, что хотите удалить этот элемент?");
const QString askEmpty = QStringLiteral("Вы действительно хотите удалить ВСЮ таблицу?");
const QString hasChildren = QStringLiteral("Сначала необходимо удалить дочерние элементы");

// A row to seed: name, subnet, parent subnet (empty for the organisation).
struct Seed {
    QString name;
    QString subnet;
    QString parent;
};

} // namespace

class TestTreeCommands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void createsTheOrganisation_data();
    void createsTheOrganisation();
    void cancelledOrRefusedAdditionStoresNothing();
    void branchCommandWithoutCurrentRowInsertsNothing();
    void branchEqualToItsParentIsReportedAsExisting();
    void duplicateNamesLinkTheBranchToTheValidatedParent();
    void currentRowIsTheParentWhenSelectionDiffers();

    void deleteLeafRemovesItsHostList();
    void deleteAnsweredNoOrClosedChangesNothing_data();
    void deleteAnsweredNoOrClosedChangesNothing();
    void deleteRowWithChildrenRemovesNothing();
    void deleteActsOnTheFirstSelectedRow();
    void deletingTheLastRowAllowsANewOrganisation();
    void emptyingTheDatabase_data();
    void emptyingTheDatabase();

    void renameKeepsSubnetAndChildren();
    void clearedNameIsStoredAsEmptyText();
    void renameWithoutCurrentRowChangesNothing();

    void failedDeletionIsRolledBack();
    void failedEmptyingIsRolledBack();
    void failedInsertOrRenameIsReported_data();
    void failedInsertOrRenameIsReported();
    void additionDialogThatCannotOpenTheDatabaseIsNotShown();

    void newUserRoad();

private:
    void seed(const QVector<Seed>& rows);
    void seedHost(const QString& subnet, const QString& host);
    void openWindow();

    QTreeView* tree() const { return window->findChild<QTreeView*>(QStringLiteral("tree")); }
    QStandardItemModel* model() const { return qobject_cast<QStandardItemModel*>(tree()->model()); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(QString::fromLatin1(name)); }
    QModelIndex indexOf(const QString& subnet) const;

    // What a user does.
    void clickToolButton(const char* actionName);
    void clickRow(const QString& subnet, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void rightClick(const QString& subnet = QString());

    // Handlers for the modals that will open, in order.
    void thenMenuEntry(const QString& text);
    void thenAddDialog(const QString& name, const QString& address, int prefix);
    void thenEditDialog(const QString& newName);
    void thenCancel();

    // Each tree row as "name|subnet", indented two blanks per level.
    QStringList shownTree() const;
    // The same picture drawn from the database through parent_id; checks that parent_subnet
    // names the same row.
    QStringList storedTree();
    QStringList boxTexts() const;
    void verifyActions(bool createOrg, bool addRow, bool editRow, bool deleteRow, bool deleteDB, bool hosts);

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<ZarvinWindow> window;
    std::unique_ptr<DbProbe> probe;
    QStringList dialogTitles;
    QStringList editFields; // name and subnet the edit dialog opened with
};

void TestTreeCommands::init()
{
    dir.reset(); // the previous directory restores the environment before the next one sets it
    dir = std::make_unique<TempDataDir>();
    answerer = std::make_unique<ModalAnswerer>();
    dialogTitles.clear();
    editFields.clear();
}

void TestTreeCommands::cleanup()
{
    const QStringList unexpected = answerer->unexpected;
    const int pending = answerer->pending();
    window.reset();
    probe.reset();
    answerer.reset();
    dir.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join("; ")));
    QCOMPARE(pending, 0);
}

void TestTreeCommands::seed(const QVector<Seed>& rows)
{
    DB schema;
    DbProbe p(dir->dbPath());
    for (const Seed& s : rows) {
        if (s.parent.isEmpty()) {
            QVERIFY(p.exec("INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES (?, NULL, NULL, ?)",
                           {s.subnet, s.name}));
            continue;
        }
        const auto parent = p.rows("SELECT id FROM subnets WHERE subnet = ?", {s.parent});
        QCOMPARE(parent.size(), 1);
        QVERIFY(p.exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?)",
                       {s.name, s.subnet, parent[0][0], s.parent}));
    }
}

void TestTreeCommands::seedHost(const QString& subnet, const QString& host)
{
    DbProbe p(dir->dbPath());
    QVERIFY(p.exec("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)", {subnet, host, "note"}));
}

void TestTreeCommands::openWindow()
{
    window = std::make_unique<ZarvinWindow>();
    window->resize(1600, 600); // every tool button visible, none in the overflow menu
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    probe = std::make_unique<DbProbe>(dir->dbPath());
}

QModelIndex TestTreeCommands::indexOf(const QString& subnet) const
{
    std::function<QModelIndex(const QModelIndex&)> find = [&](const QModelIndex& parent) {
        for (int r = 0; r < model()->rowCount(parent); ++r) {
            const QModelIndex name = model()->index(r, 0, parent);
            if (name.sibling(r, 1).data().toString() == subnet)
                return name;
            const QModelIndex below = find(name);
            if (below.isValid())
                return below;
        }
        return QModelIndex();
    };
    return find(QModelIndex());
}

void TestTreeCommands::clickToolButton(const char* actionName)
{
    auto* bar = window->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QWidget* button = bar->widgetForAction(action(actionName));
    QVERIFY(button && button->isVisible());
    QTest::mouseClick(button, Qt::LeftButton);
}

void TestTreeCommands::clickRow(const QString& subnet, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex index = indexOf(subnet);
    QVERIFY2(index.isValid(), qPrintable(subnet));
    QTest::mouseClick(tree()->viewport(), Qt::LeftButton, modifiers, tree()->visualRect(index).center());
}

void TestTreeCommands::rightClick(const QString& subnet)
{
    QPoint pos(5, tree()->viewport()->height() - 5); // below the rows
    if (!subnet.isEmpty())
        pos = tree()->visualRect(indexOf(subnet)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, tree()->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(tree()->viewport(), &event);
}

void TestTreeCommands::thenMenuEntry(const QString& text)
{
    answerer->then([this, text](QWidget* w) {
        auto* menu = qobject_cast<QMenu*>(w);
        QAction* chosen = nullptr;
        for (QAction* a : menu ? menu->actions() : QList<QAction*>())
            if (a->text() == text && a->isEnabled())
                chosen = a;
        if (!chosen) {
            answerer->unexpected << QStringLiteral("no enabled menu entry ") + text;
            w->close();
            return;
        }
        menu->setActiveAction(chosen);
        // Pressed once this handler has returned: the entry opens modals of its own.
        QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
    });
}

void TestTreeCommands::thenAddDialog(const QString& name, const QString& address, int prefix)
{
    answerer->then([=](QWidget* w) {
        auto* dialog = qobject_cast<addSubnetsWindow*>(w);
        if (!dialog) {
            answerer->unexpected << QStringLiteral("expected the addition dialog");
            w->close();
            return;
        }
        dialogTitles << dialog->windowTitle();
        typeText(dialog->first, name);
        typeText(dialog->second, address);
        for (int p = 32; p > prefix; --p)
            QTest::keyClick(dialog->masks, Qt::Key_Down);
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
}

void TestTreeCommands::thenEditDialog(const QString& newName)
{
    answerer->then([=](QWidget* w) {
        auto* dialog = qobject_cast<editSubnetsWindow*>(w);
        if (!dialog) {
            answerer->unexpected << QStringLiteral("expected the edit dialog");
            w->close();
            return;
        }
        dialogTitles << dialog->windowTitle();
        editFields = QStringList{dialog->first->text(), dialog->label->text()};
        QTest::keyClick(dialog->first, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(dialog->first, Qt::Key_Delete);
        typeText(dialog->first, newName);
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
}

void TestTreeCommands::thenCancel()
{
    answerer->then([this](QWidget* w) {
        auto* buttons = w->findChild<QDialogButtonBox*>();
        if (!buttons) {
            answerer->unexpected << QStringLiteral("expected a dialog with Ok and Cancel");
            w->close();
            return;
        }
        dialogTitles << w->windowTitle();
        QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    });
}

QStringList TestTreeCommands::shownTree() const
{
    QStringList lines;
    std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
        for (int r = 0; r < model()->rowCount(parent); ++r) {
            const QModelIndex name = model()->index(r, 0, parent);
            lines << QString(depth * 2, QLatin1Char(' ')) + name.data().toString() + QLatin1Char('|')
                    + name.sibling(r, 1).data().toString();
            if (model()->rowCount(name) > 0 && !tree()->isExpanded(name))
                lines << QStringLiteral("(collapsed)");
            walk(name, depth + 1);
        }
    };
    walk(QModelIndex(), 0);
    return lines;
}

QStringList TestTreeCommands::storedTree()
{
    const auto rows = probe->rows("SELECT id, name, subnet, parent_id, parent_subnet FROM subnets ORDER BY id");
    QHash<qint64, QString> subnetOfId;
    for (const QVariantList& r : rows)
        subnetOfId.insert(r[0].toLongLong(), r[2].toString());
    QStringList lines;
    std::function<void(const QVariant&, int)> walk = [&](const QVariant& parentId, int depth) {
        for (const QVariantList& r : rows) {
            if (r[3].isNull() != parentId.isNull() || (!parentId.isNull() && r[3].toLongLong() != parentId.toLongLong()))
                continue;
            const QString linked = parentId.isNull() ? QString() : subnetOfId.value(parentId.toLongLong());
            if (r[4].toString() != linked || r[4].isNull() != parentId.isNull())
                lines << QStringLiteral("(parent_subnet %1 but parent_id names %2)").arg(r[4].toString(), linked);
            lines << QString(depth * 2, QLatin1Char(' ')) + r[1].toString() + QLatin1Char('|') + r[2].toString();
            walk(r[0], depth + 1);
        }
    };
    walk(QVariant(), 0);
    return lines;
}

QStringList TestTreeCommands::boxTexts() const
{
    QStringList texts;
    for (const auto& b : answerer->boxes)
        texts << b.title + QStringLiteral(": ") + b.text;
    return texts;
}

void TestTreeCommands::verifyActions(bool createOrg, bool addRow, bool editRow, bool deleteRow, bool deleteDB,
                                     bool hosts)
{
    QCOMPARE(action("createOrg")->isEnabled(), createOrg);
    QCOMPARE(action("addRow")->isEnabled(), addRow);
    QCOMPARE(action("editRow")->isEnabled(), editRow);
    QCOMPARE(action("deleteRow")->isEnabled(), deleteRow);
    QCOMPARE(action("deleteDB")->isEnabled(), deleteDB);
    QCOMPARE(action("hosts")->isEnabled(), hosts);
}

// ---------------------------------------------------------------------------------------------
// Adding

void TestTreeCommands::createsTheOrganisation_data()
{
    QTest::addColumn<bool>("fromContextMenu");
    QTest::newRow("tool bar") << false;
    QTest::newRow("context menu") << true;
}

void TestTreeCommands::createsTheOrganisation()
{
    QFETCH(bool, fromContextMenu);
    openWindow();
    QCOMPARE(action("createOrg")->isEnabled(), true);
    QCOMPARE(action("deleteDB")->isEnabled(), false);
    if (fromContextMenu)
        thenMenuEntry(QStringLiteral("Создать организцию"));
    thenAddDialog(QStringLiteral("Головной офис"), QStringLiteral("10.1.2.3"), 8);
    if (fromContextMenu)
        rightClick();
    else
        clickToolButton("createOrg");

    QCOMPARE(dialogTitles, QStringList{QStringLiteral("Создать организцию")});
    QVERIFY(answerer->boxes.isEmpty());
    const auto rows = probe->rows("SELECT name, subnet, parent_id IS NULL, parent_subnet IS NULL FROM subnets");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0], (QVariantList{"Головной офис", "10.0.0.0/8", 1, 1}));
    QCOMPARE(shownTree(), QStringList{QStringLiteral("Головной офис|10.0.0.0/8")});
    QCOMPARE(action("createOrg")->isEnabled(), false);
    QCOMPARE(action("deleteDB")->isEnabled(), true);
}

void TestTreeCommands::cancelledOrRefusedAdditionStoresNothing()
{
    openWindow();
    thenCancel();
    clickToolButton("createOrg");
    thenAddDialog(QStringLiteral("Офис"), QString(), 32);
    answerer->thenBox();
    clickToolButton("createOrg");

    QCOMPARE(dialogTitles, (QStringList{"Создать организцию", "Создать организцию"}));
    QCOMPARE(boxTexts(), QStringList{QStringLiteral("Ошибка: /32 - это не подсеть и не IP-адрес!")});
    QVERIFY(probe->rows("SELECT * FROM subnets").isEmpty());
    QVERIFY(shownTree().isEmpty());
    QCOMPARE(action("createOrg")->isEnabled(), true);
}

// Right after a reload nothing is current; selecting everything from the keyboard leaves it so.
void TestTreeCommands::branchCommandWithoutCurrentRowInsertsNothing()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    thenEditDialog(QStringLiteral("Север")); // a rename reloads the tree
    clickToolButton("editRow");
    QVERIFY(!tree()->selectionModel()->currentIndex().isValid());
    QTest::keyClick(tree(), Qt::Key_A, Qt::ControlModifier);
    QVERIFY(!tree()->selectionModel()->currentIndex().isValid());
    QVERIFY(!tree()->selectionModel()->selectedIndexes().isEmpty());

    thenAddDialog(QStringLiteral("Юг"), QStringLiteral("10.2.0.0"), 16);
    answerer->thenBox();
    clickToolButton("addRow");

    QCOMPARE(dialogTitles.last(), QStringLiteral("Добавить филиал"));
    QCOMPARE(boxTexts(), QStringList{QStringLiteral("Ошибка: ") + selectFirst});
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM subnets")[0][0].toInt(), 2);
    QCOMPARE(storedTree(), shownTree());
}

void TestTreeCommands::branchEqualToItsParentIsReportedAsExisting()
{
    seed({{"Орг", "10.0.0.0/8", ""}});
    openWindow();
    clickRow(QStringLiteral("10.0.0.0/8"));
    thenAddDialog(QStringLiteral("Копия"), QStringLiteral("10.9.9.9"), 8);
    answerer->thenBox();
    clickToolButton("addRow");

    QCOMPARE(dialogTitles, QStringList{QStringLiteral("Добавить филиал")});
    QCOMPARE(boxTexts(), QStringList{QStringLiteral("Ошибка: Подсеть 10.0.0.0/8 уже существует!")});
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(storedTree(), QStringList{QStringLiteral("Орг|10.0.0.0/8")});
    QCOMPARE(shownTree(), storedTree());
}

// Two branches share a name: the new branch hangs under the one it was checked against.
void TestTreeCommands::duplicateNamesLinkTheBranchToTheValidatedParent()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Склад", "10.1.0.0/16", "10.0.0.0/8"}, {"Склад", "10.2.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.2.0.0/16"));
    thenAddDialog(QStringLiteral("Цех"), QStringLiteral("10.2.1.0"), 24);
    clickToolButton("addRow");

    QVERIFY(answerer->boxes.isEmpty());
    const QStringList expected{"Орг|10.0.0.0/8", "  Склад|10.1.0.0/16", "  Склад|10.2.0.0/16", "    Цех|10.2.1.0/24"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
}

void TestTreeCommands::currentRowIsTheParentWhenSelectionDiffers()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}, {"Юг", "10.2.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    clickRow(QStringLiteral("10.2.0.0/16"), Qt::ControlModifier);
    QCOMPARE(window->firstSelectedSubnet(), std::optional<QString>(QStringLiteral("10.1.0.0/16")));
    QCOMPARE(window->currentSubnet(), std::optional<QString>(QStringLiteral("10.2.0.0/16")));

    // Valid under Юг only: it must land there, not under the first selected row.
    thenAddDialog(QStringLiteral("Порт"), QStringLiteral("10.2.5.0"), 24);
    clickToolButton("addRow");

    QVERIFY(answerer->boxes.isEmpty());
    const QStringList expected{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16", "  Юг|10.2.0.0/16", "    Порт|10.2.5.0/24"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
}

// ---------------------------------------------------------------------------------------------
// Deleting and emptying

void TestTreeCommands::deleteLeafRemovesItsHostList()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}, {"Юг", "10.2.0.0/16", "10.0.0.0/8"}});
    seedHost("10.1.0.0/16", "10.1.0.5");
    seedHost("10.1.0.0/16", "10.1.0.6");
    seedHost("10.2.0.0/16", "10.2.0.7");
    seedHost("10.0.0.0/8", "10.0.0.1");
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    bool noIsDefault = false;
    answerer->then([this, &noIsDefault](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            answerer->unexpected << QStringLiteral("expected the question");
            w->close();
            return;
        }
        noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
        answerer->boxes << ModalAnswerer::Box{box->icon(), box->windowTitle(), box->text()};
        pressBoxButton(box, QMessageBox::Yes);
    });
    clickToolButton("deleteRow");
    QVERIFY(noIsDefault);

    QCOMPARE(boxTexts(), QStringList{QStringLiteral("Внимание!: ") + askDelete});
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Question);
    const QStringList expected{"Орг|10.0.0.0/8", "  Юг|10.2.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
    QCOMPARE(probe->rows("SELECT host FROM hosts ORDER BY host"), (QVector<QVariantList>{{"10.0.0.1"}, {"10.2.0.7"}}));

    // The reload left nothing selected while the action stayed on.
    answerer->thenBox();
    clickToolButton("deleteRow");
    QCOMPARE(boxTexts().last(), QStringLiteral("Ошибка: Сначала выберите элемент для удаления."));
    QCOMPARE(storedTree(), expected);
}

void TestTreeCommands::deleteAnsweredNoOrClosedChangesNothing_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("No") << int(QMessageBox::No);
    QTest::newRow("closed") << int(QMessageBox::Escape);
}

void TestTreeCommands::deleteAnsweredNoOrClosedChangesNothing()
{
    QFETCH(int, answer);
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    seedHost("10.1.0.0/16", "10.1.0.5");
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    answerer->then([this, answer](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box) {
            answerer->unexpected << QStringLiteral("expected the question");
            w->close();
        } else if (answer == QMessageBox::Escape) {
            QTest::keyClick(box, Qt::Key_Escape);
        } else {
            pressBoxButton(box, QMessageBox::No);
        }
    });
    clickToolButton("deleteRow");

    const QStringList expected{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM hosts")[0][0].toInt(), 1);
}

void TestTreeCommands::deleteRowWithChildrenRemovesNothing()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    seedHost("10.0.0.0/8", "10.0.0.1");
    openWindow();
    clickRow(QStringLiteral("10.0.0.0/8"));
    thenMenuEntry(QStringLiteral("Удалить  строку"));
    answerer->thenBox(QMessageBox::Yes);
    answerer->thenBox();
    rightClick(QStringLiteral("10.0.0.0/8"));

    QCOMPARE(boxTexts(), (QStringList{"Внимание!: " + askDelete, "Ошибка!: " + hasChildren}));
    QCOMPARE(answerer->boxes[1].icon, QMessageBox::Warning);
    const QStringList expected{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM hosts")[0][0].toInt(), 1);
}

void TestTreeCommands::deleteActsOnTheFirstSelectedRow()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}, {"Юг", "10.2.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    clickRow(QStringLiteral("10.2.0.0/16"), Qt::ControlModifier);
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");

    const QStringList expected{"Орг|10.0.0.0/8", "  Юг|10.2.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
}

void TestTreeCommands::deletingTheLastRowAllowsANewOrganisation()
{
    seed({{"Орг", "10.0.0.0/8", ""}});
    seedHost("10.0.0.0/8", "10.0.0.1");
    openWindow();
    clickRow(QStringLiteral("10.0.0.0/8"));
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");

    QVERIFY(storedTree().isEmpty());
    QVERIFY(shownTree().isEmpty());
    QVERIFY(probe->rows("SELECT * FROM hosts").isEmpty());
    verifyActions(true, false, false, false, false, false);

    thenAddDialog(QStringLiteral("Новая"), QStringLiteral("192.168.0.0"), 16);
    clickToolButton("createOrg");
    QCOMPARE(dialogTitles, QStringList{QStringLiteral("Создать организцию")});
    QCOMPARE(storedTree(), QStringList{QStringLiteral("Новая|192.168.0.0/16")});
    QCOMPARE(shownTree(), storedTree());
}

void TestTreeCommands::emptyingTheDatabase_data()
{
    QTest::addColumn<bool>("fromContextMenu");
    QTest::newRow("tool bar") << false;
    QTest::newRow("context menu, nothing selected") << true;
}

void TestTreeCommands::emptyingTheDatabase()
{
    QFETCH(bool, fromContextMenu);
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    seedHost("10.1.0.0/16", "10.1.0.5");
    seedHost("10.0.0.0/8", "10.0.0.1");
    openWindow();
    const QStringList before{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16"};

    answerer->thenBox(QMessageBox::No);
    clickToolButton("deleteDB");
    QCOMPARE(boxTexts(), QStringList{QStringLiteral("Удалить таблицу: ") + askEmpty});
    QCOMPARE(storedTree(), before);
    QCOMPARE(shownTree(), before);

    if (fromContextMenu) {
        thenMenuEntry(QStringLiteral("Удалить базу данных"));
        answerer->thenBox(QMessageBox::Yes);
        rightClick();
    } else {
        clickRow(QStringLiteral("10.1.0.0/16"));
        answerer->thenBox(QMessageBox::Yes);
        clickToolButton("deleteDB");
    }
    QCOMPARE(answerer->boxes.size(), 2);
    QCOMPARE(answerer->boxes[1].icon, QMessageBox::Question);
    QVERIFY(probe->rows("SELECT * FROM subnets").isEmpty());
    QVERIFY(probe->rows("SELECT * FROM hosts").isEmpty());
    QCOMPARE(model()->rowCount(), 0);
    QCOMPARE(model()->columnCount(), 0); // the header labels go too, until the next reload
    verifyActions(true, false, false, false, false, false);
}

// ---------------------------------------------------------------------------------------------
// Renaming

void TestTreeCommands::renameKeepsSubnetAndChildren()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}, {"Цех", "10.1.1.0/24", "10.1.0.0/16"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    thenEditDialog(QStringLiteral("Head office"));
    clickToolButton("editRow");

    QCOMPARE(dialogTitles, QStringList{QStringLiteral("Изменить запись")});
    QCOMPARE(editFields, (QStringList{"Север", "10.1.0.0/16"}));
    const QStringList expected{"Орг|10.0.0.0/8", "  Head office|10.1.0.0/16", "    Цех|10.1.1.0/24"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
}

void TestTreeCommands::clearedNameIsStoredAsEmptyText()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    thenMenuEntry(QStringLiteral("Изменить строку"));
    thenEditDialog(QString());
    rightClick(QStringLiteral("10.1.0.0/16"));

    QCOMPARE(editFields, (QStringList{"Север", "10.1.0.0/16"}));
    const auto rows = probe->rows("SELECT name IS NULL, name FROM subnets WHERE subnet = '10.1.0.0/16'");
    QCOMPARE(rows, (QVector<QVariantList>{{0, ""}}));
    QCOMPARE(shownTree(), (QStringList{"Орг|10.0.0.0/8", "  |10.1.0.0/16"}));
}

void TestTreeCommands::renameWithoutCurrentRowChangesNothing()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    openWindow();
    clickRow(QStringLiteral("10.1.0.0/16"));
    thenCancel();
    clickToolButton("editRow");
    QCOMPARE(dialogTitles, QStringList{QStringLiteral("Изменить запись")});
    QCOMPARE(shownTree(), (QStringList{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16"}));

    thenEditDialog(QStringLiteral("Юг")); // reloads: no current row afterwards
    clickToolButton("editRow");
    QVERIFY(!tree()->selectionModel()->currentIndex().isValid());
    thenEditDialog(QStringLiteral("Запад"));
    clickToolButton("editRow");

    QCOMPARE(editFields, (QStringList{"", ""}));
    const QStringList expected{"Орг|10.0.0.0/8", "  Юг|10.1.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
}

// ---------------------------------------------------------------------------------------------
// Database failures

// The host list cannot be deleted: the row must come back with it.
void TestTreeCommands::failedDeletionIsRolledBack()
{
    seed({{"Орг", "10.0.0.0/8", ""}, {"Север", "10.1.0.0/16", "10.0.0.0/8"}});
    seedHost("10.1.0.0/16", "10.1.0.5");
    openWindow();
    QVERIFY(probe->exec("CREATE TRIGGER refuse BEFORE DELETE ON hosts BEGIN INSERT INTO missing VALUES (1); END"));
    clickRow(QStringLiteral("10.1.0.0/16"));
    answerer->thenBox(QMessageBox::Yes);
    answerer->thenBox();
    clickToolButton("deleteRow");

    QCOMPARE(answerer->boxes.size(), 2);
    QCOMPARE(answerer->boxes[1].icon, QMessageBox::Critical);
    QCOMPARE(answerer->boxes[1].title, QStringLiteral("Ошибка"));
    QVERIFY2(answerer->boxes[1].text.contains("missing"), qPrintable(answerer->boxes[1].text));
    const QStringList expected{"Орг|10.0.0.0/8", "  Север|10.1.0.0/16"};
    QCOMPARE(storedTree(), expected);
    QCOMPARE(shownTree(), expected);
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM hosts")[0][0].toInt(), 1);

    // The connection is left usable: once the cause is gone the same command succeeds.
    QVERIFY(probe->exec("DROP TRIGGER refuse"));
    clickRow(QStringLiteral("10.1.0.0/16"));
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");
    QCOMPARE(storedTree(), QStringList{QStringLiteral("Орг|10.0.0.0/8")});
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM hosts")[0][0].toInt(), 0);
}

void TestTreeCommands::failedEmptyingIsRolledBack()
{
    seed({{"Орг", "10.0.0.0/8", ""}});
    seedHost("10.0.0.0/8", "10.0.0.1");
    openWindow();
    clickRow(QStringLiteral("10.0.0.0/8"));
    QVERIFY(probe->exec("CREATE TRIGGER refuse BEFORE DELETE ON hosts BEGIN INSERT INTO missing VALUES (1); END"));
    answerer->thenBox(QMessageBox::Yes);
    answerer->thenBox();
    clickToolButton("deleteDB");

    QCOMPARE(answerer->boxes.size(), 2);
    QCOMPARE(answerer->boxes[1].title, QStringLiteral("Ошибка"));
    QVERIFY2(answerer->boxes[1].text.contains("missing"), qPrintable(answerer->boxes[1].text));
    QCOMPARE(storedTree(), QStringList{QStringLiteral("Орг|10.0.0.0/8")});
    QCOMPARE(shownTree(), storedTree());
    QCOMPARE(probe->rows("SELECT COUNT(*) FROM hosts")[0][0].toInt(), 1);
    verifyActions(false, true, true, true, true, true);
}

void TestTreeCommands::failedInsertOrRenameIsReported_data()
{
    QTest::addColumn<bool>("rename");
    QTest::newRow("organisation insert") << false;
    QTest::newRow("rename") << true;
}

void TestTreeCommands::failedInsertOrRenameIsReported()
{
    QFETCH(bool, rename);
    if (rename)
        seed({{"Орг", "10.0.0.0/8", ""}});
    openWindow();
    const QStringList before = shownTree();
    QVERIFY(probe->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE %1 ON subnets BEGIN INSERT INTO missing "
                                       "VALUES (1); END")
                            .arg(rename ? "UPDATE" : "INSERT")));
    if (rename) {
        clickRow(QStringLiteral("10.0.0.0/8"));
        thenEditDialog(QStringLiteral("Другое"));
        answerer->thenBox();
        clickToolButton("editRow");
    } else {
        thenAddDialog(QStringLiteral("Орг"), QStringLiteral("10.0.0.0"), 8);
        answerer->thenBox();
        clickToolButton("createOrg");
    }

    QCOMPARE(answerer->boxes.size(), 1); // no "уже существует" on top
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY2(answerer->boxes[0].text.contains("missing"), qPrintable(answerer->boxes[0].text));
    QCOMPARE(storedTree(), before);
    QCOMPARE(shownTree(), before);
    QCOMPARE(action("createOrg")->isEnabled(), !rename);
}

// The dialog reads through a connection of its own; when that cannot be opened the user is
// told and no dialog appears.
void TestTreeCommands::additionDialogThatCannotOpenTheDatabaseIsNotShown()
{
    openWindow();
    // The window keeps its open file; any new connection finds a directory in its place.
    QVERIFY(QFile::rename(dir->dbPath(), dir->dbPath() + ".moved"));
    QVERIFY(QDir(dir->path()).mkdir("subnets.db"));
    answerer->thenBox();
    clickToolButton("createOrg");

    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY(!answerer->boxes[0].text.isEmpty());
    QVERIFY(dialogTitles.isEmpty());
    QVERIFY(shownTree().isEmpty());
    QCOMPARE(action("createOrg")->isEnabled(), true);
}

// ---------------------------------------------------------------------------------------------

void TestTreeCommands::newUserRoad()
{
    openWindow();
    thenAddDialog(QStringLiteral("Корпорация"), QStringLiteral("10.0.0.0"), 8);
    clickToolButton("createOrg");
    QCOMPARE(storedTree(), QStringList{QStringLiteral("Корпорация|10.0.0.0/8")});

    clickRow(QStringLiteral("10.0.0.0/8"));
    thenAddDialog(QStringLiteral("Север"), QStringLiteral("10.1.0.0"), 16);
    clickToolButton("addRow");
    clickRow(QStringLiteral("10.0.0.0/8"));
    thenMenuEntry(QStringLiteral("Добавить строку"));
    thenAddDialog(QStringLiteral("Юг"), QStringLiteral("10.2.0.0"), 16);
    rightClick(QStringLiteral("10.0.0.0/8"));
    QCOMPARE(storedTree(), (QStringList{"Корпорация|10.0.0.0/8", "  Север|10.1.0.0/16", "  Юг|10.2.0.0/16"}));

    clickRow(QStringLiteral("10.0.0.0/8"));
    thenAddDialog(QStringLiteral("Лишний"), QStringLiteral("10.1.2.0"), 24);
    answerer->thenBox();
    clickToolButton("addRow");
    clickRow(QStringLiteral("10.0.0.0/8"));
    thenAddDialog(QStringLiteral("Чужой"), QStringLiteral("11.0.0.0"), 16);
    answerer->thenBox();
    clickToolButton("addRow");

    clickRow(QStringLiteral("10.1.0.0/16"));
    thenEditDialog(QStringLiteral("Северный филиал"));
    clickToolButton("editRow");

    clickRow(QStringLiteral("10.2.0.0/16"));
    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteRow");
    const QStringList beforeEmptying{"Корпорация|10.0.0.0/8", "  Северный филиал|10.1.0.0/16"};
    QCOMPARE(storedTree(), beforeEmptying);
    QCOMPARE(shownTree(), beforeEmptying);

    answerer->thenBox(QMessageBox::Yes);
    clickToolButton("deleteDB");

    QCOMPARE(dialogTitles, (QStringList{"Создать организцию", "Добавить филиал", "Добавить филиал",
                                        "Добавить филиал", "Добавить филиал", "Изменить запись"}));
    QCOMPARE(boxTexts(), (QStringList{"Ошибка: 10.1.2.0/24 входит в существующую подсеть",
                                      "Ошибка: 11.0.0.0/16 не принадлежит подсети 10.0.0.0/8",
                                      "Внимание!: " + askDelete, "Удалить таблицу: " + askEmpty}));
    QVERIFY(storedTree().isEmpty());
    QVERIFY(shownTree().isEmpty());
    QVERIFY(probe->rows("SELECT * FROM hosts").isEmpty());
    verifyActions(true, false, false, false, false, false);
}

QTEST_MAIN(TestTreeCommands)
#include "test_tree_commands.moc"
