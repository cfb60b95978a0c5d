#include "tree/inventorySearch.h"

#include "db/DB.h"

namespace inventorySearch {

namespace {

void count(Found& found, const Hit& hit, int limit)
{
    if (found.hits.size() < limit)
        found.hits << hit;
    ++found.total;
}

} // namespace

Searcher::Searcher(DB& db_)
    : db(db_)
{ }

SqlResult Searcher::refresh(bool withHosts)
{
    const SqlResult v = db.run(QStringLiteral("PRAGMA data_version"));
    if (!v.ok())
        return v;
    const qint64 now = v.rows.value(0).value(0).toLongLong();
    if (now != version) {
        rows.clear();
        rowOfSubnet.clear();
        hosts.clear();
        hostsRead = false;
        SqlResult r = db.run(QStringLiteral("SELECT name, subnet, parent_subnet FROM subnets"));
        if (!r.ok())
            return r;
        rows.reserve(r.rows.size());
        for (const QVariantList& values : qAsConst(r.rows)) {
            Row row { values.value(0).toString(), values.value(1).toString(), values.value(2).toString(), {}, {},
                false };
            row.foldedName = row.name.toCaseFolded();
            const auto network = net::parseNetwork(row.subnet);
            row.isNetwork = network.has_value();
            row.network = network.value_or(net::Network {});
            rowOfSubnet.insert(row.subnet, rows.size());
            rows << row;
        }
        version = now;
    }
    if (!withHosts || hostsRead)
        return {};
    SqlResult r = db.run(QStringLiteral("SELECT host, note, subnet FROM hosts"));
    if (!r.ok())
        return r;
    hosts.reserve(r.rows.size());
    for (const QVariantList& values : qAsConst(r.rows)) {
        Host host { values.value(0).toString(), values.value(1).toString(), values.value(2).toString(), {}, {} };
        host.foldedHost = host.host.toCaseFolded();
        host.foldedNote = host.note.toCaseFolded();
        hosts << host;
    }
    hostsRead = true;
    return {};
}

QString Searcher::rowLabel(const QString& subnet) const
{
    const auto it = rowOfSubnet.constFind(subnet);
    if (it == rowOfSubnet.cend())
        return subnet;
    return subnet + QStringLiteral(" «") + rows.at(*it).name + QStringLiteral("»");
}

Hit Searcher::rowHit(const Row& row, const QString& where) const
{
    return Hit { Hit::Row, row.subnet, row.name, where, row.subnet, {} };
}

Found Searcher::find(const QString& text, int limit)
{
    const QString query = text.trimmed();
    if (query.isEmpty())
        return {};
    if (const auto address = net::parseAddress(query))
        return findAddress(*address);
    if (query.contains(QLatin1Char('/')))
        if (const auto typed = net::parseAddressWithPrefix(query))
            return findNetwork(net::networkOf(typed->address, typed->prefix), limit);
    return findText(query, limit);
}

Found Searcher::findAddress(net::Address address)
{
    Found found;
    const QString text = net::toText(address);
    found.status = refresh(false);
    if (!found.status.ok())
        return found;
    const SqlResult stored = db.run(QStringLiteral("SELECT host, note, subnet FROM hosts WHERE host = ?"), { text });
    found.status = stored;
    if (!stored.ok())
        return found;
    found.total = 1;
    if (!stored.rows.isEmpty()) {
        const QString subnet = stored.rows.first().value(2).toString();
        found.hits << Hit { Hit::Host, text, stored.rows.first().value(1).toString(), rowLabel(subnet), subnet, text };
        return found;
    }
    const Row* deepest = nullptr;
    for (const Row& row : qAsConst(rows))
        if (row.isNetwork && net::contains(row.network, net::Network { address, 32 })
            && (!deepest || row.network.prefix > deepest->network.prefix))
            deepest = &row;
    if (deepest)
        found.hits << Hit { Hit::Unrecorded, text, QStringLiteral("не записан; входит в ") + rowLabel(deepest->subnet),
            {}, deepest->subnet, {} };
    else
        found.hits << Hit { Hit::Outside, text, QStringLiteral("вне всех подсетей"), {}, {}, {} };
    return found;
}

Found Searcher::findNetwork(const net::Network& query, int limit)
{
    Found found;
    found.status = refresh(false);
    if (!found.status.ok())
        return found;
    QVector<const Row*> matching;
    for (const Row& row : qAsConst(rows))
        if (row.isNetwork && net::overlaps(row.network, query))
            matching << &row;
    // Outermost first and then in address order: the order in which the tree nests them.
    std::sort(matching.begin(), matching.end(), [](const Row* a, const Row* b) {
        return a->network.address != b->network.address ? a->network.address < b->network.address
                                                        : a->network.prefix < b->network.prefix;
    });
    const QString queryText = net::toText(query);
    for (const Row* row : qAsConst(matching)) {
        const QString where = row->network == query ? QStringLiteral("совпадает с ") + queryText
            : net::contains(query, row->network)    ? QStringLiteral("входит в ") + queryText
                                                    : QStringLiteral("содержит ") + queryText;
        count(found, rowHit(*row, where), limit);
    }
    return found;
}

Found Searcher::findText(const QString& text, int limit)
{
    Found found;
    found.status = refresh(true);
    if (!found.status.ok())
        return found;
    const QString needle = text.toCaseFolded();
    for (const Row& row : qAsConst(rows))
        if (row.foldedName.contains(needle))
            count(found, rowHit(row, row.parentSubnet.isEmpty() ? QString() : rowLabel(row.parentSubnet)), limit);
    for (const Host& host : qAsConst(hosts))
        if (host.foldedNote.contains(needle) || host.foldedHost.contains(needle))
            count(found, Hit { Hit::Host, host.host, host.note, rowLabel(host.subnet), host.subnet, host.host }, limit);
    return found;
}

} // namespace inventorySearch
