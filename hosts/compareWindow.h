#pragma once

#include <QString>
#include <QWidget>

class DB;
class QGroupBox;
class QLabel;
class QTableView;
namespace scanHistory {
struct Comparison;
}

// The last scan of a subnet set against the stored host lists: what is new, what went silent,
// what still answers. Non-modal; owned by its hosts window and working on that window's DB.
class compareWindow : public QWidget {
    Q_OBJECT
public:
    compareWindow(DB& db, const QString& subnet, QWidget* parent);

public slots:
    // Reads the last scan of the subnet again and shows it.
    void refresh();

private:
    struct List {
        QGroupBox* box = nullptr;
        QTableView* view = nullptr;
        QString title;
    };
    List addList(const char* name, const QString& title, const char* copyName);
    void showLists(const scanHistory::Comparison& lists);

    DB& db;
    QString subnet;
    QLabel* scanLabel = nullptr;
    List fresh, silent, answering;
};
