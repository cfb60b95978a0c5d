#include "net/ipv4.h"

#include <QRegExp>
#include <QtTest>

using net::Address;
using net::Network;

namespace {

Network nw(const char* text)
{
    const auto n = net::parseNetwork(QString::fromLatin1(text));
    if (!n)
        qFatal("bad test network %s", text);
    return *n;
}

} // namespace

class TestNet : public QObject {
    Q_OBJECT
private slots:
    void parseAddress_data();
    void parseAddress();
    void parseAddressWithPrefix_data();
    void parseAddressWithPrefix();
    void parseNetwork_data();
    void parseNetwork();
    void networkAndBroadcast_data();
    void networkAndBroadcast();
    void addressCount_data();
    void addressCount();
    void containsAndOverlaps_data();
    void containsAndOverlaps();
    void hostRange_data();
    void hostRange();
    void hostRangeOfSlash32IsEmpty();
    void maskList();
    void dottedQuadPattern_data();
    void dottedQuadPattern();
};

void TestNet::parseAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("value");
    QTest::newRow("all zeros") << "0.0.0.0" << true << 0u;
    QTest::newRow("all ones") << "255.255.255.255" << true << 0xffffffffu;
    QTest::newRow("octet order") << "1.2.3.4" << true << 0x01020304u;
    QTest::newRow("high first octet") << "192.168.10.77" << true << 0xc0a80a4du;
    QTest::newRow("256 in last octet") << "10.0.0.256" << false << 0u;
    QTest::newRow("256 in first octet") << "256.0.0.0" << false << 0u;
    QTest::newRow("leading zero") << "10.01.0.1" << false << 0u;
    QTest::newRow("double zero") << "10.0.0.00" << false << 0u;
    QTest::newRow("zero-padded like a mask item") << "255.255.255.000" << false << 0u;
    QTest::newRow("five octets") << "1.2.3.4.5" << false << 0u;
    QTest::newRow("three octets") << "10.0.0" << false << 0u;
    QTest::newRow("trailing dot") << "1.2.3.4." << false << 0u;
    QTest::newRow("empty octet") << "1..3.4" << false << 0u;
    QTest::newRow("empty") << "" << false << 0u;
    QTest::newRow("trailing blank") << "10.0.0.25 " << false << 0u;
    QTest::newRow("leading blank") << " 10.0.0.25" << false << 0u;
    QTest::newRow("inner blank") << "10.0. 0.25" << false << 0u;
    QTest::newRow("sign") << "+1.2.3.4" << false << 0u;
    QTest::newRow("negative") << "1.2.3.-4" << false << 0u;
    QTest::newRow("hexadecimal") << "0x1.0.0.0" << false << 0u;
    QTest::newRow("four digits") << "1000.0.0.0" << false << 0u;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("1.2.3.\u0664") << false << 0u;
    QTest::newRow("with prefix") << "10.0.0.0/8" << false << 0u;
}

void TestNet::parseAddress()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(uint, value);
    const auto a = net::parseAddress(text);
    QCOMPARE(a.has_value(), valid);
    if (valid) {
        QCOMPARE(*a, Address(value));
        QCOMPARE(net::toText(*a), text);
    }
}

void TestNet::parseAddressWithPrefix_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("prefix");
    QTest::newRow("/0") << "10.1.2.3/0" << true << 0x0a010203u << 0;
    QTest::newRow("/1") << "10.1.2.3/1" << true << 0x0a010203u << 1;
    QTest::newRow("/32") << "10.1.2.3/32" << true << 0x0a010203u << 32;
    QTest::newRow("/33") << "10.1.2.3/33" << false << 0u << 0;
    QTest::newRow("prefix with leading zero") << "10.1.2.3/08" << false << 0u << 0;
    QTest::newRow("three-digit prefix") << "10.1.2.3/100" << false << 0u << 0;
    QTest::newRow("negative prefix") << "10.1.2.3/-1" << false << 0u << 0;
    QTest::newRow("no prefix digits") << "10.1.2.3/" << false << 0u << 0;
    QTest::newRow("no slash") << "10.1.2.3" << false << 0u << 0;
    QTest::newRow("empty address") << "/32" << false << 0u << 0;
    QTest::newRow("blank before slash") << "10.0.0.25 /24" << false << 0u << 0;
    QTest::newRow("blank after prefix") << "10.0.0.0/24 " << false << 0u << 0;
    QTest::newRow("second slash") << "10.0.0.0/24/1" << false << 0u << 0;
    QTest::newRow("five octets") << "1.2.3.4.5/24" << false << 0u << 0;
}

void TestNet::parseAddressWithPrefix()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(uint, address);
    QFETCH(int, prefix);
    const auto p = net::parseAddressWithPrefix(text);
    QCOMPARE(p.has_value(), valid);
    if (valid) {
        QCOMPARE(p->address, Address(address));
        QCOMPARE(p->prefix, prefix);
    }
}

