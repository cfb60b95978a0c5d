#pragma once

#include "hosts/scan/scanHistory.h"

#include <QHash>
#include <QSet>
#include <QStandardItemModel>

// The host table's model. Its items hold plain text; the tooltip of an address cell (when
// the address last answered) and its bold face (answered the window's last scan, stored in
// no host list) are looked up by the cell's text, so rows typed by the user get them too.
class hostItemModel : public QStandardItemModel {
public:
    using QStandardItemModel::QStandardItemModel;

    // Emits nothing: a data change would send every row through the address check.
    void setHints(const QHash<quint32, scanHistory::Sighting>& seen, const QSet<quint32>& unlisted);
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // An edit of either cell also takes the row's unchanged mark off (hostModel::unchangedRole).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

private:
    QHash<quint32, scanHistory::Sighting> seen;
    QSet<quint32> unlisted;
};
