#pragma once

#include "db/sqlResult.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class DB;

// Who changed what and when: table `change_log`, one entry per changed row, written in the
// transaction of the change itself. The entries of one command share an operation number, which
// grows with time, so a save of many hosts reads as one line. Times are UTC ISO 8601 text with
// milliseconds. On a server the rows that other clients change are entered by triggers, with the
// database role as who; the program marks its own transactions so that they are not entered twice.
namespace changeLog {

enum class What { Added, Renamed, Deleted, Emptied, HostAdded, NoteChanged, HostDeleted, Imported, Restored };

// The stored code of each kind ("added", "host_added", ...) and what the user reads for it.
QString code(What what);
QString caption(const QString& code);
// The same for `count` entries of one kind: «Добавлено хостов: 254».
QString countCaption(const QString& code, int count);

struct Entry {
    What what;
    QString subnet, name, host, before, after;
};

// The login name of the person running the program.
QString who();

// Creates the table (and a server's triggers) when missing; like the history, a database that
// cannot be written now is left as it is.
SqlResult prepare(DB& db);
bool present(DB& db);

// Enters `entries` as one operation. Inside the caller's write transaction: the entries are
// committed, or undone, with the change. Nothing to enter is no statement at all. They are queued
// in table `change_log_pending`, in the file of the change, as one row, and moved into the log
// (numbered, one row each) once the connection is idle, or by whatever reads the log first.
Status record(DB& db, const QVector<Entry>& entries);
// Moves what is queued into the log; a database that cannot be written now keeps it queued.
Status moveQueued(DB& db);
// The name of the tree row with `subnet`, empty when there is none.
Result<QString> rowName(DB& db, const QString& subnet);
// "строк дерева: 3, хостов: 12": what a restore or emptying replaced, for its entry.
Result<QString> counts(DB& db);

// What the window shows: the entries whose text holds `text` (any case; who, subnet, name,
// address, notes), and with `branch` (a subnet) only those inside it.
struct Filter {
    QString text;
    QString branch;
};
// One operation: its first entry's details, and how many entries of each kind it holds.
struct Line {
    qint64 operation = 0;
    QString time, who, subnet, name, host, before, after;
    QVector<QPair<QString, int>> kinds; // code, entries
    int count() const;
    // «Изменено примечание», or «Добавлено хостов: 200, изменено примечаний: 54».
    QString summary() const;
};
// Up to `size` operations older than `below` (0: the newest), newest first.
Result<QVector<Line>> page(DB& db, const Filter& filter, qint64 below, int size);

// The window's columns, and one line as its cells (time in local time).
QStringList titles();
QStringList cells(const Line& line);
// The lines as a CSV file by the rules of the other exports (UTF-8 with its mark, ";"), the file
// replaced only once it is whole.
Status exportTo(const QVector<Line>& lines, const QString& path);

// When the tree row with `subnet`, or the host `host`, last changed and by whom, for a tooltip;
// empty when the log says nothing of it.
QString lastChangeOfRow(DB& db, const QString& subnet);
QString lastChangeOfHost(DB& db, const QString& host);

// A stored UTC time as the user's local time.
QString shownTime(const QString& stored);

} // namespace changeLog
