// Search and the address plan in the main window: finding rows and hosts, how full a row is,
// and the free space of a row.
#include "tree/ZarvinWindow.h"

#include "db/DB.h"
#include "gui/desktop.h"
#include "hosts/hostsWindow.h"
#include "hosts/scan/scanHistory.h"
#include "tree/addressPlan.h"
#include "tree/changesWindow.h"
#include "tree/findWindow.h"
#include "tree/freeSpaceWindow.h"
#include "ui_zarvinSubnetsGui.h"

#include <QApplication>
#include <QLabel>
#include <QStandardItemModel>
#include <QStatusBar>

namespace {

// The name cell of the row whose subnet cell reads `subnet`, searched depth first.
QStandardItem* rowOfSubnet(QStandardItem* parent, const QString& subnet)
{
    for (int r = 0; r < parent->rowCount(); ++r) {
        const QStandardItem* cell = parent->child(r, 1);
        if (cell && cell->text() == subnet)
            return parent->child(r, 0);
        if (QStandardItem* below = rowOfSubnet(parent->child(r, 0), subnet))
            return below;
    }
    return nullptr;
}

} // namespace

void ZarvinWindow::openFind()
{
    if (!finder) {
        finder = new findWindow(this);
        if (!finder->dbStatus().ok()) {
            showDbError(finder->dbStatus().errorText);
            delete finder;
            finder = nullptr;
            return;
        }
        connect(finder, &findWindow::activated, this, &ZarvinWindow::showFound);
        centre(finder);
    }
    finder->show();
    finder->raise();
    finder->activateWindow();
}

void ZarvinWindow::showChanges()
{
    const QString branch = currentSubnet().value_or(QString());
    if (!changes) {
        changes = new changesWindow(*db, branch, this);
        changes->setAttribute(Qt::WA_DeleteOnClose);
        centre(changes);
    }
    changes->setBranch(branch);
    changes->show();
    changes->raise();
    changes->activateWindow();
}

void ZarvinWindow::showFound(const QString& subnet, const QString& host)
{
    if (const QStandardItem* row = rowOfSubnet(model->invisibleRootItem(), subnet)) {
        const QModelIndex name = row->index();
        for (QModelIndex p = name.parent(); p.isValid(); p = p.parent())
            ui->tree->expand(p);
        ui->tree->selectionModel()->setCurrentIndex(
            name, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ui->tree->scrollTo(name);
    }
    raise();
    activateWindow();
    if (host.isEmpty())
        return;
    if (hostsWindow* window = openHostsWindow(subnet)) {
        window->viewRecords(subnet);
        window->selectHost(host);
    }
}

void ZarvinWindow::watchRowStatus()
{
    rowStatus = new QLabel(this);
    rowStatus->setObjectName(QStringLiteral("rowStatus"));
    // However long the text, the window keeps its width: what does not fit is in the tooltip.
    rowStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(rowStatus, 2);
    connect(ui->tree->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &ZarvinWindow::showRowStatus);
    connect(model, &QAbstractItemModel::modelReset, this, &ZarvinWindow::showRowStatus);
    // Hosts are saved in other windows: coming back to this one reads the figures again.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        if (now && now->window() == this && (!old || old->window() != this))
            showRowStatus();
    });
}

void ZarvinWindow::showRowStatus()
{
    const QModelIndex current = ui->tree->selectionModel()->currentIndex();
    if (!current.isValid()) {
        rowStatus->clear();
        return;
    }
    QStandardItem* cell = model->itemFromIndex(current.sibling(current.row(), 1));
    const Result<QString> usage = addressPlan::usageOf(*db, cell->text());
    if (!usage.ok()) {
        // A status line is no command of the user's: no box, but no stale figures either.
        // One line: a server's reason comes in several.
        rowStatus->setText((QStringLiteral("Заполненность не прочитана: ") + usage.errorText).simplified());
        rowStatus->setToolTip(rowStatus->text());
        return;
    }
    rowStatus->setText(usage.value + QStringLiteral(" · ") + scanHistory::lastScanText(*db, cell->text()));
    rowStatus->setToolTip(rowStatus->text());
    cell->setToolTip(usage.value);
}

void ZarvinWindow::showFreeSpace()
{
    const auto subnet = currentSubnet() ? currentSubnet() : firstSelectedSubnet();
    const auto network = subnet ? net::parseNetwork(*subnet) : std::nullopt;
    if (!network)
        return;
    const Result<addressPlan::Networks> free = addressPlan::freeSpaceOf(*db, *network, *subnet);
    if (!free.ok()) {
        showDbError(free.errorText);
        return;
    }
    auto* window = new freeSpaceWindow(*network, free.value, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    centre(window);
    window->show();
}
