#include "app/settings.h"

#include "db/dataDir.h"

#include <QTextCodec>

namespace {
const QString agreementKey = QStringLiteral("Installed/agreement");
}

std::unique_ptr<QSettings> openSettings()
{
    auto install = std::make_unique<QSettings>(settingsFilePath(), QSettings::IniFormat);
    install->setIniCodec(QTextCodec::codecForName("UTF-8"));
    return install;
}

bool isAgreementAccepted(const QSettings& install)
{
    const QVariant value = install.value(agreementKey);
    return value.type() == QVariant::String && value.toString() == QLatin1String("true");
}

void recordAgreement(QSettings& install)
{
    install.setValue(agreementKey, QStringLiteral("true"));
    install.sync();
}
