#pragma once

#include <QWidget>

#include <memory>

class DB;
struct Status;
class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTimer;
class QTreeView;
namespace inventorySearch {
class Searcher;
}

// The search over the whole inventory, answering as the user types. It reads through a
// connection of its own; check dbStatus() before showing it.
class findWindow : public QWidget {
    Q_OBJECT
public:
    explicit findWindow(QWidget* parent = nullptr);
    const Status& dbStatus() const;
    ~findWindow() override;

    // The results shown at most; a line below says how many more there are.
    static constexpr int shownAtMost = 500;

signals:
    // The user chose a result: the tree row with `subnet`, and in its host list `host` if not empty.
    void activated(const QString& subnet, const QString& host);

public slots:
    void search();

private:
    void choose(const QModelIndex& index);

    std::unique_ptr<DB> db;
    std::unique_ptr<inventorySearch::Searcher> searcher;
    QLineEdit* text = nullptr;
    QTreeView* results = nullptr;
    QStandardItemModel* model = nullptr;
    QLabel* summary = nullptr;
    QTimer* pause = nullptr;
};
