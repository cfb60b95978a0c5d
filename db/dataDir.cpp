#include "db/dataDir.h"

#include <QDir>
#include <QFileInfo>

QString dataDir()
{
    const QString fromEnv = qEnvironmentVariable("ZARVIN_SUBNETS_DIR");
    if (fromEnv.isEmpty())
        return QStringLiteral("/usr/share/zarvin/subnets/");
    return fromEnv.endsWith(QLatin1Char('/')) ? fromEnv : fromEnv + QLatin1Char('/');
}

QString databaseFilePath()
{
    return dataDir() + QStringLiteral("subnets.db");
}

QString settingsFilePath()
{
    // Kept as is: the settings file is named "install", without a suffix, where installs put it.
    return dataDir() + QStringLiteral("install");
}

// Not the database file's whole name with something added: SQLite names its own companions so
// ("-journal", "-wal", "-shm", "-mj..." for a transaction across files) and deletes them at will.
// Named after the database file, not a fixed name, so that two files in one directory never
// share one log.
QString changeLogFilePath(const QString& databaseFile)
{
    const QFileInfo info(databaseFile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-changes.db"));
}
