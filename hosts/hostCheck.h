#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The check of a host table address cell against the window subnet, and the IP text
// it rests on. IPv4 and IPv6 are read alike so that an address of the other version
// is told apart from text that is no address at all.
namespace hostCheck {

struct IpAddress {
    int version = 4; // 4 or 6
    // The address as a 128-bit number; an IPv4 address lives in the low 32 bits of lo.
    quint64 hi = 0;
    quint64 lo = 0;
    bool operator==(const IpAddress& o) const { return version == o.version && hi == o.hi && lo == o.lo; }
};

struct IpNetwork {
    IpAddress address; // host bits zero
    int prefix = 32;
};

// Four decimal fields 0..255 without leading zeros, nothing else.
std::optional<IpAddress> parseIpv4(const QString& text);
// The text forms of RFC 4291 section 2.2: eight groups of one to four hex digits, one "::"
// standing for at least one zero group, and a dotted IPv4 tail in place of the last two.
std::optional<IpAddress> parseIpv6(const QString& text);
std::optional<IpAddress> parseIp(const QString& text);
// "address/prefix" with the host bits zero, or a bare address as a network of one.
std::optional<IpNetwork> parseNetwork(const QString& text);

// Dotted decimal for IPv4; RFC 5952 for IPv6 (IPv4-mapped addresses keep a dotted tail).
QString canonicalText(const IpAddress& address);

bool contains(const IpNetwork& network, const IpAddress& address);
IpAddress networkAddress(const IpNetwork& network);
IpAddress broadcastAddress(const IpNetwork& network);

// What becomes of an address cell after an edit.
struct Verdict {
    enum Kind { Keep, Clear, Refuse } kind = Keep;
    QString message; // the text of the refusal box; empty unless Refuse
    bool operator==(const Verdict& o) const { return kind == o.kind && message == o.message; }
};

// `subnet` is the window subnet exactly as the window holds it; it goes into the message as is.
Verdict check(const QString& cellText, const QString& subnet);

} // namespace hostCheck
