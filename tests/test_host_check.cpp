#include "hosts/hostCheck.h"

#include <QTest>

using hostCheck::Verdict;

class TestHostCheck : public QObject {
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void ipv6Text_data();
    void ipv6Text();
    void canonicalIpv6_data();
    void canonicalIpv6();
    void windowSubnet_data();
    void windowSubnet();
};

namespace {
const QString lan = QStringLiteral("192.168.1.0/24");
Verdict keep()
{
    return { Verdict::Keep, QString() };
}
Verdict clear()
{
    return { Verdict::Clear, QString() };
}
Verdict outside(const QString& a, const QString& s)
{
    return { Verdict::Refuse, QStringLiteral("Хост с адресом ") + a + QStringLiteral(" не входит в подсеть ") + s };
}
Verdict broadcast(const QString& a, const QString& s)
{
    return { Verdict::Refuse,
        QStringLiteral("Адрес ") + a + QStringLiteral(" является широковещательным для подсети ") + s };
}
Verdict network(const QString& a, const QString& s)
{
    return { Verdict::Refuse, QStringLiteral("Адрес ") + a + QStringLiteral(" - адрес подсети ") + s };
}
} // namespace

void TestHostCheck::check_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    const auto row = [](const char* name, const QString& subnet, const QString& cell, const Verdict& v) {
        QTest::newRow(name) << subnet << cell << int(v.kind) << v.message;
    };
    row("usable host kept", lan, "192.168.1.10", keep());
    row("first host kept", lan, "192.168.1.1", keep());
    row("last host kept", lan, "192.168.1.254", keep());
    row("other subnet: outside", lan, "192.168.2.10", outside("192.168.2.10", lan));
    row("just below: outside", lan, "192.168.0.255", outside("192.168.0.255", lan));
    row("broadcast", lan, "192.168.1.255", broadcast("192.168.1.255", lan));
    row("network address", lan, "192.168.1.0", network("192.168.1.0", lan));
    row("/32: its address is broadcast", "10.0.0.5/32", "10.0.0.5", broadcast("10.0.0.5", "10.0.0.5/32"));
    row("bare address subnet is a /32", "10.0.0.5", "10.0.0.5", broadcast("10.0.0.5", "10.0.0.5"));
    row("/31 lower: network", "10.0.0.4/31", "10.0.0.4", network("10.0.0.4", "10.0.0.4/31"));
    row("/31 upper: broadcast", "10.0.0.4/31", "10.0.0.5", broadcast("10.0.0.5", "10.0.0.4/31"));
    row("/0 takes any address", "0.0.0.0/0", "8.8.8.8", keep());
    row("/0 broadcast", "0.0.0.0/0", "255.255.255.255", broadcast("255.255.255.255", "0.0.0.0/0"));
    row("/1 upper half outside", "0.0.0.0/1", "128.0.0.1", outside("128.0.0.1", "0.0.0.0/1"));
    row("trailing blank after 25", lan, "192.168.1.25 ", clear());
    row("leading blank", lan, " 192.168.1.25", clear());
    row("unfinished", lan, "192.168.", clear());
    row("three fields", lan, "192.168.1", clear());
    row("five fields", lan, "192.168.1.10.1", clear());
    row("empty text", lan, "", clear());
    row("octet above 255", lan, "192.168.1.256", clear());
    row("leading zero 010", lan, "192.168.1.010", clear());
    row("leading zero 07", lan, "192.168.1.07", clear());
    row("leading zero in third field", lan, "192.168.01.7", clear());
    row("plus sign", lan, "192.168.1.+5", clear());
    row("dot at the end", lan, "192.168.1.10.", clear());
    row("dot at the start", lan, ".192.168.1.10", clear());
    row("fullwidth digits", lan, QStringLiteral("１92.168.1.10"), clear());
    row("words", lan, "host", clear());
    row("IPv6 loopback: other version", lan, "::1", outside("::1", lan));
    row("IPv6 in long form: canonical in the text", lan, "2001:0DB8:0000:0000:0000:0000:0000:0001",
        outside("2001:db8::1", lan));
    row("IPv4-mapped IPv6 of a host inside: still outside", lan, "::FFFF:192.168.1.10",
        outside("::ffff:192.168.1.10", lan));
    row("IPv6 with a zone: no address", lan, "fe80::1%eth0", clear());
    row("IPv6 in brackets: no address", lan, "[::1]", clear());
    row("host bits in the subnet: any text cleared", "192.168.1.1/24", "192.168.1.10", clear());
    row("subnet not a network", "branch", "192.168.1.10", clear());
    row("empty subnet", "", "192.168.1.10", clear());
    row("prefix above 32", "192.168.1.0/33", "192.168.1.10", clear());
    row("/8 subnet in the text as held", "10.0.0.0/8", "11.0.0.1", outside("11.0.0.1", "10.0.0.0/8"));
    const QString v6 = QStringLiteral("2001:db8::/64");
    row("IPv6 subnet: host kept", v6, "2001:db8::5", keep());
    row("IPv6 subnet: network", v6, "2001:DB8:0::", network("2001:db8::", v6));
    row("IPv6 subnet: last address", v6, "2001:db8::ffff:ffff:ffff:ffff",
        broadcast("2001:db8::ffff:ffff:ffff:ffff", v6));
    row("IPv6 subnet: neighbour outside", v6, "2001:db8:0:1::1", outside("2001:db8:0:1::1", v6));
    row("IPv6 subnet: IPv4 is the other version", v6, "192.168.1.10", outside("192.168.1.10", v6));
    row("IPv6 /128 one address", "::1/128", "::1", broadcast("::1", "::1/128"));
}

