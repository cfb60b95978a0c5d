#pragma once

#include <QString>

class DB;

// Backup copies of the database file, taken and restored through the program's own connection.
namespace backup {

// Writes a consistent copy of the open database to `target` and checks it; an existing target is
// replaced only by a copy that passed the check. Never writes over the database itself.
// Empty on success, else the reason (Russian).
QString makeCopy(DB& db, const QString& target);

struct Inspection {
    QString error; // why the file cannot be restored; empty when it can
    qint64 subnetsNow = 0, hostsNow = 0;
    qint64 subnetsInCopy = 0, hostsInCopy = 0;
};

// Checks a candidate copy without changing it: not the live file, an SQLite database that passes
// its integrity check and holds this program's two tables with their columns. Counts the rows.
Inspection inspect(DB& db, const QString& source);

// Replaces the content of every table of the live database that the copy also holds with the
// same columns (at least subnets and hosts) in one transaction: all of it, or nothing.
// Empty on success, else the reason.
QString restore(DB& db, const QString& source);

} // namespace backup
