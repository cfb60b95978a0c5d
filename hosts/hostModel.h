#pragma once

#include <QVariantList>
#include <QVector>
#include <Qt>

class QObject;
class QStandardItemModel;

// The host table model of a hosts window.
namespace hostModel {

// Set on a note cell whose text the user committed in this window (the empty text included):
// only such a note may replace one that is stored already.
constexpr int noteWrittenRole = Qt::UserRole + 1;

// An empty two-column host table with its header labels.
QStandardItemModel* newModel(QObject* parent);
// Appends the rows of hostsOfSubnet() in order; a NULL note gives an empty cell.
void fill(QStandardItemModel& model, const QVector<QVariantList>& rows);

} // namespace hostModel