void TestHostCheck::check()
{
    QFETCH(QString, subnet);
    QFETCH(QString, cell);
    QFETCH(int, kind);
    QFETCH(QString, message);
    const Verdict v = hostCheck::check(cell, subnet);
    QCOMPARE(int(v.kind), kind);
    QCOMPARE(v.message, message);
}

void TestHostCheck::ipv6Text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("eight groups") << "1:2:3:4:5:6:7:8" << true;
    QTest::newRow("four-digit groups, mixed case") << "ABCD:ef01:2345:6789:abcd:EF01:2345:6789" << true;
    QTest::newRow("all zero") << "::" << true;
    QTest::newRow("loopback") << "::1" << true;
    QTest::newRow("gap at the end") << "1::" << true;
    QTest::newRow("gap for one group") << "1:2:3:4:5:6:7::" << true;
    QTest::newRow("gap for one group at the start") << "::2:3:4:5:6:7:8" << true;
    QTest::newRow("dotted tail") << "1:2:3:4:5:6:1.2.3.4" << true;
    QTest::newRow("dotted tail after gap") << "::1.2.3.4" << true;
    QTest::newRow("mapped") << "::ffff:129.144.52.38" << true;
    QTest::newRow("nine groups") << "1:2:3:4:5:6:7:8:9" << false;
    QTest::newRow("seven groups, no gap") << "1:2:3:4:5:6:7" << false;
    QTest::newRow("gap standing for no group") << "1:2:3:4:5:6:7:8::" << false;
    QTest::newRow("gap standing for no group, front") << "::1:2:3:4:5:6:7:8" << false;
    QTest::newRow("gap inside eight groups") << "1:2:3:4::5:6:7:8" << false;
    QTest::newRow("two gaps") << "1::2::3" << false;
    QTest::newRow("three colons") << "1:::2" << false;
    QTest::newRow("single leading colon") << ":1::" << false;
    QTest::newRow("single trailing colon") << "1:2:3:4:5:6:7:8:" << false;
    QTest::newRow("five hex digits") << "12345::" << false;
    QTest::newRow("not hex") << "g::" << false;
    QTest::newRow("dotted tail with leading zero") << "::1.2.3.04" << false;
    QTest::newRow("short dotted tail") << "::1.2.3" << false;
    QTest::newRow("dotted head") << "1.2.3.4::" << false;
    QTest::newRow("dotted tail not last") << "::1.2.3.4:5" << false;
    QTest::newRow("too many groups with tail") << "1:2:3:4:5:6:7:1.2.3.4" << false;
    QTest::newRow("zone") << "fe80::1%eth0" << false;
    QTest::newRow("prefix") << "::1/128" << false;
    QTest::newRow("blank") << " ::1" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("one colon") << ":" << false;
}

