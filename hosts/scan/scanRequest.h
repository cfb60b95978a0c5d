#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QString>

#include <optional>

// What the scan dialog hands to the scan: the method tag ("ICMP" or "TCP"), for TCP the port
// text exactly as typed, and for ICMP whether fping runs it instead of one ping per address.
struct ScanRequest {
    QString method;
    QString port;
    bool fast = false;
};

namespace scanRequest {

inline QString icmp()
{
    return QStringLiteral("ICMP");
}
inline QString tcp()
{
    return QStringLiteral("TCP");
}
// The method a sweep by fping is recorded and shown with; it reads on where "ICMP" stands.
inline QString icmpByFping()
{
    return QStringLiteral("ICMP через fping");
}

// Whether this user last chose fping, kept in the user's own settings, not the shared file.
bool fastChosen();
void rememberFast(bool fast);

// Exactly the decimal ports 1 to 65535, no leading zero: the port field's pattern.
QString portPattern();
std::optional<quint16> parsePort(const QString& text);

// A request checked against the window subnet, ready to run.
struct Plan {
    bool tcp = false;
    bool fast = false; // ICMP by fping
    net::HostRange hosts;
    quint16 port = 0;
};

// The plan for `request` on `subnet`, or why it cannot run: a subnet that is not a network
// in CIDR notation, an unknown method, or an empty or unreadable TCP port.
Result<Plan> plan(const QString& subnet, const ScanRequest& request);
// "ICMP", "ICMP через fping" or "TCP".
QString methodOf(const Plan& plan);

} // namespace scanRequest
