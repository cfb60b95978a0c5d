#pragma once

#include "db/sqlResult.h"

#include <QString>
#include <QVariant>
#include <QVector>

class DB;

// The statements of a subnet's host list on table `hosts`.
namespace hostTable {

SqlResult hostsOfSubnet(DB& db, const QString& subnet); // host, note in stored order
SqlResult insertHost(DB& db, const QString& subnet, const QString& host, const QString& note);
SqlResult updateNote(DB& db, const QString& note, const QString& host);
SqlResult deleteHost(DB& db, const QVariant& host);
SqlResult deleteSubnet(DB& db, const QString& subnet);

// Inserts the row; when the address is stored already (under any subnet) only its note is
// updated, and only with `replaceNote`: a note that the user did not write in this window must
// not overwrite a stored one. A null note is stored as the empty text.
SqlResult saveHost(DB& db, const QString& subnet, const QString& host, const QString& note, bool replaceNote);

// One row (1) when `subnet` is a row of the tree, none when it was deleted.
SqlResult treeRowOf(DB& db, const QString& subnet);

} // namespace hostTable
