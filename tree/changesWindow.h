#pragma once

#include "db/changeLog.h"

#include <QAbstractTableModel>
#include <QWidget>

class DB;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QTimer;

// The log's operations, newest first, one line each; read a page at a time as the view scrolls.
class changesModel : public QAbstractTableModel {
public:
    changesModel(DB& db, QObject* parent);

    // Reads the first page anew; the failure when the log could not be read.
    Status setFilter(const changeLog::Filter& filter);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // Reads every page left, for an export of everything the filter passes.
    Status fetchAll();
    const QVector<changeLog::Line>& lines() const { return shown; }

private:
    Status readPage();

    DB& db;
    changeLog::Filter filter;
    QVector<changeLog::Line> shown;
    bool complete = false;
};

// Who changed what and when: the log, with a filter over its text and the tree's current branch.
// It reads through its opener's connection: a connection of its own would compact the whole file,
// log and all, before showing anything. The opener deletes it before that connection goes.
class changesWindow : public QWidget {
    Q_OBJECT
public:
    // `branch`: the subnet of the tree's current row, for "only this branch"; empty for none.
    changesWindow(DB& db, const QString& branch, QWidget* parent = nullptr);
    ~changesWindow() override;
    // The tree's current row changed: the check names it, and filters by it when checked.
    void setBranch(const QString& subnet);

public slots:
    // Reads the log anew from its newest entry, with the filter as it stands.
    void reload();
    // Others' changes: the log read again unless the user has scrolled down into it.
    void followChanges();
    void exportShown();

private:
    DB& db;
    changesModel* model = nullptr;
    QLineEdit* filterText = nullptr;
    QCheckBox* branchOnly = nullptr;
    QTableView* table = nullptr;
    QLabel* failure = nullptr;
    QTimer* pause = nullptr;
    QString branch;
};