void TestNet::parseNetwork_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("prefix");
    QTest::newRow("plain /8") << "10.0.0.0/8" << true << 8;
    QTest::newRow("host bits set") << "10.1.2.3/8" << false << 0;
    QTest::newRow("whole space") << "0.0.0.0/0" << true << 0;
    QTest::newRow("host bits under /0") << "1.0.0.0/0" << false << 0;
    QTest::newRow("upper half /1") << "128.0.0.0/1" << true << 1;
    QTest::newRow("host bit under /1") << "192.0.0.0/1" << false << 0;
    QTest::newRow("top /31") << "255.255.255.254/31" << true << 31;
    QTest::newRow("odd address /31") << "255.255.255.255/31" << false << 0;
    QTest::newRow("top /32") << "255.255.255.255/32" << true << 32;
    QTest::newRow("bare address is a /32") << "10.1.2.3" << true << 32;
    QTest::newRow("bare five octets") << "10.1.2.3.4" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TestNet::parseNetwork()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, prefix);
    const auto n = net::parseNetwork(text);
    QCOMPARE(n.has_value(), valid);
    if (valid) {
        QCOMPARE(n->prefix, prefix);
        const QString expected = text.contains(QLatin1Char('/')) ? text : text + QStringLiteral("/32");
        QCOMPARE(net::toText(*n), expected);
    }
}

void TestNet::networkAndBroadcast_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("network");
    QTest::addColumn<QString>("broadcast");
    QTest::newRow("/8 drops host bits") << "10.1.2.3" << 8 << "10.0.0.0/8" << "10.255.255.255";
    QTest::newRow("/24") << "192.168.10.77" << 24 << "192.168.10.0/24" << "192.168.10.255";
    QTest::newRow("/0 from the top address") << "255.255.255.255" << 0 << "0.0.0.0/0" << "255.255.255.255";
    QTest::newRow("/1 upper half") << "200.1.1.1" << 1 << "128.0.0.0/1" << "255.255.255.255";
    QTest::newRow("/1 lower half") << "127.255.255.255" << 1 << "0.0.0.0/1" << "127.255.255.255";
    QTest::newRow("/31 odd address") << "10.0.0.5" << 31 << "10.0.0.4/31" << "10.0.0.5";
    QTest::newRow("/32 keeps the address") << "10.0.0.5" << 32 << "10.0.0.5/32" << "10.0.0.5";
    QTest::newRow("/32 top address") << "255.255.255.255" << 32 << "255.255.255.255/32" << "255.255.255.255";
    QTest::newRow("/32 zero address") << "0.0.0.0" << 32 << "0.0.0.0/32" << "0.0.0.0";
}

void TestNet::networkAndBroadcast()
{
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, network);
    QFETCH(QString, broadcast);
    const Network n = net::networkOf(*net::parseAddress(address), prefix);
    QCOMPARE(net::toText(n), network);
    QCOMPARE(net::toText(net::broadcastOf(n)), broadcast);
}

void TestNet::addressCount_data()
{
    QTest::addColumn<int>("prefix");
    QTest::addColumn<quint64>("count");
    QTest::newRow("/0") << 0 << Q_UINT64_C(4294967296);
    QTest::newRow("/1") << 1 << Q_UINT64_C(2147483648);
    QTest::newRow("/24") << 24 << Q_UINT64_C(256);
    QTest::newRow("/31") << 31 << Q_UINT64_C(2);
    QTest::newRow("/32") << 32 << Q_UINT64_C(1);
}

void TestNet::addressCount()
{
    QFETCH(int, prefix);
    QFETCH(quint64, count);
    QCOMPARE(net::addressCount(prefix), count);
}

void TestNet::containsAndOverlaps_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("aContainsB");
    QTest::addColumn<bool>("bContainsA");
    QTest::newRow("equal") << "10.1.0.0/16" << "10.1.0.0/16" << true << true;
    QTest::newRow("nested") << "10.0.0.0/8" << "10.1.2.0/24" << true << false;
    QTest::newRow("touching /24s") << "10.0.0.0/24" << "10.0.1.0/24" << false << false;
    QTest::newRow("touching halves /1") << "0.0.0.0/1" << "128.0.0.0/1" << false << false;
    QTest::newRow("disjoint") << "10.0.0.0/8" << "11.0.0.0/16" << false << false;
    QTest::newRow("same start, wider") << "10.0.0.0/7" << "10.0.0.0/8" << true << false;
    QTest::newRow("/0 holds the top address") << "0.0.0.0/0" << "255.255.255.255/32" << true << false;
    QTest::newRow("/0 holds /0") << "0.0.0.0/0" << "0.0.0.0/0" << true << true;
    QTest::newRow("/32 at the parent's broadcast") << "10.1.0.0/16" << "10.1.255.255/32" << true << false;
    QTest::newRow("/32 just past the broadcast") << "10.1.0.0/16" << "10.2.0.0/32" << false << false;
    QTest::newRow("/32 just before the network") << "10.1.0.0/16" << "10.0.255.255/32" << false << false;
    QTest::newRow("/31 holds its top /32") << "255.255.255.254/31" << "255.255.255.255/32" << true << false;
    QTest::newRow("two different /32") << "10.0.0.1/32" << "10.0.0.2/32" << false << false;
}

