#include "net/addressSpace.h"

#include <algorithm>

namespace net {

namespace {

// An inclusive range of addresses; 64-bit so that one past 255.255.255.255 is representable.
struct Span {
    quint64 first;
    quint64 last;
};

Span spanOf(const Network& n)
{
    return Span { n.address, broadcastOf(n) };
}

// The taken blocks cut to `outer`, sorted and merged, so that gaps between them are free.
QVector<Span> mergedInside(const Network& outer, const QVector<Network>& taken)
{
    const Span limit = spanOf(outer);
    QVector<Span> spans;
    for (const Network& t : taken) {
        const Span s = spanOf(t);
        if (s.last >= limit.first && s.first <= limit.last)
            spans << Span { std::max(s.first, limit.first), std::min(s.last, limit.last) };
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
    QVector<Span> merged;
    for (const Span& s : spans) {
        if (!merged.isEmpty() && s.first <= merged.last().last + 1)
            merged.last().last = std::max(merged.last().last, s.last);
        else
            merged << s;
    }
    return merged;
}

// The largest aligned block that starts at `first` and ends by `last`.
int largestPrefixAt(quint64 first, quint64 last)
{
    int prefix = 0;
    while (prefix < 32) {
        const quint64 size = addressCount(prefix);
        if (first % size == 0 && first + size - 1 <= last)
            break;
        ++prefix;
    }
    return prefix;
}

void appendBlocks(quint64 first, quint64 last, QVector<Network>& out)
{
    while (first <= last) {
        const int prefix = largestPrefixAt(first, last);
        out << Network { Address(first), prefix };
        first += addressCount(prefix);
    }
}

} // namespace

HostRange hostAddresses(const Network& n)
{
    // The scan's range but for a /32, whose one address is probed by nobody and yet kept in a list.
    return n.prefix == 32 ? HostRange { n.address, 1 } : hostRange(n);
}

QVector<Network> freeBlocks(const Network& outer, const QVector<Network>& taken)
{
    QVector<Network> blocks;
    quint64 next = outer.address;
    for (const Span& s : mergedInside(outer, taken)) {
        if (s.first > next)
            appendBlocks(next, s.first - 1, blocks);
        next = s.last + 1;
    }
    appendBlocks(next, broadcastOf(outer), blocks);
    std::stable_sort(
        blocks.begin(), blocks.end(), [](const Network& a, const Network& b) { return a.prefix < b.prefix; });
    return blocks;
}

std::optional<Network> lowestFreeNetwork(const Network& outer, int prefix, const QVector<Network>& taken)
{
    if (prefix < outer.prefix || prefix > 32)
        return std::nullopt;
    const quint64 size = addressCount(prefix);
    const quint64 end = quint64(broadcastOf(outer)) + 1;
    quint64 candidate = outer.address;
    for (const Span& s : mergedInside(outer, taken)) {
        if (candidate + size <= s.first)
            break;
        if (s.last >= candidate)
            candidate = (s.last + 1 + size - 1) / size * size; // the next aligned start past the block
    }
    if (candidate + size > end)
        return std::nullopt;
    return Network { Address(candidate), prefix };
}

std::optional<Address> lowestFreeAddress(const HostRange& range, const QVector<Address>& used)
{
    quint64 candidate = range.first;
    const quint64 end = quint64(range.first) + range.count;
    for (auto it = std::lower_bound(used.begin(), used.end(), range.first); it != used.end(); ++it) {
        if (*it > candidate)
            break;
        if (*it == candidate)
            ++candidate;
    }
    if (candidate >= end)
        return std::nullopt;
    return Address(candidate);
}

std::pair<QString, QString> textRange(const Network& n)
{
    const int fixedOctets = n.prefix / 8;
    if (fixedOctets == 0)
        return { QString(), QStringLiteral(":") }; // ":" follows every digit
    const QString text = toText(n.address);
    const QString from
        = fixedOctets == 4 ? text : text.section(QLatin1Char('.'), 0, fixedOctets - 1) + QLatin1Char('.');
    QString to = from;
    to[to.size() - 1] = QChar(to.at(to.size() - 1).unicode() + 1);
    return { from, to };
}

} // namespace net
