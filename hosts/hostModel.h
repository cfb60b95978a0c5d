#pragma once

#include <QVariantList>
#include <QVector>
#include <Qt>

class QObject;
class QStandardItemModel;
class hostItemModel;

// The host table model of a hosts window.
namespace hostModel {

// Set on a note cell whose text the user committed in this window (the empty text included):
// only such a note may replace one that is stored already.
constexpr int noteWrittenRole = Qt::UserRole + 1;
// Set on the address cell of a row as it was loaded or last saved, and taken off by any edit of
// the row (hostItemModel::setData). A save skips such rows: written again, a row that another
// user deleted meanwhile would come back. Every other row (typed, scanned, added) is written.
constexpr int unchangedRole = Qt::UserRole + 2;

// True when a data change only set or cleared one of the marks above: no text changed.
bool onlyMarks(const QVector<int>& roles);

// An empty two-column host table with its header labels.
hostItemModel* newModel(QObject* parent);
// Appends the rows of hostsOfSubnet() in order, marked unchanged; a NULL note gives an empty cell.
void fill(QStandardItemModel& model, const QVector<QVariantList>& rows);
// Whether any row is not as it was loaded or last saved (typed, scanned, added, edited).
bool hasUnsavedRows(const QStandardItemModel& model);

} // namespace hostModel
