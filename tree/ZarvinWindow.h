#pragma once

#include <QMainWindow>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <memory>
#include <optional>

class DB;
class QMenu;
class QStandardItemModel;
namespace Ui {
class MainWindow;
}

// The main window: the organisation tree and the commands on it.
// Throws DbOpenError when its database cannot be opened.
class ZarvinWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ZarvinWindow(QWidget* parent = nullptr);
    ~ZarvinWindow() override;

    // Subnet of the first selected row; none when nothing is selected.
    std::optional<QString> firstSelectedSubnet() const;
    // Subnet of the row holding the keyboard focus; none without a current index.
    std::optional<QString> currentSubnet() const;

    // The context menu for the tree's present state, not yet shown.
    QMenu* buildContextMenu();

public slots:
    void load_data();
    void update_menu_buttons();
    void contextMenu(const QPoint& point);

    // Tree commands.
    void addSubnet();
    void delete_item();
    void deleteDB();
    void editRow();

    void editHosts();
    void calculateSubnet();

    // Data in and out: CSV of the whole inventory, backup and restore (dataTransfer.cpp).
    void exportInventory();
    void importInventory();
    void backupDatabase();
    void restoreDatabase();

public:
    // A branch triple (name, subnet, parent subnet), or none when the dialog refused it.
    // Returns false when the insert broke the uniqueness of the subnet.
    bool add_child(const std::optional<QStringList>& outputData);
    std::optional<qint64> get_item_id(const QString& parentSubnet);
    // An organisation pair (name, subnet), or none. Same result as add_child.
    bool createOrg(const std::optional<QStringList>& outputData);
    // The current row as (id, name, subnet, parent_subnet): no rows without a current row,
    // none when the database could not be read (the error has been shown).
    std::optional<QVector<QVariantList>> defaultData();
    // An edit pair (name, subnet): renames the row with that subnet.
    void updateRecord(const QStringList& outputData);

private:
    void decorateActions();
    void showDbError(const QString& text);

    std::unique_ptr<Ui::MainWindow> ui;
    std::unique_ptr<DB> db;
    QStandardItemModel* model = nullptr;
    QMenu* menu = nullptr;
};
