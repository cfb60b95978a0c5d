#pragma once

#include "hosts/scan/scanRequest.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// A scan that ran to its end: what was asked, where, when, and what answered.
struct ScanOutcome {
    ScanRequest request; // method and port text as the dialog gave them
    QString subnet; // the window subnet
    QDateTime started; // UTC
    QDateTime ended; // UTC
    quint64 probed = 0; // addresses probed
    QVector<quint32> answered; // in the order the answers came
};
