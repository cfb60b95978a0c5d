#include "net/ipv4.h"

#include <QVector>

namespace net {

QString dottedQuadPattern()
{
    // Kept as is: the blank in the last class lets "…25 " stand in a field; the reading refuses it.
    return QStringLiteral("^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\\.){3}"
                          "([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5 ])$");
}

Address netmask(int prefix)
{
    if (prefix <= 0)
        return 0;
    if (prefix >= 32)
        return 0xffffffffu;
    return ~Address(0) << (32 - prefix);
}

QString maskItem(int prefix)
{
    const Address m = netmask(prefix);
    QStringList octets;
    for (int shift = 24; shift >= 0; shift -= 8)
        // Kept as is: three digits per octet ("255.255.255.000 /24"), the items users know.
        octets << QStringLiteral("%1").arg((m >> shift) & 0xff, 3, 10, QLatin1Char('0'));
    return octets.join(QLatin1Char('.')) + QStringLiteral(" /") + QString::number(prefix);
}

QStringList maskList()
{
    QStringList items;
    for (int p = 32; p >= 0; --p)
        items << maskItem(p);
    return items;
}

QString prefixPart(const QString& maskItem)
{
    const int blank = maskItem.indexOf(QLatin1Char(' '));
    return blank < 0 ? QString() : maskItem.mid(blank + 1);
}

std::optional<int> parseDecimal(const QStringRef& text, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return std::nullopt;
    if (text.size() > 1 && text.at(0) == QLatin1Char('0'))
        return std::nullopt;
    int value = 0;
    for (const QChar ch : text) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (ch.unicode() - '0');
    }
    return value;
}

namespace {

std::optional<int> parsePrefix(const QStringRef& text)
{
    const auto p = parseDecimal(text, 2);
    if (!p || *p > 32)
        return std::nullopt;
    return p;
}

} // namespace

std::optional<Address> parseAddress(const QString& text)
{
    const QVector<QStringRef> parts = text.splitRef(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    Address address = 0;
    for (const QStringRef& part : parts) {
        const auto octet = parseDecimal(part, 3);
        if (!octet || *octet > 255)
            return std::nullopt;
        address = (address << 8) | Address(*octet);
    }
    return address;
}

std::optional<AddressWithPrefix> parseAddressWithPrefix(const QString& text)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    if (slash < 0)
        return std::nullopt;
    const auto address = parseAddress(text.left(slash));
    const auto prefix = parsePrefix(text.midRef(slash + 1));
    if (!address || !prefix)
        return std::nullopt;
    return AddressWithPrefix { *address, *prefix };
}

std::optional<Network> parseNetwork(const QString& text)
{
    if (!text.contains(QLatin1Char('/'))) {
        const auto address = parseAddress(text);
        if (!address)
            return std::nullopt;
        return Network { *address, 32 };
    }
    const auto parsed = parseAddressWithPrefix(text);
    if (!parsed || (parsed->address & ~netmask(parsed->prefix)) != 0)
        return std::nullopt;
    return Network { parsed->address, parsed->prefix };
}

Network networkOf(Address address, int prefix)
{
    return Network { address & netmask(prefix), prefix };
}

Address broadcastOf(const Network& n)
{
    return n.address | ~netmask(n.prefix);
}

quint64 addressCount(int prefix)
{
    return quint64(1) << (32 - prefix);
}

QString toText(Address address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

QString toText(const Network& n)
{
    return toText(n.address) + QLatin1Char('/') + QString::number(n.prefix);
}

bool contains(const Network& outer, const Network& inner)
{
    return outer.address <= inner.address && broadcastOf(inner) <= broadcastOf(outer);
}

bool overlaps(const Network& a, const Network& b)
{
    return contains(a, b) || contains(b, a);
}

HostRange hostRange(const Network& n)
{
    if (n.prefix == 32)
        return HostRange { n.address, 0 };
    if (n.prefix == 31)
        return HostRange { n.address, 2 };
    return HostRange { n.address + 1, addressCount(n.prefix) - 2 };
}

} // namespace net
