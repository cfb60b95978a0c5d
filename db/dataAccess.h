#pragma once

#include "db/sqlResult.h"

class DB;
class QSqlDatabase;

// Run at start-up before any window: creates the data directory when missing and checks that
// this user may at least read the database there (nothing of the kind when a server is chosen). Creates no file: a user
// who declines the agreement leaves nothing behind. Ok when all is well; else it fails with why not and what to do, in
// Russian.
Status prepareDataDir();

// Opens `conn` on its database file, the one way every connection of the program is opened.
// A missing file is made here, empty, with the process's umask (SQLite makes its own files 0644
// whatever the umask, which would lock the other members of the group out). Any member of the
// group can put something else under the name: a symbolic link or anything but a plain file is
// refused, naming it, and so is a file that is not the checked one by the time SQLite opened it.
Status openDatabaseFile(QSqlDatabase& conn);
// Attaches `file` to the open connection of `db` as `schema`, with the same care.
Status attachDatabaseFile(DB& db, const QString& file, const QString& schema);

// Why this user cannot change the data directory's database, and what to do; empty when they can.
QString readOnlyReason();
