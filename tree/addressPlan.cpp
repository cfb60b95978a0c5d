#include "tree/addressPlan.h"

#include "db/DB.h"
#include "net/addressSpace.h"
#include "tree/subnetTable.h"

#include <QMap>

namespace addressPlan {

namespace {

QString countBySize(const QVector<net::Network>& branches)
{
    QMap<int, int> bySize; // prefix → branches; ascending prefix is largest first
    for (const net::Network& b : branches)
        ++bySize[b.prefix];
    QStringList parts;
    for (auto it = bySize.cbegin(); it != bySize.cend(); ++it)
        parts << QString::number(it.value()) + QStringLiteral(" × /") + QString::number(it.key());
    if (bySize.size() == 1)
        return parts.first();
    return QString::number(branches.size()) + QStringLiteral(" (") + parts.join(QStringLiteral(", "))
        + QLatin1Char(')');
}

} // namespace

QString percentText(quint64 part, quint64 whole)
{
    const double share = whole == 0 ? 0.0 : 100.0 * double(part) / double(whole);
    return QString::number(share, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')) + QStringLiteral(" %");
}

QString usageText(qint64 storedHosts, const net::Network& network, const QVector<net::Network>& branches)
{
    const quint64 hostCount = net::hostAddresses(network).count;
    QString text = QStringLiteral("Хостов: ") + QString::number(storedHosts) + QStringLiteral(" из ")
        + QString::number(hostCount) + QStringLiteral(" (") + percentText(quint64(storedHosts), hostCount)
        + QLatin1Char(')');
    if (branches.isEmpty())
        return text;
    // Overlapping branches (from files edited outside the program) are counted once.
    quint64 covered = net::addressCount(network.prefix);
    for (const net::Network& free : net::freeBlocks(network, branches))
        covered -= net::addressCount(free.prefix);
    return text + QStringLiteral(" · занято филиалами: ") + countBySize(branches) + QStringLiteral(", ")
        + percentText(covered, net::addressCount(network.prefix));
}

Networks branchesOf(DB& db, const QString& subnet)
{
    Networks result;
    result.status = subnetTable::branchSubnets(db, subnet);
    for (const QVariantList& row : qAsConst(result.status.rows))
        if (const auto n = net::parseNetwork(row.value(0).toString()))
            result.networks << *n;
    result.status.rows.clear();
    return result;
}

Text usageOf(DB& db, const QString& subnet)
{
    Text result;
    const auto network = net::parseNetwork(subnet);
    if (!network)
        return result;
    result.status = db.run(QStringLiteral("SELECT COUNT(*) FROM hosts WHERE subnet=?"), { subnet });
    if (!result.status.ok())
        return result;
    const qint64 stored = result.status.rows.value(0).value(0).toLongLong();
    const Networks branches = branchesOf(db, subnet);
    result.status = branches.status;
    if (result.status.ok())
        result.text = usageText(stored, *network, branches.networks);
    return result;
}

Networks freeSpaceOf(DB& db, const net::Network& network, const QString& subnet)
{
    Networks result = branchesOf(db, subnet);
    if (result.status.ok())
        result.networks = net::freeBlocks(network, result.networks);
    return result;
}

std::optional<net::Network> suggestBranch(const net::Network& parent, int prefix, const QVector<net::Network>& branches)
{
    if (prefix <= parent.prefix)
        return std::nullopt;
    return net::lowestFreeNetwork(parent, prefix, branches);
}

} // namespace addressPlan
