// The prober and the scan request, driven without a window. Probes go to 127.0.0.0/8 only.
#include "hosts/scanRequest.h"
#include "hosts/subnetProber.h"
#include "tests/support/loopback.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <unistd.h>

namespace {

net::HostRange rangeOf(const QString& subnet)
{
    const auto network = net::parseNetwork(subnet);
    Q_ASSERT(network);
    return net::hostRange(*network);
}

QStringList texts(const QSignalSpy& spy)
{
    QStringList out;
    for (const QList<QVariant>& args : spy)
        out << net::toText(args.at(0).value<quint32>());
    return out;
}

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end(),
        [](const QString& a, const QString& b) { return *net::parseAddress(a) < *net::parseAddress(b); });
    return list;
}

// Children of this process that have not been reaped yet, as the kernel sees them.
int childCount()
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(getpid()));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    return server.serverPort(); // free again once the server goes
}

// Records the largest number of probes in flight, by the prober's count and by the kernel's.
struct FlightLog {
    int counted = 0;
    int children = 0;
    void watch(SubnetProber& prober)
    {
        QObject::connect(&prober, &SubnetProber::settled, &prober, [this, &prober] {
            counted = qMax(counted, prober.inFlight());
            children = qMax(children, childCount());
        });
    }
};

} // namespace

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void icmpFindsTheLoopbackHosts();
    void probedAddresses_data();
    void probedAddresses();
    void tcpFindsExactlyTheListenersInOrder_data();
    void tcpFindsExactlyTheListenersInOrder();
    void capsAreNeverExceeded_data();
    void capsAreNeverExceeded();
    void abortKillsAndReapsTheChildren();
    void abortFromASlotEndsTheWait();
    void plan_data();
    void plan();
};

void TestScanner::icmpFindsTheLoopbackHosts()
{
    SubnetProber prober;
    QSignalSpy answered(&prober, &SubnetProber::answered);
    QSignalSpy settled(&prober, &SubnetProber::settled);
    QSignalSpy finished(&prober, &SubnetProber::finished);
    prober.pingAll(rangeOf(QStringLiteral("127.0.0.0/29")));

    const QStringList hosts { "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6" };
    QCOMPARE(sorted(texts(answered)), hosts);
    QCOMPARE(sorted(texts(settled)), hosts);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!prober.isRunning());
    QCOMPARE(prober.inFlight(), 0);
    QCOMPARE(prober.peakInFlight(), 6); // all started before the first ended
    QCOMPARE(childCount(), 0);
}

void TestScanner::probedAddresses_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QStringList>("probed");

    for (const bool tcp : { false, true }) {
        const char* method = tcp ? "TCP" : "ICMP";
        QTest::addRow("%s /30: the two hosts, neither network nor broadcast", method)
            << tcp << "127.0.0.4/30" << QStringList { "127.0.0.5", "127.0.0.6" };
        QTest::addRow("%s /31: both addresses", method)
            << tcp << "127.0.0.6/31" << QStringList { "127.0.0.6", "127.0.0.7" };
        QTest::addRow("%s /32: nothing", method) << tcp << "127.0.0.9/32" << QStringList {};
    }
}

void TestScanner::probedAddresses()
{
    QFETCH(bool, tcp);
    QFETCH(QString, subnet);
    QFETCH(QStringList, probed);

    SubnetProber prober;
    QSignalSpy settled(&prober, &SubnetProber::settled);
    QSignalSpy finished(&prober, &SubnetProber::finished);
    if (tcp)
        prober.connectAll(rangeOf(subnet), closedPort());
    else
        prober.pingAll(rangeOf(subnet));

    QCOMPARE(tcp ? texts(settled) : sorted(texts(settled)), probed);
    QCOMPARE(finished.count(), 1);
}

void TestScanner::tcpFindsExactlyTheListenersInOrder_data()
{
    QTest::addColumn<QStringList>("silent");
    QTest::addColumn<int>("cap");

    QTest::newRow("the others refuse") << QStringList {} << SubnetProber::defaultTcpCap;
    QTest::newRow("a silent address before both") << QStringList { "127.0.0.2" } << SubnetProber::defaultTcpCap;
    QTest::newRow("a silent address between them") << QStringList { "127.0.0.4" } << SubnetProber::defaultTcpCap;
    QTest::newRow("every other address silent")
        << QStringList { "127.0.0.1", "127.0.0.2", "127.0.0.4", "127.0.0.6" } << SubnetProber::defaultTcpCap;
    QTest::newRow("one at a time, as the sequential design") << QStringList { "127.0.0.2", "127.0.0.4" } << 1;
}

void TestScanner::tcpFindsExactlyTheListenersInOrder()
{
    QFETCH(QStringList, silent);
    QFETCH(int, cap);

    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.3" }, silent));
    SubnetProber prober;
    prober.setTcpCap(cap);
    QSignalSpy answered(&prober, &SubnetProber::answered);
    QSignalSpy settled(&prober, &SubnetProber::settled);
    prober.connectAll(rangeOf(QStringLiteral("127.0.0.0/29")), listeners.port());

    QCOMPARE(texts(answered), (QStringList { "127.0.0.3", "127.0.0.5" }));
    QCOMPARE(
        texts(settled), (QStringList { "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6" }));
    QCOMPARE(prober.inFlight(), 0);
}

