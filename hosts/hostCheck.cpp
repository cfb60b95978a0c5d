#include "hosts/hostCheck.h"

#include "net/ipv4.h"

#include <QHostAddress>
#include <QStringList>

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

// The characters of the cell's IPv6 text form: QHostAddress alone would also take blanks,
// a "%scope" and other spellings.
bool hasOnlyIpv6Characters(const QString& text)
{
    for (const QChar ch : text) {
        const ushort c = ch.unicode();
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != ':' && c != '.')
            return false;
    }
    return text.contains(QLatin1Char(':'));
}

// The groups of one side of the "::" (or of the whole text without one), or -1 when a group is
// not one to four hex digits. A dotted IPv4 tail counts as two groups, and only at the very end.
int groupCount(const QString& part, bool atEnd)
{
    if (part.isEmpty())
        return 0;
    const QStringList groups = part.split(QLatin1Char(':'));
    int count = 0;
    for (int i = 0; i < groups.size(); ++i) {
        const QString& group = groups.at(i);
        if (group.contains(QLatin1Char('.'))) {
            // Read by the strict IPv4 reader: no leading zeros there either.
            if (!atEnd || i + 1 < groups.size() || !net::parseAddress(group))
                return -1;
            count += 2;
        } else if (group.isEmpty() || group.size() > 4) {
            return -1;
        } else {
            ++count;
        }
    }
    return count;
}

// Eight groups, or fewer around the one "::" that stands for the missing zero groups. The parser
// behind QHostAddress would also take a "::" after eight groups, dropping what follows.
bool hasIpv6Groups(const QString& text)
{
    const QString gap = QStringLiteral("::");
    const int at = text.indexOf(gap);
    if (at < 0)
        return groupCount(text, true) == 8;
    if (text.indexOf(gap, at + 1) >= 0)
        return false;
    const int head = groupCount(text.left(at), false);
    const int rest = groupCount(text.mid(at + 2), true);
    return head >= 0 && rest >= 0 && head + rest <= 7;
}

Q_IPV6ADDR toBytes(const IpAddress& a)
{
    Q_IPV6ADDR bytes;
    for (int i = 0; i < 8; ++i) {
        bytes[i] = quint8(a.hi >> (56 - 8 * i));
        bytes[i + 8] = quint8(a.lo >> (56 - 8 * i));
    }
    return bytes;
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
    if (!hasOnlyIpv6Characters(text) || !hasIpv6Groups(text))
        return std::nullopt;
    QHostAddress parsed;
    if (!parsed.setAddress(text) || parsed.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    const Q_IPV6ADDR bytes = parsed.toIPv6Address();
    IpAddress a;
    a.version = 6;
    for (int i = 0; i < 8; ++i) {
        a.hi = (a.hi << 8) | bytes[i];
        a.lo = (a.lo << 8) | bytes[i + 8];
    }
    return a;
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
    // The deprecated IPv4-compatible form keeps hex groups (QHostAddress would write a dotted tail).
    if (a.hi == 0 && (a.lo >> 32) == 0) {
        const quint32 low = quint32(a.lo);
        QString text = QStringLiteral("::");
        if (low >> 16)
            text += QString::number(low >> 16, 16) + QLatin1Char(':');
        if (low)
            text += QString::number(low & 0xffff, 16);
        return text;
    }
    return QHostAddress(toBytes(a)).toString();
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
    // Both addresses of a /31 are hosts of a point-to-point link (RFC 3021), as the scan probes them,
    // and the one address of a /32 is the host it was made for: the free address and the usage
    // count it so.
    if (network->address.version == 4 && network->prefix >= 31)
        return { Verdict::Keep, QString() };
    if (*address == broadcastAddress(*network))
        return { Verdict::Refuse,
            QStringLiteral("Адрес ") + a + QStringLiteral(" является широковещательным для подсети ") + subnet };
    if (*address == networkAddress(*network))
        return { Verdict::Refuse, QStringLiteral("Адрес ") + a + QStringLiteral(" - адрес подсети ") + subnet };
    return { Verdict::Keep, QString() };
}

} // namespace hostCheck
