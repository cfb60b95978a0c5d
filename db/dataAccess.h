#pragma once

#include "db/sqlResult.h"

// Run at start-up before any window: creates the data directory when missing and checks that
// this user may write there and in the database file; creates the database file, empty, when
// there is none yet, so that it takes the process's umask (SQLite makes its own files 0644
// whatever the umask, which would lock the other members of the group out).
// Ok when all is well; else it fails with why not and what to do, in Russian.
Status prepareDataDir();
