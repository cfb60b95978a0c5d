#pragma once

#include "db/sqlResult.h"

#include <QHash>
#include <QPair>
#include <QString>
#include <QVariant>
#include <QVector>

class DB;

// The statements of a subnet's host list on table `hosts`.
namespace hostTable {

// The statements of a save and of deleting selected rows, for whoever prepares them once.
QString insertHostStatement(); // subnet, host, note
QString updateNoteStatement(); // note, host
QString deleteHostStatement(); // host

SqlResult hostsOfSubnet(DB& db, const QString& subnet); // host, note in the order they were added
SqlResult insertHost(DB& db, const QString& subnet, const QString& host, const QString& note);
SqlResult deleteSubnet(DB& db, const QString& subnet);

// One row of a save. `replaceNote`: the note was written by the user in this window; only such
// a note may overwrite one that is stored already. A null note is stored as the empty text.
struct SavedRow {
    QString host;
    QString note;
    bool replaceNote = false;
};

// Whether `subnet` is a row of the tree.
Result<bool> hasTreeRow(DB& db, const QString& subnet);
// The tree row's name while `subnet` is a row of the tree; else a refusal that says another user
// or window deleted it. Run inside the write transaction of what it guards: hosts under a subnet
// that no tree row has would be invisible, and would capture later saves of the same addresses.
Result<QString> requireTreeRow(DB& db, const QString& subnet);

// Inserts each row under `subnet`; an address stored already (under any subnet) gets only its
// note updated, and only with `replaceNote`. One write transaction with the subnet's check:
// every row, or none.
Status saveRows(DB& db, const QString& subnet, const QVector<SavedRow>& rows);

// The notes stored under `subnet`, by address.
Result<QHash<QString, QString>> notesOf(DB& db, const QString& subnet);
// Inside the caller's write transaction: new rows (address, note) under `subnet`, ids in their
// order; and new notes of stored addresses. One statement for all rows on an engine that writes
// rows together (EngineSql::PairTable), else the statements above, one a row; the first failure
// ends them.
Status insertRows(DB& db, const QString& subnet, const QVector<QPair<QString, QString>>& rows);
Status updateNotes(DB& db, const QVector<QPair<QString, QString>>& rows);

// Deletes the hosts with these addresses, whatever subnet stores them, in one transaction.
Status deleteHosts(DB& db, const QVariantList& hosts);

} // namespace hostTable
