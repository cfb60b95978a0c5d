#pragma once

#include "net/ipv4.h"

#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

// The fast ICMP engine: the addresses of a range handed to fping, one process per batch of at
// most `defaultBatch` addresses, one batch after the other. fping is started directly, never
// through a shell, and only `-g FIRST LAST` of the range reach its command line.
// Its lines are read as they come; answers are reported in ascending address order.
// Destroying the sweep or aborting it kills fping and reaps it.
class FpingSweep : public QObject {
    Q_OBJECT
public:
    // fping keeps a record per target: a /16 per process holds it to a few megabytes.
    static constexpr quint64 defaultBatch = 65536;

    // The full path of fping on PATH, empty when there is none.
    static QString locate();
    // Every echo request 1 ms after the one before (the least interval fping documents), a
    // target given up 0.5 s after its request (0.75 s after the retry, fping's back-off), one retry.
    static QStringList arguments(net::Address first, net::Address last);

    explicit FpingSweep(QObject* parent = nullptr);
    ~FpingSweep() override;

    void setBatchLimit(quint64 addresses);

    // Starts a sweep and returns at once; `finished` follows, at once for an empty range.
    void start(const net::HostRange& hosts);
    void abort();

    quint64 answeredCount() const;
    quint64 silentCount() const;
    quint64 unsettledCount() const; // of the last sweep, once finished: addresses fping never told
    // Why the last sweep did not run to its end, in fping's own words where it gave any.
    const std::optional<QString>& failure() const;
    // The exit status of the last fping (128 + the signal when killed), or minus the errno of a start.
    int failureCode() const;

signals:
    void answered(quint32 address);
    void settled(quint32 address); // every address once, in ascending order
    void finished();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
