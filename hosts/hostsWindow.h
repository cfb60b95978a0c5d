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
struct SqlResult;
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

    // --- scanning (hostsWindowScan.cpp) ---
public slots:
    void scanWindow();

private:
    std::unique_ptr<Ui::Hosts> hosts;
    QString windowSubnet;
    std::unique_ptr<DB> db;
    QStandardItemModel* model = nullptr;
    QMenu* menu = nullptr;
    scanSubnetWindow* newWindow = nullptr;
};
