// Free addresses of the window subnet, and finding a host in the table.
#include "hosts/hostsWindow.h"

#include "gui/messages.h"
#include "hosts/hostItemModel.h"
#include "hosts/hostSpace.h"
#include "net/ipv4.h"
#include "ui_hostsWindow.h"

#include <QStandardItemModel>

void hostsWindow::addFreeAddress()
{
    const auto network = net::parseNetwork(windowSubnet);
    if (!network) {
        messages::warning(this, QStringLiteral("Внимание!"), windowSubnet + QStringLiteral(" - это не подсеть"));
        return;
    }
    QStringList inTable;
    for (int row = 0; row < model->rowCount(); ++row)
        inTable << model->index(row, 0).data().toString();
    const Result<std::optional<net::Address>> free = hostSpace::lowestFreeHost(*db, *network, inTable);
    if (!free.ok()) {
        messages::error(this, free.errorText);
        return;
    }
    if (!free.value) {
        messages::warning(this, QStringLiteral("Внимание!"),
            QStringLiteral("В подсети ") + windowSubnet + QStringLiteral(" не осталось свободных адресов"));
        return;
    }
    model->appendRow({ new QStandardItem(net::toText(*free.value)), new QStandardItem(QStringLiteral("")) });
    hosts->tableView->selectRow(model->rowCount() - 1);
    hosts->tableView->scrollTo(model->index(model->rowCount() - 1, 0));
}

bool hostsWindow::selectHost(const QString& host)
{
    const QList<QStandardItem*> found = model->findItems(host, Qt::MatchExactly, 0);
    if (found.isEmpty())
        return false;
    hosts->tableView->selectRow(found.first()->row());
    hosts->tableView->scrollTo(found.first()->index(), QAbstractItemView::PositionAtCenter);
    return true;
}
