#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// IPv4 arithmetic shared by the tree, the host lists and the calculator.
// Addresses are host-order 32-bit numbers; nothing here shifts by 32.
namespace net {

using Address = quint32;

struct Network {
    Address address = 0; // host bits are always zero
    int prefix = 32;
    bool operator==(const Network& o) const { return address == o.address && prefix == o.prefix; }
};

// An address together with the prefix it was typed with; host bits may be set.
struct AddressWithPrefix {
    Address address = 0;
    int prefix = 32;
};

// The dotted-quad pattern of every address field and of the host table's editor.
// The blank in the last class is deliberate: "25 " matches in full.
QString dottedQuadPattern();

// "255.255.255.255 /32" down to "000.000.000.000 /0", 33 items.
QStringList maskList();
QString maskItem(int prefix);
// The part of a mask item after its blank, e.g. "/24".
QString prefixPart(const QString& maskItem);

Address netmask(int prefix);

// A decimal number of 1..maxDigits ASCII digits without a leading zero.
std::optional<int> parseDecimal(const QStringRef& text, int maxDigits);

// Exactly four decimal octets 0..255, no leading zeros, nothing else.
std::optional<Address> parseAddress(const QString& text);
// "a.b.c.d/p" with p 0..32; host bits allowed.
std::optional<AddressWithPrefix> parseAddressWithPrefix(const QString& text);
// A network text: "a.b.c.d/p" with no host bits set, or a bare address as a /32.
std::optional<Network> parseNetwork(const QString& text);

Network networkOf(Address address, int prefix);
Address broadcastOf(const Network& n);
quint64 addressCount(int prefix); // 2^(32-prefix), up to 4294967296

QString toText(Address address);
QString toText(const Network& n); // "a.b.c.d/p"

bool contains(const Network& outer, const Network& inner);
bool overlaps(const Network& a, const Network& b);

// The addresses a scan probes: strictly between network and broadcast, except that
// a /31 gives both its addresses and a /32 none.
struct HostRange {
    Address first = 0;
    quint64 count = 0;
    Address at(quint64 i) const { return Address(first + i); }
};
HostRange hostRange(const Network& n);

} // namespace net
