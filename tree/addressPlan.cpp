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

Result<Networks> branchesOf(DB& db, const QString& subnet)
{
    const SqlResult rows = subnetTable::branchSubnets(db, subnet);
    if (!rows.ok())
        return Status(rows);
    Networks branches;
    for (const QVariantList& row : rows.rows)
        if (const auto n = net::parseNetwork(row.value(0).toString()))
            branches << *n;
    return branches;
}

Result<QString> usageOf(DB& db, const QString& subnet)
{
    const auto network = net::parseNetwork(subnet);
    if (!network)
        return QString();
    const SqlResult count = db.run(QStringLiteral("SELECT COUNT(*) FROM hosts WHERE subnet=?"), { subnet });
    if (!count.ok())
        return Status(count);
    const Result<Networks> branches = branchesOf(db, subnet);
    if (!branches.ok())
        return Status(branches);
    return usageText(count.rows.value(0).value(0).toLongLong(), *network, branches.value);
}

Result<Networks> freeSpaceOf(DB& db, const net::Network& network, const QString& subnet)
{
    const Result<Networks> branches = branchesOf(db, subnet);
    if (!branches.ok())
        return branches;
    return net::freeBlocks(network, branches.value);
}

std::optional<net::Network> suggestBranch(const net::Network& parent, int prefix, const QVector<net::Network>& branches)
{
    if (prefix <= parent.prefix)
        return std::nullopt;
    return net::lowestFreeNetwork(parent, prefix, branches);
}

} // namespace addressPlan
