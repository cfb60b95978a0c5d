#pragma once

#include "net/ipv4.h"

#include <QVector>

#include <optional>
#include <utility>

// Free and used space inside a network: what the plan tools offer and count.
// Ranges are worked in 64 bits so that the end of 255.255.255.255 needs no special case.
namespace net {

// The addresses a host list may hold: strictly between network and broadcast, except that
// both addresses of a /31 are hosts (point-to-point links) and a /32 is its one address.
HostRange hostAddresses(const Network& n);

// The part of `outer` that none of `taken` covers, as the fewest CIDR blocks, largest first
// (equal sizes by address). Taken blocks may overlap each other or reach outside `outer`.
QVector<Network> freeBlocks(const Network& outer, const QVector<Network>& taken);

// The lowest network of `prefix` inside `outer` that overlaps none of `taken`; none when
// no such network exists or `prefix` is wider than `outer`.
std::optional<Network> lowestFreeNetwork(const Network& outer, int prefix, const QVector<Network>& taken);

// The lowest of `range` that is not in `used`, which must be sorted ascending (duplicates and
// values outside the range are fine).
std::optional<Address> lowestFreeAddress(const HostRange& range, const QVector<Address>& used);

// Texts [first, second) in code order that hold the canonical text of every address and network
// inside `n`: its fixed octets and a dot ("10.1." up to "10.1/"), so that a text index serves the
// range; callers still check each text found.
std::pair<QString, QString> textRange(const Network& n);

} // namespace net
