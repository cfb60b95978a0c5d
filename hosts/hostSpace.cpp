#include "hosts/hostSpace.h"

#include "db/DB.h"
#include "net/addressSpace.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace hostSpace {

namespace {

// The addresses of `range` that lie in [first, last].
net::HostRange clip(const net::HostRange& range, quint64 first, quint64 last)
{
    const quint64 from = std::max<quint64>(range.first, first);
    const quint64 to = std::min<quint64>(quint64(range.first) + range.count - 1, last);
    if (range.count == 0 || to < from)
        return net::HostRange { net::Address(from), 0 };
    return net::HostRange { net::Address(from), to - from + 1 };
}

// How many stored texts are canonical addresses of `part`, which lies inside one /24: the last
// octet must read back as the same decimal text and lie in the part's range. Prepared once for
// all the blocks of a network.
class StoredCount {
public:
    explicit StoredCount(DB& db_)
        : db(db_)
        , query(db_.newQuery())
    {
        query.setForwardOnly(true);
        prepared = query.prepare(db.engine().text(EngineSql::StoredCount));
    }
    Result<quint64> operator()(const net::HostRange& part)
    {
        const auto range = net::textRange(net::Network { part.first & 0xffffff00u, 24 });
        const int octetAt = range.first.size() + 1;
        const QVariantList values { range.first, range.second, octetAt, octetAt, octetAt, part.first & 0xff,
            quint64(part.first & 0xff) + part.count - 1 };
        for (int i = 0; i < values.size(); ++i)
            query.bindValue(i, values.at(i));
        const bool counted = prepared && query.exec() && query.next();
        const Result<quint64> n
            = counted ? Result<quint64>(query.value(0).toULongLong()) : Result<quint64>(db.failure(query.lastError()));
        query.finish();
        return n;
    }

private:
    DB& db;
    QSqlQuery query;
    bool prepared = false;
};

// The lowest address of `part` that neither the stored texts nor `inTable` hold.
std::optional<net::Address> lowestIn(
    const SqlResult& stored, const net::HostRange& part, const QVector<net::Address>& inTable)
{
    QVector<net::Address> used = inTable;
    for (const QVariantList& row : stored.rows)
        if (const auto a = net::parseAddress(row.value(0).toString()))
            used << *a;
    std::sort(used.begin(), used.end());
    return net::lowestFreeAddress(part, used);
}

} // namespace

Result<std::optional<net::Address>> lowestFreeHost(DB& db, const net::Network& network, const QStringList& inTable)
{
    QVector<net::Address> table;
    for (const QString& text : inTable)
        if (const auto a = net::parseAddress(text))
            table << *a;
    const net::HostRange hosts = net::hostAddresses(network);
    StoredCount storedCount(db);
    // Block by block of 256 addresses, in address order. A block whose every host address is
    // stored is skipped on a count over the index; only the first block with room is read.
    const quint64 last = net::broadcastOf(network);
    for (quint64 start = network.address; start <= last; start += 256) {
        const net::HostRange part = clip(hosts, start, std::min<quint64>(start + 255, last));
        if (part.count == 0)
            continue;
        const Result<quint64> stored = storedCount(part);
        if (!stored.ok())
            return Status(stored);
        if (stored.value >= part.count)
            continue;
        const auto range = net::textRange(net::Network { part.first & 0xffffff00u, 24 });
        const SqlResult rows = db.run(
            QStringLiteral("SELECT host FROM hosts WHERE host >= ? AND host < ?"), { range.first, range.second });
        if (!rows.ok())
            return Status(rows);
        if (const std::optional<net::Address> free = lowestIn(rows, part, table))
            return free;
    }
    return std::optional<net::Address>();
}

} // namespace hostSpace
