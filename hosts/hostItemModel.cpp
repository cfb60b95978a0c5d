#include "hosts/hostItemModel.h"

#include "hosts/hostModel.h"
#include "net/ipv4.h"

#include <QFont>

void hostItemModel::setHints(const QHash<quint32, scanHistory::Sighting>& lastSeen, const QSet<quint32>& notListed)
{
    seen = lastSeen;
    unlisted = notListed;
}

QVariant hostItemModel::data(const QModelIndex& index, int role) const
{
    if (index.column() != 0 || (role != Qt::ToolTipRole && role != Qt::FontRole))
        return QStandardItemModel::data(index, role);
    const auto address = net::parseAddress(QStandardItemModel::data(index, Qt::DisplayRole).toString());
    if (!address)
        return QStandardItemModel::data(index, role);
    if (role == Qt::ToolTipRole) {
        const auto it = seen.constFind(*address);
        return scanHistory::lastAnswerText(it == seen.cend() ? nullptr : &*it);
    }
    if (!unlisted.contains(*address))
        return QStandardItemModel::data(index, role);
    QFont bold;
    bold.setBold(true);
    return bold;
}

bool hostItemModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!QStandardItemModel::setData(index, value, role))
        return false;
    QStandardItem* address = item(index.row(), 0);
    if ((role == Qt::EditRole || role == Qt::DisplayRole) && address
        && address->data(hostModel::unchangedRole).isValid())
        address->setData(QVariant(), hostModel::unchangedRole);
    return true;
}
