#pragma once

#include "db/sqlResult.h"

#include <QString>
#include <QVariantList>
#include <QVector>

#include <functional>

class DB;

// Backup copies of the database file, taken and restored through the program's own connection.
// A candidate copy is never opened where it lies: SQLite would recover, checkpoint or migrate it
// there. It is copied (with its journal) into a private folder first, and every statement on it
// runs under a time limit, so that no file, however it is built, can hold the program up.
namespace backup {

// The rows of a copy's tree (id, subnet, parent_id, parent_subnet, name) and hosts (id, subnet,
// host, note), in id order: ok when they may go into the live database, else why not.
using RowCheck = std::function<Status(const QVector<QVariantList>& subnets, const QVector<QVariantList>& hosts)>;

// How long the checks of one copy, and a restore's write, may take before they are interrupted.
constexpr int timeLimitMs = 30000;

// Writes a consistent copy of the open database to `target` and checks it; an existing target is
// replaced only by a copy that passed the check. Never writes over the database itself or over
// the files SQLite keeps beside it. A server's copy is an SQLite file of the same kind: the
// program's own schema, the rows of one consistent view, ids kept.
// Fails with the reason (Russian, or the database's text).
Status makeCopy(DB& db, const QString& target);

struct Inspection {
    qint64 subnetsNow = 0, hostsNow = 0;
    qint64 subnetsInCopy = 0, hostsInCopy = 0;
};

// Checks a candidate copy without changing it: not the live file, an SQLite database that passes
// its integrity check and holds this program's two tables (real tables, not views) with their
// columns (hosts without note, as before notes existed, too), rows that `check` accepts. Counts
// the rows; fails with why the file cannot be restored.
Result<Inspection> inspect(DB& db, const QString& source, const RowCheck& check, int limitMs = timeLimitMs);

// Checks the copy as inspect() does, then replaces the content of every table of the live database
// that the copy also holds with the same columns (at least subnets and hosts) in one transaction:
// all of it, or nothing. On a server the ids are kept too, and its id sequences go on after them.
// Fails with the reason.
Status restore(DB& db, const QString& source, const RowCheck& check, int limitMs = timeLimitMs);

} // namespace backup
