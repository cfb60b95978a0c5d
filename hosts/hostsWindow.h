#pragma once

#include "hosts/scan/scanOutcome.h"
#include "hosts/scan/scanRequest.h"

#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

class DB;
class LiveRefresh;
class QHeaderView;
class QLabel;
class QMenu;
class hostItemModel;
class QCloseEvent;
class RegExpDelegate;
class scanSession;
class compareWindow;
struct SqlResult;
struct Status;
namespace Ui {
class Hosts;
}

// The host list of one subnet, the window subnet. Opens a database of its own: check
// dbStatus() before showing it.
class hostsWindow : public QWidget {
    Q_OBJECT
public:
    // Kept as named: `item_id` holds the window subnet's text, the name callers know.
    explicit hostsWindow(const QString& item_id, QWidget* parent = nullptr);
    ~hostsWindow() override;

    const QString& subnet() const { return windowSubnet; }
    const Status& dbStatus() const;

    // --- host table and persistence (hostsWindow.cpp) ---
public slots:
    void addRow();
    void tableModel();
    void contextMenu(const QPoint& point);

    void validateIP(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles);
    void saveData(const QString& subnet);
    void viewRecords(const QString& subnet);
    void deleteAll();
    void deleteRecords(const QString& subnet);

private:
    // Puts `filled` on the view (it becomes `model`) and sets the view up for it.
    void showModel(hostItemModel* filled);
    // From now on every edit of `model` is checked against the window subnet.
    void watchModel();
    void checkAddress(int row);
    // The box text of a write that stored nothing: `what`, then why.
    static QString notStored(const QString& what, const Status& failure);
    // False, after telling the user, when the statement failed.
    bool succeeded(const SqlResult& result);

    std::unique_ptr<RegExpDelegate> delegate;
    QHeaderView* header = nullptr;

    // --- free addresses (hostsWindowPlan.cpp) ---
public slots:
    // Appends a row with the lowest host address that no host list holds and the table lacks.
    void addFreeAddress();

public:
    // Selects and shows the table row with this address; false when the table has none.
    bool selectHost(const QString& host);

    // --- CSV of the host list (hostsWindowTransfer.cpp) ---
public slots:
    void exportCsv();
    void importCsv();

    // --- scanning (hostsWindowScan.cpp) ---
public slots:
    void scanWindow();

public:
    // These start the sweep and return; the scan session ends it. Until then the window takes
    // no input that could start another scan or change the table.
    void scanner(const ScanRequest& request);
    // Kept as named, snake_case among camelCase: the operations' names that callers know.
    void ping_all(const net::HostRange& addresses);
    void pingPort(const net::HostRange& addresses, int port, double timeout = 0.1);
    // A scanned row: the address only, without a note item.
    void add_to_model(quint32 host);
    // A scan that ran to its end, and only such a scan: recorded, and the comparison and the
    // tooltips follow it.
    void scanEnded(const ScanOutcome& outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

    // --- scan history (hostsWindowHistory.cpp) ---
public slots:
    void openComparison();

private:
    // Tooltips and bold faces of the address cells, from the history as it now stands.
    void refreshHints();
    QVector<quint32> lastAnswered; // of this window's last finished scan
    QPointer<compareWindow> comparison;

    // --- others' changes (hostsWindowLive.cpp) ---
private:
    // The bars that tell of others' changes, hidden until then, above the table.
    void buildBars();
    // A changed list is shown as stored when the table holds nothing unsaved, else only told of;
    // a deleted window subnet is told of, the table kept as it is.
    void followChanges();
    bool busyForRefresh() const;
    // The table becomes `rows` as stored; the selected rows and the scroll stay.
    void reloadKeepingView(const QVector<QVariantList>& rows);
    // The list as stored when this window last loaded or wrote it.
    void noteStored(const QVector<QVariantList>& rows);
    void storedBySave(const QVector<QVariantList>& rows);
    QWidget* changedBar = nullptr;
    QLabel* deletedBar = nullptr;
    QVector<QVariantList> storedRows;
    bool following = false; // the table shows the stored list (loaded once), so it follows it
    bool treeRowSeen = false; // the window subnet was a tree row: only then can it be deleted
    LiveRefresh* live = nullptr;

private:
    void watchScan();
    // The sweep that scanWindow() or scanner() planned; `portText` as the user typed it.
    void startSweep(const scanRequest::Plan& plan, const QString& portText);
    scanSession* scan = nullptr; // a child: goes with the window, and a sweep in flight with it

    std::unique_ptr<Ui::Hosts> hosts;
    QString windowSubnet;
    std::unique_ptr<DB> db;
    hostItemModel* model = nullptr;
    QMenu* menu = nullptr;
};
