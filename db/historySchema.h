#pragma once

#include "db/engine.h"
#include "db/sqlResult.h"

#include <QStringList>

class DB;

// The tables of the scan history, beside `subnets` and `hosts`: every finished scan (`scans`),
// the addresses that answered the last scan of each subnet (`scan_answers`) and, per address,
// when it first and last answered and how (`sightings`). Times are UTC ISO 8601 text with
// milliseconds, so that text order is time order. Addresses are 32-bit numbers. A server keeps
// the last two by blocks of addresses (db/historyBlocks.h).
namespace historySchema {

// Creates what is missing, and on a server folds the earlier layout into the blocks. A file that
// another program holds locked, or a database that this role cannot change, is left as it is
// (and reported as success): the tables come with the next chance to write, and every history
// read takes missing tables as an empty history.
SqlResult prepare(DB& db);
// Whether every table is there (a role that may not create tables reads and writes them then).
bool present(DB& db);
// How the history is kept, as this connection last found it.
HistoryLayout layout(DB& db);
// The statements that create the tables and their indexes, each with IF NOT EXISTS.
QStringList createStatements(DB& db);
// The statements that empty the history, for a transaction that empties everything.
QStringList clearStatements(DB& db);
// The statement that empties `table`, one of the program's own: a history table on a server that
// keeps it by blocks is emptied through them.
QString emptying(DB& db, const QString& table);
// A read that failed only because the tables were never created.
bool isMissingTable(const SqlResult& result);
// A statement's part: (2, last_seen, last_method, last_port as text) of the one bound address.
QString sightingOfAddress(DB& db);

} // namespace historySchema
