#pragma once

#include <QSettings>

#include <memory>

// The settings store "install" of the data directory: INI, read and written as UTF-8.
std::unique_ptr<QSettings> openSettings();
// Only the exact text "true" counts as accepted.
bool isAgreementAccepted(const QSettings& install);
void recordAgreement(QSettings& install);
