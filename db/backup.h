#pragma once

#include "db/sqlResult.h"

#include <QString>

class DB;

// Backup copies of the database file, taken and restored through the program's own connection.
namespace backup {

// Writes a consistent copy of the open database to `target` and checks it; an existing target is
// replaced only by a copy that passed the check. Never writes over the database itself.
// Fails with the reason (Russian, or the database's text).
Status makeCopy(DB& db, const QString& target);

struct Inspection {
    qint64 subnetsNow = 0, hostsNow = 0;
    qint64 subnetsInCopy = 0, hostsInCopy = 0;
};

// Checks a candidate copy without changing it: not the live file, an SQLite database that passes
// its integrity check and holds this program's two tables with their columns. Counts the rows;
// fails with why the file cannot be restored.
Result<Inspection> inspect(DB& db, const QString& source);

// Replaces the content of every table of the live database that the copy also holds with the
// same columns (at least subnets and hosts) in one transaction: all of it, or nothing.
// Fails with the reason.
Status restore(DB& db, const QString& source);

} // namespace backup
