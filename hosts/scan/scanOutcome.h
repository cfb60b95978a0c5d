#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

// A scan that ran to its end: what was probed, how, when, and which addresses answered.
struct ScanOutcome {
    QString method; // "ICMP" or "TCP"
    quint16 port = 0; // 0 for ICMP
    QString subnet; // the window subnet
    QDateTime started, ended; // UTC
    quint64 probed = 0;
    QVector<quint32> answered;
};
