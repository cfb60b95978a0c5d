#pragma once

#include "db/sqlResult.h"

#include <QStringList>
#include <QVector>

#include <functional>

class DB;

// A server keeps the scan history by blocks of 256 addresses: `scan_answer_blocks` holds a
// scan's answers as one bit string a block, and `sighting_blocks` the addresses of a block that
// share their first and last answers, as one bit string beside those answers. A server pays for
// every row it indexes: a /16 is 256 rows here, against 65,536 one an address. Views
// `scan_answers` and `sightings` show the same with the file's columns, one row an address, for
// the backup and for anyone who reads the tables. Bit i of block b is address b * 256 + i.
namespace historyBlocks {

// The tables, the views, and the fold of a server's earlier tables of one row an address (its
// rows kept), in one statement: all of it, or nothing.
QStringList createStatements();
// Its layout as read from the catalog: the tables and the views of the blocks, else the earlier
// tables, else none.
QString layoutQuery();

// A scan's answers, in ascending order, each once.
SqlResult addAnswers(DB& db, qint64 scan, const QVector<quint32>& ascending);
// The scan's answers as sightings: first seen where new, last seen where not older.
SqlResult addSightings(DB& db, qint64 scan, const QString& seen, const QString& method, int port);
// The answers of the subnet's scans other than `kept`.
SqlResult dropAnswers(DB& db, const QString& subnet, qint64 kept);

// A scan's answers, in ascending order.
Result<QVector<quint32>> answers(DB& db, qint64 scan);
// For each stored sighting of the addresses from `first` to `last`: its last_seen, last_method
// and last_port as stored, and the address.
Status sightings(
    DB& db, quint32 first, quint32 last, const std::function<void(const QVariantList& answer, quint32 address)>& each);
// A statement's part: (2, last_seen, last_method, last_port as text) of the one bound address.
QString sightingOfAddress();

// The rows of `table` (scan_answers or sightings) of the JSON array bound to the statement,
// into the blocks; an empty text for any other table.
QString insertRows(const QString& table);
// Emptying `table` (scan_answers or sightings); an empty text for any other table.
QString deleteRows(const QString& table);

} // namespace historyBlocks
