#pragma once

#include <QString>

#include <optional>

// The six facts the calculator shows for an address and a mask item, as display texts.
namespace subnetFacts {

struct Facts {
    QString network; // "a.b.c.d/p"
    QString first; // the network address
    QString addressCount; // decimal, up to 4294967296
    QString hostCount;
    QString broadcast;
    QString hostRange; // "first - last", or the no-hosts sentence
};

// None when the address text joined with the item's "/p" part is not an address with a prefix.
// Host bits in the address are dropped.
std::optional<Facts> calculate(const QString& addressText, const QString& maskItem);

// The refusal shown when calculate() could not read the address text.
QString refusalText(const QString& addressText, const QString& maskItem);

} // namespace subnetFacts
