#pragma once

#include <QModelIndex>
#include <QString>
#include <QVector>
#include <QWidget>

#include <memory>

class DB;
class QHeaderView;
class QMenu;
class QStandardItemModel;
class RegExpDelegate;
class scanSubnetWindow;
struct ScanRequest;
struct SqlResult;
namespace net {
struct HostRange;
}
namespace Ui {
class Hosts;
}

// The host list of one subnet, the window subnet. Throws DbOpenError when its database
// cannot be opened.
class hostsWindow : public QWidget {
    Q_OBJECT
public:
    explicit hostsWindow(const QString& item_id, QWidget* parent = nullptr);
    ~hostsWindow() override;

    const QString& subnet() const { return windowSubnet; }

    // --- host table and persistence (hostsWindow.cpp) ---
public slots:
    void addRow();
    void tableModel();
    void contextMenu(const QPoint& point);

    void validateIP(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& parent);
    void saveData(const QString& subnet);
    void viewRecords(const QString& subnet);
    void deleteAll();
    void deleteRecords(const QString& subnet);

private:
    // Puts `filled` on the view (it becomes `model`) and sets the view up for it.
    void showModel(QStandardItemModel* filled);
    // From now on every edit of `model` is checked against the window subnet.
    void watchModel();
    void checkAddress(int row);
    // False, after telling the user, when the statement failed.
    bool succeeded(const SqlResult& result);

    std::unique_ptr<RegExpDelegate> delegate;
    QHeaderView* header = nullptr;

    // --- CSV of the host list (hostsTransfer.cpp) ---
public slots:
    void exportCsv();
    void importCsv();

    // --- scanning (hostsWindowScan.cpp) ---
public slots:
    void scanWindow();

public:
    // These return when their probes have ended; meanwhile the window repaints but takes no input.
    void scanner(const ScanRequest& outputdata);
    void ping_all(const net::HostRange& addresses);
    void ping(quint32 host);
    void pingPort(const net::HostRange& addresses, int port, double timeout = 0.1);
    // A scanned row: the address only, without a note item.
    void add_to_model(quint32 host);

private:
    std::unique_ptr<Ui::Hosts> hosts;
    QString windowSubnet;
    std::unique_ptr<DB> db;
    QStandardItemModel* model = nullptr;
    QMenu* menu = nullptr;
    scanSubnetWindow* newWindow = nullptr;
};
