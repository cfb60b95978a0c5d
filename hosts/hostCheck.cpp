#include "hosts/hostCheck.h"

#include "net/ipv4.h"

#include <QStringList>
#include <QVector>

namespace hostCheck {

namespace {

int widthOf(int version)
{
    return version == 4 ? 32 : 128;
}

// The network mask of `prefix` over the address width of `version`, as (hi, lo).
std::pair<quint64, quint64> maskOf(int version, int prefix)
{
    if (version == 4)
        return { 0, net::netmask(prefix) };
    const auto upper = [](int bits) -> quint64 {
        return bits <= 0 ? 0 : bits >= 64 ? ~quint64(0) : ~quint64(0) << (64 - bits);
    };
    return { upper(prefix), upper(prefix - 64) };
}

std::optional<quint16> parseHexGroup(const QStringRef& text)
{
    if (text.isEmpty() || text.size() > 4)
        return std::nullopt;
    quint16 value = 0;
    for (const QChar ch : text) {
        const ushort c = ch.unicode();
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = quint16(value * 16 + digit);
    }
    return value;
}

// Colon-separated groups; the last one may be a dotted IPv4 tail when `tailAllowed`.
// An empty text gives no groups.
std::optional<QVector<quint16>> parseGroups(const QStringRef& text, bool tailAllowed)
{
    QVector<quint16> groups;
    if (text.isEmpty())
        return groups;
    const QVector<QStringRef> parts = text.split(QLatin1Char(':'));
    for (int i = 0; i < parts.size(); ++i) {
        const QStringRef& part = parts.at(i);
        if (tailAllowed && i == parts.size() - 1 && part.contains(QLatin1Char('.'))) {
            const auto v4 = net::parseAddress(part.toString());
            if (!v4)
                return std::nullopt;
            groups << quint16(*v4 >> 16) << quint16(*v4 & 0xffff);
            continue;
        }
        const auto group = parseHexGroup(part);
        if (!group)
            return std::nullopt;
        groups << *group;
    }
    return groups;
}

IpAddress fromGroups(const QVector<quint16>& groups)
{
    IpAddress a;
    a.version = 6;
    for (int i = 0; i < 4; ++i) {
        a.hi = (a.hi << 16) | groups.at(i);
        a.lo = (a.lo << 16) | groups.at(i + 4);
    }
    return a;
}

quint16 groupAt(const IpAddress& a, int i)
{
    const quint64 half = i < 4 ? a.hi : a.lo;
    return quint16(half >> (16 * (3 - i % 4)));
}

// A prefix length: decimal, no leading zero, at most `max`.
std::optional<int> parsePrefix(const QStringRef& text, int max)
{
    const auto value = net::parseDecimal(text, 3);
    if (!value || *value > max)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<IpAddress> parseIpv4(const QString& text)
{
    const auto v4 = net::parseAddress(text);
    if (!v4)
        return std::nullopt;
    IpAddress a;
    a.lo = *v4;
    return a;
}

std::optional<IpAddress> parseIpv6(const QString& text)
{
    const int gap = text.indexOf(QLatin1String("::"));
    if (gap < 0) {
        const auto groups = parseGroups(QStringRef(&text), true);
        if (!groups || groups->size() != 8)
            return std::nullopt;
        return fromGroups(*groups);
    }
    if (text.indexOf(QLatin1String("::"), gap + 1) >= 0)
        return std::nullopt; // a second "::", or ":::"
    const auto head = parseGroups(text.leftRef(gap), false);
    const auto tail = parseGroups(text.midRef(gap + 2), true);
    // "::" stands for one zero group at least.
    if (!head || !tail || head->size() + tail->size() > 7)
        return std::nullopt;
    QVector<quint16> groups = *head;
    groups.resize(8 - tail->size());
    groups << *tail;
    return fromGroups(groups);
}

std::optional<IpAddress> parseIp(const QString& text)
{
    if (auto v4 = parseIpv4(text))
        return v4;
    return parseIpv6(text);
}

std::optional<IpNetwork> parseNetwork(const QString& text)
{
    const int slash = text.indexOf(QLatin1Char('/'));
    const auto address = parseIp(slash < 0 ? text : text.left(slash));
    if (!address)
        return std::nullopt;
    const int width = widthOf(address->version);
    int prefix = width;
    if (slash >= 0) {
        const auto parsed = parsePrefix(text.midRef(slash + 1), width);
        if (!parsed)
            return std::nullopt;
        prefix = *parsed;
    }
    const IpNetwork network { *address, prefix };
    if (!(networkAddress(network) == *address))
        return std::nullopt; // host bits set
    return network;
}

QString canonicalText(const IpAddress& a)
{
    if (a.version == 4)
        return net::toText(net::Address(a.lo));
    if (a.hi == 0 && (a.lo >> 32) == 0xffff)
        return QStringLiteral("::ffff:") + net::toText(net::Address(a.lo));
    // The longest run of two or more zero groups, the first of equal runs, becomes "::".
    int bestStart = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groupAt(a, j) == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j > i ? j : i + 1;
    }
    QString text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += QLatin1String("::");
            i += bestLength - 1;
            continue;
        }
        if (!text.isEmpty() && !text.endsWith(QLatin1Char(':')))
            text += QLatin1Char(':');
        text += QString::number(groupAt(a, i), 16);
    }
    return text;
}

IpAddress networkAddress(const IpNetwork& n)
{
    const auto mask = maskOf(n.address.version, n.prefix);
    IpAddress a = n.address;
    a.hi &= mask.first;
    a.lo &= mask.second;
    return a;
}

IpAddress broadcastAddress(const IpNetwork& n)
{
    const auto mask = maskOf(n.address.version, n.prefix);
    IpAddress a = n.address;
    a.hi |= ~mask.first;
    a.lo |= ~mask.second;
    if (a.version == 4) {
        a.hi = 0;
        a.lo &= 0xffffffffu;
    }
    return a;
}

bool contains(const IpNetwork& n, const IpAddress& a)
{
    if (a.version != n.address.version)
        return false;
    return networkAddress(IpNetwork { a, n.prefix }) == networkAddress(n);
}

Verdict check(const QString& cellText, const QString& subnet)
{
    const auto address = parseIp(cellText);
    const auto network = parseNetwork(subnet);
    if (!address || !network)
        return { Verdict::Clear, QString() };
    const QString a = canonicalText(*address);
    if (!contains(*network, *address))
        return { Verdict::Refuse,
            QStringLiteral("Хост с адресом ") + a + QStringLiteral(" не входит в подсеть ") + subnet };
    // Both addresses of a /31 are hosts of a point-to-point link (RFC 3021), as the scan probes them.
    if (network->address.version == 4 && network->prefix == 31)
        return { Verdict::Keep, QString() };
    if (*address == broadcastAddress(*network))
        return { Verdict::Refuse,
            QStringLiteral("Адрес ") + a + QStringLiteral(" является широковещательным для подсети ") + subnet };
    if (*address == networkAddress(*network))
        return { Verdict::Refuse, QStringLiteral("Адрес ") + a + QStringLiteral(" - адрес подсети ") + subnet };
    return { Verdict::Keep, QString() };
}

} // namespace hostCheck