void TestScanner::capsAreNeverExceeded_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("cap");
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<int>("probes");

    QTest::newRow("ICMP, 6 hosts under a cap of 3") << false << 3 << "127.0.0.0/29" << 6;
    QTest::newRow("ICMP, 2 hosts under a cap of 1") << false << 1 << "127.0.0.0/30" << 2;
    QTest::newRow("TCP, 6 silent in a row under a cap of 4") << true << 4 << "127.0.0.0/27" << 30;
    QTest::newRow("TCP, cap of 1") << true << 1 << "127.0.0.0/27" << 30;
}

void TestScanner::capsAreNeverExceeded()
{
    QFETCH(bool, tcp);
    QFETCH(int, cap);
    QFETCH(QString, subnet);
    QFETCH(int, probes);

    LoopbackListeners listeners;
    QVERIFY(listeners.listen(
        { "127.0.0.20" }, { "127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14", "127.0.0.15" }));
    SubnetProber prober;
    prober.setIcmpCap(cap);
    prober.setTcpCap(cap);
    FlightLog log;
    log.watch(prober);
    QSignalSpy settled(&prober, &SubnetProber::settled);
    if (tcp)
        prober.connectAll(rangeOf(subnet), listeners.port());
    else
        prober.pingAll(rangeOf(subnet));

    QCOMPARE(settled.count(), probes);
    QCOMPARE(prober.effectiveCap(), cap);
    QCOMPARE(prober.peakInFlight(), cap); // reached, and never passed
    QVERIFY(log.counted <= cap);
    QVERIFY2(log.children <= cap, qPrintable(QString::number(log.children)));
}

void TestScanner::abortKillsAndReapsTheChildren()
{
    SubnetProber prober;
    QSignalSpy finished(&prober, &SubnetProber::finished);
    QSignalSpy settled(&prober, &SubnetProber::settled);
    prober.startPing(rangeOf(QStringLiteral("127.0.0.0/29")));
    QTRY_COMPARE(prober.inFlight(), 6);
    QCOMPARE(childCount(), 6);

    prober.abort();
    QCOMPARE(prober.inFlight(), 0);
    QCOMPARE(childCount(), 0);
    QVERIFY(!prober.isRunning());
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50); // an aborted sweep reports nothing more
    QCOMPARE(finished.count(), 0);
    QCOMPARE(settled.count(), 0);
}

void TestScanner::abortFromASlotEndsTheWait()
{
    SubnetProber prober;
    prober.setIcmpCap(2);
    QSignalSpy answered(&prober, &SubnetProber::answered);
    QObject::connect(&prober, &SubnetProber::answered, &prober, &SubnetProber::abort);
    prober.pingAll(rangeOf(QStringLiteral("127.0.0.0/29")));

    QCOMPARE(answered.count(), 1);
    QVERIFY(!prober.isRunning());
    QCOMPARE(childCount(), 0);
}

void TestScanner::plan_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("expectedPort"); // 0: refused
    QTest::addColumn<QString>("reason"); // part of the refusal

    QTest::newRow("ICMP ignores the port text") << "127.0.0.0/29"
                                                << "ICMP"
                                                << "junk" << -1 << "";
    for (const char* port : { "1", "80", "443", "8080", "8443", "9100", "65535" })
        QTest::addRow("TCP port %s", port) << "127.0.0.0/29"
                                           << "TCP" << port << QString(port).toInt() << "";
    QTest::newRow("empty port") << "127.0.0.0/29"
                                << "TCP"
                                << "" << 0 << "Не указан порт";
    for (const char* port : { "0", "65536", "6,", "080", " 80", "80 ", "+80", "8o", "99999" })
        QTest::addRow("port text '%s'", port) << "127.0.0.0/29"
                                              << "TCP" << port << 0 << QStringLiteral("Неверный порт \"") + port + "\"";
    QTest::newRow("host bits set") << "127.0.0.1/29"
                                   << "ICMP"
                                   << "" << 0 << "127.0.0.1/29";
    QTest::newRow("bare address") << "127.0.0.1"
                                  << "ICMP"
                                  << "" << 0 << "127.0.0.1";
    QTest::newRow("prefix 33") << "127.0.0.0/33"
                               << "TCP"
                               << "80" << 0 << "127.0.0.0/33";
    QTest::newRow("not an address") << "localhost/8"
                                    << "ICMP"
                                    << "" << 0 << "localhost/8";
    QTest::newRow("unknown method") << "127.0.0.0/29"
                                    << "UDP"
                                    << "80" << 0 << "UDP";
}

void TestScanner::plan()
{
    QFETCH(QString, subnet);
    QFETCH(QString, method);
    QFETCH(QString, port);
    QFETCH(int, expectedPort);
    QFETCH(QString, reason);

    QString error;
    const auto plan = scanRequest::plan(subnet, ScanRequest { method, port }, &error);
    if (expectedPort == 0) {
        QVERIFY(!plan);
        QVERIFY2(error.contains(reason), qPrintable(error));
        return;
    }
    QVERIFY2(plan, qPrintable(error));
    QCOMPARE(plan->tcp, method == "TCP");
    QCOMPARE(plan->hosts.first, *net::parseAddress(QStringLiteral("127.0.0.1")));
    QCOMPARE(plan->hosts.count, quint64(6));
    if (plan->tcp)
        QCOMPARE(int(plan->port), expectedPort);
}

QTEST_MAIN(TestScanner)
#include "test_scanner.moc"
