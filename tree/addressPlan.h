#pragma once

#include "db/sqlResult.h"
#include "net/ipv4.h"

#include <QString>
#include <QVector>

#include <optional>

class DB;

// How full the rows of the plan are and where there is room: the figures behind the status
// bar, "Подобрать" and the free space window.
namespace addressPlan {

// "Хостов: 37 из 254 (14,6 %)", and for a row with branches " · занято филиалами: 2 × /24, 0,8 %";
// branches of different sizes are counted by size, largest first: "3 (1 × /24, 2 × /26), 1,2 %".
QString usageText(qint64 storedHosts, const net::Network& network, const QVector<net::Network>& branches);
// A share in percent with one decimal and a decimal comma: "14,6 %".
QString percentText(quint64 part, quint64 whole);

// The usage text of the tree row with this subnet, read from its host list and its branches;
// empty when the subnet is not a network text.
Result<QString> usageOf(DB& db, const QString& subnet);

using Networks = QVector<net::Network>;
// The direct branches of the row with this subnet (the ones the nesting rules compare with).
Result<Networks> branchesOf(DB& db, const QString& subnet);
// The free space of the row with this subnet: its network less its branches, fewest blocks.
Result<Networks> freeSpaceOf(DB& db, const net::Network& network, const QString& subnet);

// The lowest network of `prefix` inside `parent` that overlaps none of `branches`; never the parent's
// own network, which as a branch would repeat the parent's subnet.
std::optional<net::Network> suggestBranch(
    const net::Network& parent, int prefix, const QVector<net::Network>& branches);

} // namespace addressPlan