void TestHostCheck::ipv6Text()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(bool(hostCheck::parseIpv6(text)), valid);
}

void TestHostCheck::canonicalIpv6_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");
    QTest::newRow("leading zeros dropped, lower case") << "2001:0DB8:0000:0000:0000:0000:0000:0001"
                                                       << "2001:db8::1";
    QTest::newRow("first of equal runs") << "2001:db8:0:0:1:0:0:1"
                                         << "2001:db8::1:0:0:1";
    QTest::newRow("longest run") << "1:0:0:2:0:0:0:3"
                                 << "1:0:0:2::3";
    QTest::newRow("single zero group kept") << "2001:db8:0:1:1:1:1:1"
                                            << "2001:db8:0:1:1:1:1:1";
    QTest::newRow("single zero at the end kept") << "1:2:3:4:5:6:7::"
                                                 << "1:2:3:4:5:6:7:0";
    QTest::newRow("all zero") << "0:0:0:0:0:0:0:0"
                              << "::";
    QTest::newRow("loopback") << "0:0:0:0:0:0:0:1"
                              << "::1";
    QTest::newRow("run at the end") << "1:0:0:0:0:0:0:0"
                                    << "1::";
    QTest::newRow("mapped keeps dotted tail") << "::FFFF:0102:0304"
                                              << "::ffff:1.2.3.4";
    QTest::newRow("compatible form in hex") << "::1.2.3.4"
                                            << "::102:304";
    QTest::newRow("no zero") << "ABCD:EF01:2345:6789:ABCD:EF01:2345:6789"
                             << "abcd:ef01:2345:6789:abcd:ef01:2345:6789";
}

void TestHostCheck::canonicalIpv6()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    const auto address = hostCheck::parseIpv6(text);
    QVERIFY(address);
    QCOMPARE(hostCheck::canonicalText(*address), canonical);
}

void TestHostCheck::windowSubnet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("prefix");
    QTest::newRow("/24") << "192.168.1.0/24" << true << 24;
    QTest::newRow("/0") << "0.0.0.0/0" << true << 0;
    QTest::newRow("bare address") << "10.0.0.5" << true << 32;
    QTest::newRow("host bits set") << "192.168.1.1/24" << false << 0;
    QTest::newRow("prefix 33") << "10.0.0.0/33" << false << 0;
    QTest::newRow("prefix with leading zero") << "10.0.0.0/08" << false << 0;
    QTest::newRow("no prefix after slash") << "10.0.0.0/" << false << 0;
    QTest::newRow("negative prefix") << "10.0.0.0/-8" << false << 0;
    QTest::newRow("IPv6 /32") << "2001:db8::/32" << true << 32;
    QTest::newRow("IPv6 /0") << "::/0" << true << 0;
    QTest::newRow("IPv6 bare address") << "::1" << true << 128;
    QTest::newRow("IPv6 host bits set") << "2001:db8::1/64" << false << 0;
    QTest::newRow("IPv6 prefix 129") << "::1/129" << false << 0;
}

void TestHostCheck::windowSubnet()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, prefix);
    const auto network = hostCheck::parseNetwork(text);
    QCOMPARE(bool(network), valid);
    if (network)
        QCOMPARE(network->prefix, prefix);
}

QTEST_APPLESS_MAIN(TestHostCheck)
#include "test_host_check.moc"
