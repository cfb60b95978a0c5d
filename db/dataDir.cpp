#include "db/dataDir.h"

#include <QDir>

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
