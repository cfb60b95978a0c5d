// The scan history as the hosts window shows it: recording each finished scan, the comparison
// window, and the tooltips and bold faces of the address cells.
#include "hosts/hostsWindow.h"

#include "db/DB.h"
#include "gui/desktop.h"
#include "gui/messages.h"
#include "hosts/compareWindow.h"
#include "hosts/hostItemModel.h"
#include "hosts/scan/scanHistory.h"
#include "net/ipv4.h"
#include "ui_hostsWindow.h"

#include <algorithm>

void hostsWindow::scanEnded(const ScanOutcome& outcome)
{
    lastAnswered = outcome.answered;
    std::sort(lastAnswered.begin(), lastAnswered.end());
    // The scanned rows stay in the table either way; the user can still save them.
    const SqlResult recorded = scanHistory::record(*db, outcome);
    if (!recorded.ok())
        messages::error(
            this, QStringLiteral("Не удалось записать наблюдения сканирования в базу данных: ") + recorded.errorText);
    hosts->pbCompare->setEnabled(true);
    refreshHints();
}

void hostsWindow::openComparison()
{
    if (!comparison) {
        comparison = new compareWindow(*db, windowSubnet, this);
        comparison->refresh();
        comparison->resize(comparison->sizeHint().expandedTo(QSize(900, 520)));
        centre(comparison);
    }
    comparison->refresh();
    comparison->show();
    comparison->raise();
    comparison->activateWindow();
}

void hostsWindow::refreshHints()
{
    if (!model)
        return;
    // Every address the user may type or load: the window subnet and whatever the table holds.
    quint32 low = 0xffffffffu, high = 0;
    if (const auto network = net::parseNetwork(windowSubnet)) {
        low = network->address;
        high = net::broadcastOf(*network);
    }
    for (int row = 0; row < model->rowCount(); ++row)
        if (const auto address = net::parseAddress(model->index(row, 0).data().toString())) {
            low = qMin(low, *address);
            high = qMax(high, *address);
        }
    using Sightings = QHash<quint32, scanHistory::Sighting>;
    const Result<Sightings> seen
        = low <= high ? scanHistory::sightings(*db, low, high) : Result<Sightings>(Sightings());
    const Result<QVector<quint32>> unlisted = lastAnswered.isEmpty() ? Result<QVector<quint32>>(QVector<quint32>())
                                                                     : scanHistory::unlisted(*db, lastAnswered);
    if (!seen.ok() || !unlisted.ok())
        return; // keep what was shown rather than claim that nothing ever answered
    model->setHints(seen.value, QSet<quint32>(unlisted.value.cbegin(), unlisted.value.cend()));
    hosts->tableView->viewport()->update();
    // A save or a delete moves addresses between the lists as much as a new scan does.
    if (comparison)
        comparison->refresh();
}
