#pragma once

#include "db/DB.h"
#include "hosts/hostTable.h"
#include "hosts/scan/scanOutcome.h"
#include "net/ipv4.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>

// A benchmark whose data could not be written would measure nothing: it stops with the reason.
inline void must(const Status& done)
{
    if (done.ok())
        return;
    std::fprintf(stderr, "bench: writing the data failed: %s\n", qPrintable(done.errorText));
    std::exit(1);
}

// A data directory of the run's own, named in ZARVIN_SUBNETS_DIR while the object lives.
struct BenchDataDir {
    QTemporaryDir dir;
    BenchDataDir() { qputenv("ZARVIN_SUBNETS_DIR", dir.path().toUtf8()); }
};

// Every host address of `subnet` stored under it, the i-th with note(i), in one transaction.
inline void seedHosts(DB& db, const QString& subnet, const std::function<QString(quint64)>& note)
{
    const net::HostRange range = net::hostRange(*net::parseNetwork(subnet));
    must(db.writeTransaction([&] {
        Status done;
        for (quint64 i = 0; i < range.count && done.ok(); ++i)
            done = hostTable::insertHost(db, subnet, net::toText(range.at(i)), note(i));
        return done;
    }));
}

// A finished ICMP scan of `subnet` that ended `minutesAgo` minutes ago, where every `every`-th
// host address answered.
inline ScanOutcome everyAddress(const QString& subnet, int every, int minutesAgo)
{
    const net::HostRange range = net::hostRange(*net::parseNetwork(subnet));
    ScanOutcome o { QStringLiteral("ICMP"), 0, subnet, {}, {}, range.count, {} };
    o.ended = QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo);
    o.started = o.ended.addSecs(-20);
    for (quint64 i = 0; i < range.count; i += quint64(every))
        o.answered << range.at(i);
    return o;
}
