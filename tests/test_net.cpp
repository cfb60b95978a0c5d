#include "net/ipv4.h"

#include <QRegExp>
#include <QtTest>

class TestNet : public QObject {
    Q_OBJECT
private slots:
    // Each text against the address field's pattern and the two readers.
    void parsing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("pattern");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("network");
        const QString refused; // null: the reader returns nothing
        QTest::newRow("0.0.0.0") << "0.0.0.0" << true << "0.0.0.0" << QString("0.0.0.0/32");
        QTest::newRow("255.255.255.255") << "255.255.255.255" << true << "255.255.255.255"
                                         << QString("255.255.255.255/32");
        QTest::newRow("256") << "10.0.0.256" << false << refused << refused;
        QTest::newRow("leading zero") << "10.01.0.1" << false << refused << refused;
        QTest::newRow("five octets") << "1.2.3.4.5" << false << refused << refused;
        QTest::newRow("25 and a blank: the pattern only") << "10.0.0.25 " << true << refused << refused;
        QTest::newRow("1 and a blank") << "10.0.0.1 " << false << refused << refused;
        QTest::newRow("/0 with host bits") << "10.1.2.3/0" << false << refused << refused;
        QTest::newRow("/0") << "0.0.0.0/0" << false << refused << "0.0.0.0/0";
        QTest::newRow("/32") << "255.255.255.255/32" << false << refused << "255.255.255.255/32";
        QTest::newRow("/33") << "10.1.2.3/33" << false << refused << refused;
        QTest::newRow("prefix with leading zero") << "10.0.0.0/08" << false << refused << refused;
        QTest::newRow("empty address") << "/32" << false << refused << refused;
        QTest::newRow("blank before slash") << "10.0.0.25 /24" << false << refused << refused;
    }

    void parsing()
    {
        QFETCH(QString, text);
        QFETCH(bool, pattern);
        QFETCH(QString, address);
        QFETCH(QString, network);
        QCOMPARE(QRegExp(net::dottedQuadPattern()).exactMatch(text), pattern);
        const auto a = net::parseAddress(text);
        QCOMPARE(a ? net::toText(*a) : QString(), address);
        const auto n = net::parseNetwork(text);
        QCOMPARE(n ? net::toText(*n) : QString(), network);
    }

    // The mask item, host bits dropped, the broadcast, and the addresses a scan probes ("count: first - last").
    void networkAndHosts_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("network");
        QTest::addColumn<QString>("broadcast");
        QTest::addColumn<QString>("hosts");
        QTest::newRow("/8, octet order") << "10.1.2.3" << 8 << "255.000.000.000 /8" << QString("10.0.0.0/8")
                                         << "10.255.255.255" << QString("16777214: 10.0.0.1 - 10.255.255.254");
        QTest::newRow("/0") << "255.255.255.255" << 0 << "000.000.000.000 /0" << QString("0.0.0.0/0")
                            << "255.255.255.255" << QString("4294967294: 0.0.0.1 - 255.255.255.254");
        QTest::newRow("/1") << "200.1.1.1" << 1 << "128.000.000.000 /1" << QString("128.0.0.0/1") << "255.255.255.255"
                            << QString("2147483646: 128.0.0.1 - 255.255.255.254");
        QTest::newRow("/31 at the top gives both")
            << "255.255.255.255" << 31 << "255.255.255.254 /31" << QString("255.255.255.254/31") << "255.255.255.255"
            << QString("2: 255.255.255.254 - 255.255.255.255");
        QTest::newRow("/32 none") << "255.255.255.255" << 32 << "255.255.255.255 /32" << QString("255.255.255.255/32")
                                  << "255.255.255.255" << QString("0");
    }

    void networkAndHosts()
    {
        QFETCH(QString, address);
        QFETCH(int, prefix);
        QFETCH(QString, mask);
        QFETCH(QString, network);
        QFETCH(QString, broadcast);
        QFETCH(QString, hosts);
        QCOMPARE(net::maskList().size(), 33);
        QCOMPARE(net::maskList().at(32 - prefix), mask);
        QCOMPARE(net::prefixPart(mask), QStringLiteral("/") + QString::number(prefix));
        const net::Network n = net::networkOf(*net::parseAddress(address), prefix);
        QCOMPARE(net::toText(n), network);
        QCOMPARE(net::toText(net::broadcastOf(n)), broadcast);
        const net::HostRange r = net::hostRange(n);
        QString range = QString::number(r.count);
        if (r.count > 0)
            range += ": " + net::toText(r.at(0)) + " - " + net::toText(r.at(r.count - 1));
        QCOMPARE(range, hosts);
    }

    void containsAndOverlaps_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("aContainsB");
        QTest::addColumn<bool>("bContainsA");
        QTest::newRow("equal") << "10.1.0.0/16" << QString("10.1.0.0/16") << true << true;
        QTest::newRow("nested") << "10.0.0.0/8" << QString("10.1.2.0/24") << true << false;
        QTest::newRow("same start, wider") << "10.0.0.0/7" << QString("10.0.0.0/8") << true << false;
        QTest::newRow("touching /24s") << "10.0.0.0/24" << QString("10.0.1.0/24") << false << false;
        QTest::newRow("/0 holds the top address") << "0.0.0.0/0" << QString("255.255.255.255/32") << true << false;
        QTest::newRow("/32 just past the broadcast") << "10.1.0.0/16" << QString("10.2.0.0/32") << false << false;
    }

    void containsAndOverlaps()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, aContainsB);
        QFETCH(bool, bContainsA);
        const auto na = net::parseNetwork(a), nb = net::parseNetwork(b);
        QVERIFY(na && nb);
        QCOMPARE(net::contains(*na, *nb), aContainsB);
        QCOMPARE(net::contains(*nb, *na), bContainsA);
        QCOMPARE(net::overlaps(*na, *nb), aContainsB || bContainsA);
        QCOMPARE(net::overlaps(*nb, *na), aContainsB || bContainsA);
    }
};

QTEST_APPLESS_MAIN(TestNet)
#include "test_net.moc"
