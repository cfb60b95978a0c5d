// The prober and the scan request, driven without a window. Probes go to 127.0.0.0/8 only.
#include "hosts/scan/scanReport.h"
#include "hosts/scan/scanRequest.h"
#include "hosts/scan/subnetProber.h"
#include "tests/support/dataSupport.h"
#include "tests/support/loopback.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QStringList texts(const QSignalSpy& spy, bool sorted)
{
    QStringList out;
    for (const QList<QVariant>& args : spy)
        out << net::toText(args.at(0).value<quint32>());
    if (sorted)
        out.sort();
    return out;
}

} // namespace

class TestScanner : public QObject {
    Q_OBJECT
private slots:
    void sweep_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::addColumn<QString>("subnet");
        QTest::addColumn<int>("cap");
        QTest::addColumn<QStringList>("answered");
        QTest::addColumn<QStringList>("settled"); // ICMP: in any order
        const QStringList listening = loopback(3, 3) + loopback(5, 5);

        QTest::newRow("ICMP /29, cap 3: the six hosts, not network nor broadcast")
            << false << "127.0.0.0/29" << 3 << loopback(1, 6) << loopback(1, 6);
        QTest::newRow("TCP /27, cap 4: answers wait for silent ones before them; six silent in a row hold the cap")
            << true << "127.0.0.0/27" << 4 << listening << loopback(1, 30);
        QTest::newRow("TCP /30: the two hosts")
            << true << "127.0.0.4/30" << int(SubnetProber::defaultTcpCap) << loopback(5, 5) << loopback(5, 6);
    }

    // 127.0.0.3 and .5 listen; .1, .2, .4 and .10 to .15 stay silent; the others refuse.
    void sweep()
    {
        QFETCH(bool, tcp);
        QFETCH(QString, subnet);
        QFETCH(int, cap);
        QFETCH(QStringList, answered);
        QFETCH(QStringList, settled);

        LoopbackListeners listeners;
        QVERIFY(listeners.listen(loopback(3, 3) + loopback(5, 5), loopback(1, 2) + loopback(4, 4) + loopback(10, 15)));
        SubnetProber prober;
        tcp ? prober.setTcpCap(cap) : prober.setIcmpCap(cap);
        QSignalSpy answers(&prober, &SubnetProber::answered);
        QSignalSpy settles(&prober, &SubnetProber::settled);
        QSignalSpy finished(&prober, &SubnetProber::finished);
        int children = 0; // the kernel's count, beside the prober's own
        QObject::connect(&prober, &SubnetProber::settled, &prober, [&] { children = qMax(children, childCount()); });
        // Where each ping's output goes, noted beside its arguments, before the real one runs.
        std::optional<CommandStandIn> witness;
        if (!tcp)
            witness.emplace("ping",
                "echo \"$(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)\" >> \"$log\"\nexec "
                    + QStandardPaths::findExecutable(QStringLiteral("ping")).toLocal8Bit() + " \"$@\"");
        const net::HostRange range = net::hostRange(*net::parseNetwork(subnet));
        tcp ? prober.connectAll(range, listeners.port()) : prober.pingAll(range);

        QCOMPARE(texts(answers, !tcp), answered);
        QCOMPARE(texts(settles, !tcp), settled);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(childCount(), 0);
        QStringList calls; // two echo requests, nothing of their output kept
        for (const QString& address : tcp ? QStringList() : settled)
            calls << "-c 2 " + address << "/dev/null /dev/null";
        QStringList noted
            = witness ? QString(fileBytes(witness->log())).split('\n', Qt::SkipEmptyParts) : QStringList();
        noted.sort();
        calls.sort();
        QCOMPARE(noted, calls);
        // The cap is reached where there are more probes than it allows, and never passed.
        if (cap < settled.size())
            QCOMPARE(prober.peakInFlight(), cap);
        QVERIFY(prober.peakInFlight() <= cap);
        QVERIFY2(children <= cap, qPrintable(QString::number(children)));
    }

    void abortKillsAndReapsTheChildren()
    {
        SubnetProber prober;
        QSignalSpy finished(&prober, &SubnetProber::finished);
        QSignalSpy settled(&prober, &SubnetProber::settled);
        prober.startPing(net::hostRange(*net::parseNetwork(QStringLiteral("127.0.0.0/29"))));
        QTRY_COMPARE(prober.inFlight(), 6);
        QCOMPARE(childCount(), 6);

        prober.abort();
        QCOMPARE(childCount(), 0);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50); // an aborted sweep reports nothing more
        QCOMPARE(finished.count(), 0);
        QCOMPARE(settled.count(), 0);
    }

    // With no descriptor left no socket can be made: not a subnet without live hosts, but a scan that
    // could not run, and said so.
    void tcpWithoutSocketsFails()
    {
        SubnetProber prober; // has raised the limit for the process already
        const auto checked = scanRequest::plan(QStringLiteral("127.0.0.0/30"), { scanRequest::tcp(), "9" });
        QVERIFY(checked.ok());
        const scanRequest::Plan* plan = &checked.value;
        rlimit saved {};
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit none = saved;
        none.rlim_cur = 3; // below the descriptors this process holds
        setrlimit(RLIMIT_NOFILE, &none);
        prober.connectAll(plan->hosts, plan->port);
        setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(prober.tally().failed, quint64(2));
        QCOMPARE(scanReport::failureText(*plan, prober.tally(), plan->hosts.first).value_or(QString()),
            QStringLiteral("Сканирование по TCP не выполнено: не удалось открыть сокет (Too many open files)."));
    }

    void fping_data()
    {
        QTest::addColumn<int>("batch");
        QTest::addColumn<QByteArray>("body"); // of the stand-in; empty: no fping at all
        QTest::addColumn<QStringList>("answered");
        QTest::addColumn<QString>("outcome"); // the calls, or the error box
        const QByteArray told
            = "printf '127.0.0.5 is alive\\n127.0.0.2 is alive\\n127.0.0.1 is unreachable\\n'\n"
              "printf 'ICMP Host Unreachable\\n127.0.0.9 is alive\\n127.0.0.2 is unreachable\\n'\n"
              "printf '127.0.0.6 is unreachable\\n127.0.0.4 is alive\\n127.0.0.3 is unreachable\\n'\n";
        const QString args = "-i 1 -t 500 -r 1 -g ";
        const QString failed = "Сканирование по ICMP через fping не выполнено: программа fping ";

        QTest::newRow("out of order, foreign and repeated lines: ascending, each once")
            << 65536 << told + "exit 1" << QStringList { "127.0.0.2", "127.0.0.4", "127.0.0.5" }
            << args + "127.0.0.1 127.0.0.6\n";
        QTest::newRow("batches of 4: two runs, the second from where the first ended")
            << 4
            << QByteArray("case $9 in 127.0.0.4) printf '127.0.0.3 is alive\\n127.0.0.2 is unreachable\\n127.0.0.1 is "
                          "alive\\n127.0.0.4 is unreachable\\n';; *) printf '127.0.0.6 is alive\\n127.0.0.5 is "
                          "alive\\n';; esac")
            << QStringList { "127.0.0.1", "127.0.0.3", "127.0.0.5", "127.0.0.6" }
            << args + "127.0.0.1 127.0.0.4\n" + args + "127.0.0.5 127.0.0.6\n";
        QTest::newRow("no raw socket: fping's own words")
            << 65536 << QByteArray("echo \"fping: can't create socket (must run as root?)\" >&2; exit 4")
            << QStringList() << failed + "завершилась с кодом 4.\nfping: can't create socket (must run as root?)";
        QTest::newRow("ends with 1 having told only some: not a scan that found little")
            << 65536 << QByteArray("echo '127.0.0.1 is alive'; echo 'fping: invalid option' >&2; exit 1")
            << QStringList { "127.0.0.1" } << failed + "не сообщила о 5 адресах.\nfping: invalid option";
        QTest::newRow("killed") << 65536 << QByteArray("kill -9 $$") << QStringList()
                                << failed + "завершилась аварийно.";
        QTest::newRow("not installed") << 65536 << QByteArray() << QStringList()
                                       << failed + "не найдена: установите пакет fping.";
    }

    // Through a stand-in on PATH: the arguments, the lines read, the order, and every way it fails.
    void fping()
    {
        QFETCH(int, batch);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, answered);
        QFETCH(QString, outcome);
        CommandStandIn standIn("fping", body, true);
        SubnetProber prober;
        prober.setFpingBatch(quint64(batch));
        QSignalSpy answers(&prober, &SubnetProber::answered);
        QSignalSpy settles(&prober, &SubnetProber::settled);
        const auto plan = scanRequest::plan(QStringLiteral("127.0.0.0/29"), { scanRequest::icmp(), {}, true });
        QVERIFY(plan.ok() && plan.value.fast);
        prober.fpingAll(plan.value.hosts);

        QCOMPARE(texts(answers, false), answered);
        const std::optional<QString> failure
            = scanReport::failureText(plan.value, prober.tally(), plan.value.hosts.first);
        QCOMPARE(failure.value_or(QString(fileBytes(standIn.log()))), outcome);
        if (!failure) // every address once, in ascending order
            QCOMPARE(texts(settles, false), loopback(1, 6));
        QCOMPARE(childCount(), 0);
    }

    void plan_data()
    {
        QTest::addColumn<QString>("subnet");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("outcome"); // the plan of a TCP scan, or the refusal
        const auto row = [](const QString& name, const QString& subnet, const QString& port, const QString& outcome) {
            QTest::newRow(qPrintable(name)) << subnet << port << outcome;
        };
        const QString lan = QStringLiteral("127.0.0.0/29");
        const QString range = QStringLiteral(": введите число от 1 до 65535");

        for (const QString port : { "1", "8080", "65535" })
            row("port " + port, lan, port, "127.0.0.1 x6 port " + port);
        row("empty port", lan, "", "Не указан порт для сканирования по TCP" + range);
        for (const QString port : { "0", "65536", "6,", "080" })
            row("port text " + port, lan, port, "Неверный порт \"" + port + "\"" + range);
        for (const QString subnet : { "127.0.0.1/29", "127.0.0.0" })
            row("window subnet " + subnet, subnet, "80",
                "Подсеть " + subnet + " не является сетью IPv4 в записи CIDR: сканирование невозможно");
    }

    void plan()
    {
        QFETCH(QString, subnet);
        QFETCH(QString, port);
        QFETCH(QString, outcome);

        const auto plan = scanRequest::plan(subnet, ScanRequest { scanRequest::tcp(), port });
        const QString shown = plan.ok() ? net::toText(plan.value.hosts.first) + " x"
                + QString::number(plan.value.hosts.count) + " port " + QString::number(plan.value.port)
                                        : plan.errorText;
        QCOMPARE(shown, outcome);
    }
};

QTEST_MAIN(TestScanner)
#include "test_scanner.moc"
