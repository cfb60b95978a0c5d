#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QStringList>

#include <optional>

class DB;

// Which host addresses of a network are still free in the whole inventory.
namespace hostSpace {

// The lowest host address of `network` (as net::hostAddresses counts them) that no host list
// stores, under whatever subnet, and that is not among `inTable` (texts not yet saved).
// None when every host address is taken.
Result<std::optional<net::Address>> lowestFreeHost(DB& db, const net::Network& network, const QStringList& inTable);

} // namespace hostSpace
