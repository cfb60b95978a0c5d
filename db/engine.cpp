#include "db/engine.h"

#include "db/dataDir.h"

#include <QSettings>
#include <QTextCodec>

QString Engine::configuredUrl()
{
    const QString fromEnv = qEnvironmentVariable("ZARVIN_DATABASE").trimmed();
    if (!fromEnv.isEmpty())
        return fromEnv;
    QSettings install(settingsFilePath(), QSettings::IniFormat);
    install.setIniCodec(QTextCodec::codecForName("UTF-8"));
    return install.value(QStringLiteral("Database/url")).toString().trimmed();
}

std::unique_ptr<Engine> Engine::chosen(const QString& file)
{
    const QString url = file.isEmpty() ? configuredUrl() : QString();
    return url.isEmpty() ? sqliteEngine(file) : postgresEngine(url);
}
