#include "hosts/hostCheck.h"

#include <QTest>

using hostCheck::Verdict;
Q_DECLARE_METATYPE(Verdict)

namespace {
const QString lan = QStringLiteral("192.168.1.0/24");
const QString v6 = QStringLiteral("2001:db8::/64");
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

class TestHostCheck : public QObject {
    Q_OBJECT

private slots:
    void check_data()
    {
        QTest::addColumn<QString>("subnet");
        QTest::addColumn<QString>("cell");
        QTest::addColumn<Verdict>("verdict");
        const Verdict keep { Verdict::Keep, {} }, clear { Verdict::Clear, {} };
        const auto row = [](const char* name, const QString& s, const QString& c, const Verdict& v) {
            QTest::newRow(name) << s << c << v;
        };
        row("first host kept", lan, "192.168.1.1", keep);
        row("last host kept", lan, "192.168.1.254", keep);
        row("just below: outside", lan, "192.168.0.255", outside("192.168.0.255", lan));
        row("/31 lower: a host of the link", "10.0.0.4/31", "10.0.0.4", keep);
        row("/31 upper: a host of the link", "10.0.0.4/31", "10.0.0.5", keep);
        row("/31 neighbour: outside", "10.0.0.4/31", "10.0.0.6", outside("10.0.0.6", "10.0.0.4/31"));
        row("IPv6 /127 as before: network", "2001:db8::/127", "2001:db8::", network("2001:db8::", "2001:db8::/127"));
        row("/32: its one address kept", "10.0.0.5/32", "10.0.0.5", keep);
        row("bare address subnet: /32, text as held", "10.0.0.5", "10.0.0.6", outside("10.0.0.6", "10.0.0.5"));
        row("/0 broadcast", "0.0.0.0/0", "255.255.255.255", broadcast("255.255.255.255", "0.0.0.0/0"));
        row("trailing blank after 25", lan, "192.168.1.25 ", clear);
        row("unfinished", lan, "192.168.", clear);
        row("leading zero 010", lan, "192.168.1.010", clear);
        row("IPv6 long form: canonical in the text", lan, "2001:0DB8:0:0:0:0:0:1", outside("2001:db8::1", lan));
        row("IPv4-mapped host inside: still outside", lan, "::FFFF:192.168.1.10", outside("::ffff:192.168.1.10", lan));
        row("IPv6 with a zone: no address", lan, "fe80::1%eth0", clear);
        row("subnet with host bits: any text cleared", "192.168.1.1/24", "192.168.1.10", clear);
        row("subnet prefix 33", "10.0.0.0/33", "10.0.0.1", clear);
        row("subnet prefix with leading zero", "10.0.0.0/08", "10.0.0.1", clear);
        row("IPv6 subnet prefix 129", "::1/129", "::1", clear);
        row("IPv6 bare address subnet: /128", "::1", "::1", broadcast("::1", "::1"));
        row("IPv6 subnet: network", v6, "2001:DB8:0::", network("2001:db8::", v6));
        row("IPv6 subnet: last address", v6, "2001:db8::ffff:ffff:ffff:ffff",
            broadcast("2001:db8::ffff:ffff:ffff:ffff", v6));
        row("IPv6 subnet: neighbour outside", v6, "2001:db8:0:1::1", outside("2001:db8:0:1::1", v6));
        row("IPv6 subnet: IPv4 is the other version", v6, "192.168.1.10", outside("192.168.1.10", v6));
    }

    void check()
    {
        QFETCH(QString, subnet);
        QFETCH(QString, cell);
        QFETCH(Verdict, verdict);
        const Verdict v = hostCheck::check(cell, subnet);
        QCOMPARE(int(v.kind), int(verdict.kind));
        QCOMPARE(v.message, verdict.message);
    }

    // The text read as IPv6 and written back in canonical form; an empty canonical text: refused.
    void ipv6_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("canonical");
        QTest::newRow("mixed case, leading zeros")
            << "2001:0DB8:0000:0000:0000:0000:0000:0001" << QString("2001:db8::1");
        QTest::newRow("first of equal zero runs") << "2001:db8:0:0:1:0:0:1" << QString("2001:db8::1:0:0:1");
        QTest::newRow("longest zero run") << "1:0:0:2:0:0:0:3" << QString("1:0:0:2::3");
        QTest::newRow("gap for one group: single zero kept") << "1:2:3:4:5:6:7::" << QString("1:2:3:4:5:6:7:0");
        QTest::newRow("all zero") << "::" << QString("::");
        QTest::newRow("mapped keeps dotted tail") << "::FFFF:0102:0304" << QString("::ffff:1.2.3.4");
        QTest::newRow("dotted tail after gap") << "::1.2.3.4" << QString("::102:304");
        QTest::newRow("nine groups") << "1:2:3:4:5:6:7:8:9" << QString("");
        QTest::newRow("gap standing for no group") << "1:2:3:4::5:6:7:8" << QString("");
        QTest::newRow("gap after eight groups") << "1:2:3:4:5:6:7:8::" << QString("");
        QTest::newRow("two gaps after eight groups") << "1:2:3:4:5:6:7:8::9::" << QString("");
        QTest::newRow("two gaps") << "1::2::3" << QString("");
        QTest::newRow("single leading colon") << ":1::" << QString("");
        QTest::newRow("five hex digits") << "12345::" << QString("");
        QTest::newRow("dotted tail not last") << "::1.2.3.4:5" << QString("");
    }

    void ipv6()
    {
        QFETCH(QString, text);
        QFETCH(QString, canonical);
        const auto address = hostCheck::parseIpv6(text);
        QCOMPARE(address ? hostCheck::canonicalText(*address) : QString(), canonical);
    }
};

QTEST_APPLESS_MAIN(TestHostCheck)
#include "test_host_check.moc"
