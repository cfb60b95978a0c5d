#pragma once

#include "db/sqlResult.h"
#include "hosts/scan/scanOutcome.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVector>

#include <optional>

class DB;

// The history of scans kept in the database file, and the comparison of a scan with the
// stored host lists. Every read takes missing history tables as an empty history.
namespace scanHistory {

// When an address last answered, and how.
struct Sighting {
    QDateTime last; // UTC
    QString method;
    quint16 port = 0;
};

// One recorded scan.
struct ScanRecord {
    qint64 id = 0;
    QString subnet, method;
    quint16 port = 0;
    QDateTime started, ended; // UTC
    quint64 probed = 0, answered = 0;
};

// The three lists of a comparison, each in ascending numeric address order.
struct Comparison {
    struct Row {
        QString address;
        QString note;
        std::optional<QDateTime> lastSeen; // "Молчат": when it last answered, UTC
    };
    QVector<Row> fresh; // answered, stored in no host list
    QVector<Row> silent; // stored for the subnet, did not answer
    QVector<Row> answering; // stored (in any list) and answered
};

// Records the scan and its answers in one transaction: all of it, or nothing.
SqlResult record(DB& db, const ScanOutcome& outcome);

// The last recorded scan of `subnet` (by its text), or none when it was never scanned.
Result<std::optional<ScanRecord>> lastScan(DB& db, const QString& subnet);
// The scan compared with the host lists: stored for its subnet, and stored anywhere.
Result<Comparison> compare(DB& db, const ScanRecord& scan);
// A sighting read as stored: last_seen, last_method, last_port.
Sighting sightingOf(const QVariantList& row);
// Every sighting of the addresses from `first` to `last`, both included.
Result<QHash<quint32, Sighting>> sightings(DB& db, quint32 first, quint32 last);
// Those of `addresses` that no host list holds.
Result<QVector<quint32>> unlisted(DB& db, const QVector<quint32>& addresses);

// Texts shown to the user, in local time.
QString shownTime(const QDateTime& utc); // dd.MM.yyyy hh:mm
QString methodText(const QString& method, quint16 port); // "ICMP", "TCP 80"
QString lastAnswerText(const Sighting* seen); // the tooltip of an address
QString scanTitle(const ScanRecord& scan);
// The main window's status text for a tree row's subnet.
QString lastScanText(DB& db, const QString& subnet);

} // namespace scanHistory
