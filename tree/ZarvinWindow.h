#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

#include <memory>
#include <optional>

class DB;
struct SqlResult;
struct Status;
template <class T> struct Result;
class LiveRefresh;
class QLabel;
class QMenu;
class changesWindow;
class findWindow;
class hostsWindow;
class QStandardItemModel;
namespace Ui {
class MainWindow;
}

// How adding a tree row ended: more than ok or not, since a duplicate subnet is told in its own box.
enum class AddOutcome {
    Added,
    DuplicateSubnet, // the insert broke the uniqueness of the subnet; nothing was added
    Refused, // nothing added, and the user has been told why
};

// The main window: the organisation tree and the commands on it.
// Opens a database of its own: check dbStatus() before showing it.
class ZarvinWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ZarvinWindow(QWidget* parent = nullptr);
    ~ZarvinWindow() override;

    // Ok when its database is open; otherwise the window shows nothing and must not be shown.
    const Status& dbStatus() const;
    // The file's name, or the database and its server.
    QString dbFileName() const;

    // Where the data is, in the title: the server and database, and whether it is read-only.
    void showWhere();
    // On a database this user cannot change, the status line says why and how to get write access.
    void showReadOnlyReason();
    // Opens the configured database anew in place of the present one; other windows, which hold
    // the old one, are closed. Fails, changing nothing, when it cannot be opened.
    Status reopenDatabase();

    // Subnet of the first selected row; none when nothing is selected.
    std::optional<QString> firstSelectedSubnet() const;
    // Subnet of the row holding the keyboard focus; none without a current index.
    std::optional<QString> currentSubnet() const;

    // The context menu for the tree's present state, not yet shown.
    QMenu* buildContextMenu();

public slots:
    // The tree and its actions (ZarvinWindow.cpp).
    // Kept as named, snake_case among camelCase: the operations' names that callers and scripts know.
    void load_data();
    void update_menu_buttons();
    void contextMenu(const QPoint& point);

    // Tree commands (ZarvinWindowCommands.cpp).
    void addSubnet();
    void delete_item();
    void deleteDB();
    void editRow();

    // Opening the hosts window and the calculator (ZarvinWindow.cpp).
    void editHosts();
    void calculateSubnet();
    // The connection dialog; on OK the program works on the chosen database.
    void connectDatabase();

    // Search and the address plan (ZarvinWindowPlan.cpp).
    void openFind();
    // Selects and shows the row with `subnet`; with a `host`, opens its hosts window at that host.
    void showFound(const QString& subnet, const QString& host);
    // How full the current row is, in the status bar and as its subnet cell's tooltip.
    void showRowStatus();
    void showFreeSpace();
    // The change log, for the tree's current row when it has one.
    void showChanges();

    // Data in and out: CSV of the whole inventory, backup and restore (ZarvinWindowTransfer.cpp).
    void exportInventory();
    void importInventory();
    void backupDatabase();
    void restoreDatabase();

public:
    // The dialog's branch triple (name, subnet, parent subnet), or its refusal, already shown.
    AddOutcome add_child(const Result<QStringList>& branch);
    // The id of the row with this subnet; none when no row has it.
    Result<std::optional<qint64>> get_item_id(const QString& parentSubnet);
    // The dialog's organisation pair (name, subnet), or its refusal, already shown.
    AddOutcome createOrg(const Result<QStringList>& organisation);
    // The current row as (id, name, subnet, parent_subnet): no rows without a current row.
    SqlResult defaultData();
    // An edit pair (name, subnet): renames the row with that subnet.
    void updateRecord(const QStringList& edit);

private:
    void decorateActions();
    void showDbError(const QString& text);
    // A refusal that another user's change, come in meanwhile, caused: told, and the tree reloaded.
    void refuseAfterChange(const QString& text);
    hostsWindow* openHostsWindow(const QString& subnet);
    // Puts the row status into the status bar and keeps it current.
    void watchRowStatus();
    // The tree as `rows` (subnetTable::allRows()) with every row expanded.
    void showRows(const QVector<QVariantList>& rows);
    // Others' changes come in without a command: the tree keeps what the user made of it, and a
    // failed read keeps the last tree without a box.
    void followChanges();

    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<DB> db;
    QStandardItemModel* model = nullptr;
    QMenu* menu = nullptr;
    findWindow* finder = nullptr;
    QPointer<changesWindow> changes;
    QLabel* rowStatus = nullptr;
    QString baseTitle;
    QVector<QVariantList> shownRows; // as last read
    LiveRefresh* live = nullptr; // follows the database of `db`
};
