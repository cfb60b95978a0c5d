#pragma once

#include <QVariantList>
#include <QVector>

class QObject;
class QStandardItemModel;

// The host table model of a hosts window.
namespace hostModel {

// An empty two-column host table with its header labels.
QStandardItemModel* newModel(QObject* parent);
// Appends the rows of hostsOfSubnet() in order; a NULL note gives an empty cell.
void fill(QStandardItemModel& model, const QVector<QVariantList>& rows);

} // namespace hostModel
