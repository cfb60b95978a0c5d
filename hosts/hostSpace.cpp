#include "hosts/hostSpace.h"

#include "db/DB.h"
#include "net/addressSpace.h"

#include <algorithm>

namespace hostSpace {

namespace {

// Stored addresses whose text starts with the network's fixed octets: a range on the unique
// index of `host`, so a /24 reads its own 254 rows, not the whole table. "/" follows "." in
// code order, which closes the range.
SqlResult storedNear(DB& db, const net::Network& network)
{
    const int fixedOctets = network.prefix / 8;
    if (fixedOctets == 0)
        return db.run(QStringLiteral("SELECT host FROM hosts"));
    const QString text = net::toText(network.address);
    QString from = text.section(QLatin1Char('.'), 0, fixedOctets - 1) + QLatin1Char('.');
    if (fixedOctets == 4)
        from = text;
    QString to = from;
    to[to.size() - 1] = QChar(to.at(to.size() - 1).unicode() + 1);
    return db.run(QStringLiteral("SELECT host FROM hosts WHERE host >= ? AND host < ?"), { from, to });
}

} // namespace

FreeHost lowestFreeHost(DB& db, const net::Network& network, const QStringList& inTable)
{
    FreeHost result;
    result.status = storedNear(db, network);
    if (!result.status.ok())
        return result;
    QVector<net::Address> used;
    used.reserve(result.status.rows.size() + inTable.size());
    for (const QVariantList& row : qAsConst(result.status.rows))
        if (const auto a = net::parseAddress(row.value(0).toString()))
            used << *a;
    for (const QString& text : inTable)
        if (const auto a = net::parseAddress(text))
            used << *a;
    std::sort(used.begin(), used.end());
    result.status.rows.clear();
    result.address = net::lowestFreeAddress(net::hostAddresses(network), used);
    return result;
}

} // namespace hostSpace