void TestNet::containsAndOverlaps()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, aContainsB);
    QFETCH(bool, bContainsA);
    const Network na = nw(qPrintable(a));
    const Network nb = nw(qPrintable(b));
    QCOMPARE(net::contains(na, nb), aContainsB);
    QCOMPARE(net::contains(nb, na), bContainsA);
    QCOMPARE(net::overlaps(na, nb), aContainsB || bContainsA);
    QCOMPARE(net::overlaps(nb, na), aContainsB || bContainsA);
}

void TestNet::hostRange_data()
{
    QTest::addColumn<QString>("network");
    QTest::addColumn<quint64>("count");
    QTest::addColumn<QString>("firstHost");
    QTest::addColumn<QString>("lastHost");
    QTest::newRow("/24") << "192.168.1.0/24" << Q_UINT64_C(254) << "192.168.1.1" << "192.168.1.254";
    QTest::newRow("/30") << "10.0.0.4/30" << Q_UINT64_C(2) << "10.0.0.5" << "10.0.0.6";
    QTest::newRow("/31 gives both") << "10.0.0.4/31" << Q_UINT64_C(2) << "10.0.0.4" << "10.0.0.5";
    QTest::newRow("/31 at the top") << "255.255.255.254/31" << Q_UINT64_C(2) << "255.255.255.254"
                                    << "255.255.255.255";
    QTest::newRow("/0") << "0.0.0.0/0" << Q_UINT64_C(4294967294) << "0.0.0.1" << "255.255.255.254";
}

void TestNet::hostRange()
{
    QFETCH(QString, network);
    QFETCH(quint64, count);
    QFETCH(QString, firstHost);
    QFETCH(QString, lastHost);
    const net::HostRange r = net::hostRange(nw(qPrintable(network)));
    QCOMPARE(r.count, count);
    QCOMPARE(net::toText(r.at(0)), firstHost);
    QCOMPARE(net::toText(r.at(count - 1)), lastHost);
}

void TestNet::hostRangeOfSlash32IsEmpty()
{
    QCOMPARE(net::hostRange(nw("10.0.0.5/32")).count, quint64(0));
    QCOMPARE(net::hostRange(nw("255.255.255.255/32")).count, quint64(0));
}

void TestNet::maskList()
{
    const QStringList masks = net::maskList();
    QCOMPARE(masks.size(), 33);
    QCOMPARE(masks.first(), QStringLiteral("255.255.255.255 /32"));
    QCOMPARE(masks.at(1), QStringLiteral("255.255.255.254 /31"));
    QCOMPARE(masks.at(2), QStringLiteral("255.255.255.252 /30"));
    QCOMPARE(masks.at(8), QStringLiteral("255.255.255.000 /24"));
    QCOMPARE(masks.at(9), QStringLiteral("255.255.254.000 /23"));
    QCOMPARE(masks.at(24), QStringLiteral("255.000.000.000 /8"));
    QCOMPARE(masks.at(25), QStringLiteral("254.000.000.000 /7"));
    QCOMPARE(masks.at(31), QStringLiteral("128.000.000.000 /1"));
    QCOMPARE(masks.last(), QStringLiteral("000.000.000.000 /0"));
    for (int i = 0; i < masks.size(); ++i)
        QCOMPARE(net::prefixPart(masks.at(i)), QStringLiteral("/") + QString::number(32 - i));
}

void TestNet::dottedQuadPattern_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("matches");
    QTest::newRow("complete") << "192.168.10.77" << true;
    QTest::newRow("top") << "255.255.255.255" << true;
    QTest::newRow("last octet 25 and a blank") << "10.0.0.25 " << true;
    QTest::newRow("last octet 1 and a blank") << "10.0.0.1 " << false;
    QTest::newRow("leading zero") << "10.0.0.01" << false;
    QTest::newRow("256") << "10.0.0.256" << false;
    QTest::newRow("three octets") << "10.0.0" << false;
    QTest::newRow("five octets") << "1.2.3.4.5" << false;
}

void TestNet::dottedQuadPattern()
{
    QFETCH(QString, text);
    QFETCH(bool, matches);
    QCOMPARE(net::dottedQuadPattern(),
             QStringLiteral("^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\\.){3}"
                            "([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5 ])$"));
    QCOMPARE(QRegExp(net::dottedQuadPattern()).exactMatch(text), matches);
}

QTEST_APPLESS_MAIN(TestNet)
#include "test_net.moc"
