// Others' changes in an open hosts window: the stored list followed while the table holds
// nothing unsaved, and told of otherwise; a window subnet deleted elsewhere told of.
#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "gui/liveRefresh.h"
#include "hosts/hostItemModel.h"
#include "hosts/hostModel.h"
#include "hosts/hostTable.h"
#include "hosts/scanSession.h"
#include "ui_hostsWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QItemSelection>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>

namespace {

QLabel* barLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

void hostsWindow::buildBars()
{
    changedBar = new QWidget(this);
    changedBar->setObjectName(QStringLiteral("changedElsewhereBar"));
    auto* row = new QHBoxLayout(changedBar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(barLabel(QStringLiteral("Список изменён другим пользователем"), changedBar), 1);
    auto* refresh = new QPushButton(QStringLiteral("Обновить"), changedBar);
    refresh->setObjectName(QStringLiteral("refreshHosts"));
    refresh->setToolTip(QStringLiteral("Загрузить список из базы данных; несохранённые изменения будут потеряны"));
    row->addWidget(refresh);
    connect(refresh, &QPushButton::clicked, this, [this] { viewRecords(windowSubnet); });
    deletedBar = barLabel(QStringLiteral("Подсеть ") + windowSubnet
            + QStringLiteral(" удалена другим пользователем или в другом окне: хосты сохранить нельзя"),
        this);
    deletedBar->setObjectName(QStringLiteral("subnetDeletedBar"));
    for (QWidget* bar : { static_cast<QWidget*>(deletedBar), changedBar }) {
        bar->hide();
        hosts->tableColumn->insertWidget(0, bar);
    }
    if (!db->status().ok())
        return;
    treeRowSeen = hostTable::hasTreeRow(*db, windowSubnet).value;
    const auto busy = [this] { return busyForRefresh(); };
    live = new LiveRefresh(this, busy, [this] { followChanges(); });
}

// An editor open in the table belongs to the user until it closes.
bool hostsWindow::busyForRefresh() const
{
    const QWidget* focus = QApplication::focusWidget();
    return (scan && scan->isRunning()) || (focus && focus->parentWidget() == hosts->tableView->viewport());
}

void hostsWindow::noteStored(const QVector<QVariantList>& rows)
{
    storedRows = rows;
    changedBar->hide();
}

// A save writes what is typed here, not what another user stored meanwhile: with the list told
// changed, the save brings the stored list in once nothing here is unsaved, and else the bar stays.
void hostsWindow::storedBySave(const QVector<QVariantList>& rows)
{
    if (changedBar->isHidden())
        noteStored(rows);
    else if (following && !hostModel::hasUnsavedRows(*model))
        reloadKeepingView(rows);
    else
        storedRows = rows;
}

void hostsWindow::followChanges()
{
    refreshHints(); // others' scans and lists move the marks and the comparison too
    Result<bool> there = hostTable::hasTreeRow(*db, windowSubnet);
    // A server that was gone, and told of being back: the connection opens anew at the next statement.
    if (there.code == sqlite::Unreachable)
        there = hostTable::hasTreeRow(*db, windowSubnet);
    if (!there.ok())
        return; // nothing known: the bars stay as they are
    treeRowSeen = treeRowSeen || there.value;
    deletedBar->setVisible(treeRowSeen && !there.value);
    if (!there.value || !following)
        return;
    const SqlResult stored = hostTable::hostsOfSubnet(*db, windowSubnet);
    if (!stored.ok() || stored.rows == storedRows)
        return;
    if (hostModel::hasUnsavedRows(*model))
        changedBar->show();
    else
        reloadKeepingView(stored.rows);
}

void hostsWindow::reloadKeepingView(const QVector<QVariantList>& rows)
{
    QTableView* view = hosts->tableView;
    QSet<QString> selected;
    for (const QModelIndex& row : view->selectionModel()->selectedRows())
        selected.insert(row.data().toString());
    const QString current = view->currentIndex().siblingAtColumn(0).data().toString();
    const int scroll = view->verticalScrollBar()->value();
    hostItemModel* filled = hostModel::newModel(this);
    hostModel::fill(*filled, rows);
    showModel(filled);
    watchModel();
    noteStored(rows);
    QItemSelection selection;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex address = model->index(row, 0);
        if (selected.contains(address.data().toString()))
            selection.select(address, address.siblingAtColumn(1));
        if (address.data().toString() == current)
            view->selectionModel()->setCurrentIndex(address, QItemSelectionModel::NoUpdate);
    }
    view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->verticalScrollBar()->setValue(scroll);
}
