#pragma once

#include <QString>

// Where the database and the settings live: ZARVIN_SUBNETS_DIR when set,
// else "/usr/share/zarvin/subnets/". Read at every call so tests can switch it.
QString dataDir();
QString databaseFilePath();
QString settingsFilePath();
// The change log of the SQLite file `databaseFile`: a file of its own beside it.
QString changeLogFilePath(const QString& databaseFile);
