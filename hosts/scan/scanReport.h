#pragma once

#include "hosts/scan/scanRequest.h"
#include "hosts/scan/subnetProber.h"

#include <QString>

// What the hosts window tells the user before and after a sweep, without widgets.
namespace scanReport {

// Larger than a /16: such a sweep runs long enough (and, for 0.0.0.0/0, wide enough) to ask first.
constexpr quint64 largestUnasked = 65534;
bool needsConfirmation(const scanRequest::Plan& plan);

// About 1 s per batch of the ICMP cap (two echoes, one second apart), 0.1 s per batch of
// the TCP cap (the time-out of a silent address); by fping 1 ms per address, its interval.
qint64 expectedSeconds(const scanRequest::Plan& plan, int icmpCap, int tcpCap);
// "5 ч 12 мин", "3 мин", "меньше минуты".
QString durationText(qint64 seconds);
QString confirmationText(const QString& subnet, const scanRequest::Plan& plan, int icmpCap, int tcpCap);

// The first line that "ping -c 1 ADDRESS", run through the shell, writes to standard error,
// and its exit status; for a sweep whose every probe failed.
struct PingDiagnosis {
    int status = -1; // -1: it did not end in time
    QString firstLine;
};
PingDiagnosis diagnosePing(quint32 address);

// The text of the error box for a sweep in which no probe ran, or none when some did.
// For ICMP it runs diagnosePing() on `probedAddress` to quote ping's own words.
// By fping, any address it left untold fails the sweep, with fping's own reason.
std::optional<QString> failureText(
    const scanRequest::Plan& plan, const SubnetProber::Tally& tally, quint32 probedAddress);

// The label under a sweep by fping: how many addresses are settled so far.
QString fpingProgressText(quint64 settled, quint64 total);

} // namespace scanReport
