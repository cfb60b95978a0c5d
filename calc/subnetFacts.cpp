#include "calc/subnetFacts.h"

#include "net/ipv4.h"

namespace subnetFacts {

std::optional<Facts> calculate(const QString& addressText, const QString& maskItem)
{
    const auto typed = net::parseAddressWithPrefix(addressText + net::prefixPart(maskItem));
    if (!typed)
        return std::nullopt;
    const net::Network network = net::networkOf(typed->address, typed->prefix);
    const net::Address broadcast = net::broadcastOf(network);
    const quint64 count = net::addressCount(network.prefix);
    Facts facts;
    facts.network = net::toText(network);
    facts.first = net::toText(network.address);
    facts.addressCount = QString::number(count);
    facts.broadcast = net::toText(broadcast);
    if (network.prefix >= 31) {
        // A /31 is a point-to-point pair and a /32 one address: neither leaves room for hosts.
        facts.hostCount = QStringLiteral("0");
        facts.hostRange = QStringLiteral("В подсети нет адресов для хостов");
    } else {
        facts.hostCount = QString::number(count - 2);
        facts.hostRange = net::toText(network.address + 1) + QStringLiteral(" - ") + net::toText(broadcast - 1);
    }
    return facts;
}

QString refusalText(const QString& addressText, const QString& maskItem)
{
    return addressText + net::prefixPart(maskItem) + QStringLiteral(" - это не подсеть и не IP-адрес!");
}

} // namespace subnetFacts
