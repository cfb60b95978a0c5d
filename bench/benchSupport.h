#pragma once

#include "db/DB.h"
#include "hosts/hostTable.h"
#include "net/ipv4.h"

#include <QTemporaryDir>

#include <functional>

// A data directory of the run's own, named in ZARVIN_SUBNETS_DIR while the object lives.
struct BenchDataDir {
    QTemporaryDir dir;
    BenchDataDir() { qputenv("ZARVIN_SUBNETS_DIR", dir.path().toUtf8()); }
};

// Every host address of `subnet` stored under it, the i-th with note(i), in one transaction.
inline void seedHosts(DB& db, const QString& subnet, const std::function<QString(quint64)>& note)
{
    const net::HostRange range = net::hostRange(*net::parseNetwork(subnet));
    db.writeTransaction([&] {
        for (quint64 i = 0; i < range.count; ++i)
            hostTable::insertHost(db, subnet, net::toText(range.at(i)), note(i));
        return Status();
    });
}
