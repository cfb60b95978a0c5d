#include "db/DB.h"
#include "hosts/hostSpace.h"
#include "hosts/scan/scanHistory.h"
#include "net/addressSpace.h"
#include "tests/support/dataSupport.h"
#include "tree/addressPlan.h"
#include "tree/inventorySearch.h"

#include <QtTest>

#include <memory>

namespace {

net::Network nw(const QString& text)
{
    return *net::parseNetwork(text);
}

QVector<net::Network> networks(const QStringList& texts)
{
    QVector<net::Network> out;
    for (const QString& t : texts)
        out << nw(t);
    return out;
}

// Up to four blocks in full; more as the first two, the last and the count.
QString describe(const QVector<net::Network>& blocks)
{
    QStringList texts;
    for (const net::Network& b : blocks)
        texts << net::toText(b);
    if (texts.size() <= 4)
        return texts.join(", ");
    return QString("%1, %2, …, %3 (%4)").arg(texts[0], texts[1], texts.last()).arg(texts.size());
}

QStringList lines(const inventorySearch::Found& found)
{
    QStringList out;
    for (const inventorySearch::Hit& h : found.hits)
        out << h.found + " | " + h.detail + " | " + h.where;
    return out;
}

} // namespace

class TestAddressPlan : public QObject {
    Q_OBJECT
private slots:
    void freeBlocks_data()
    {
        QTest::addColumn<QString>("outer");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("free");
        QTest::newRow("nothing taken") << "10.0.0.0/8" << QStringList() << "10.0.0.0/8";
        QTest::newRow("/0 whole") << "0.0.0.0/0" << QStringList() << "0.0.0.0/0";
        QTest::newRow("/0 less 0.0.0.0") << "0.0.0.0/0" << QStringList { "0.0.0.0/32" }
                                         << "128.0.0.0/1, 64.0.0.0/2, …, 0.0.0.1/32 (32)";
        QTest::newRow("/0 less 255.255.255.255") << "0.0.0.0/0" << QStringList { "255.255.255.255/32" }
                                                 << "0.0.0.0/1, 128.0.0.0/2, …, 255.255.255.254/32 (32)";
        QTest::newRow("/32 taken") << "10.0.0.5/32" << QStringList { "10.0.0.5/32" } << "";
        QTest::newRow("/31 half") << "255.255.255.254/31" << QStringList { "255.255.255.254/32" }
                                  << "255.255.255.255/32";
        QTest::newRow("largest first") << "10.0.0.0/24" << QStringList { "10.0.0.64/26" }
                                       << "10.0.0.128/25, 10.0.0.0/26";
        QTest::newRow("overlapping and outside")
            << "10.0.0.0/24" << QStringList { "10.0.0.0/26", "10.0.0.0/25", "10.0.1.0/24", "9.0.0.0/8" }
            << "10.0.0.128/25";
        QTest::newRow("taken holds outer") << "10.0.0.0/24" << QStringList { "10.0.0.0/16" } << "";
        QTest::newRow("odd ends") << "10.0.0.0/24" << QStringList { "10.0.0.0/32", "10.0.0.255/32" }
                                  << "10.0.0.64/26, 10.0.0.128/26, …, 10.0.0.254/32 (14)";
    }

    void freeBlocks()
    {
        QFETCH(QString, outer);
        QFETCH(QStringList, taken);
        QFETCH(QString, free);
        QCOMPARE(describe(net::freeBlocks(nw(outer), networks(taken))), free);
    }

    void lowestFreeNetwork_data()
    {
        QTest::addColumn<QString>("outer");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("found"); // "" for none
        QTest::newRow("empty parent") << "10.0.0.0/8" << 24 << QStringList() << "10.0.0.0/24";
        QTest::newRow("gap between") << "10.0.0.0/8" << 24 << QStringList { "10.0.2.0/24", "10.0.0.0/24" }
                                     << "10.0.1.0/24";
        QTest::newRow("aligned past a small one")
            << "10.0.0.0/8" << 16 << QStringList { "10.0.0.0/24" } << "10.1.0.0/16";
        QTest::newRow("past a large one") << "10.0.0.0/24" << 25 << QStringList { "10.0.0.64/26" } << "10.0.0.128/25";
        QTest::newRow("wider than parent") << "10.0.0.0/8" << 7 << QStringList() << "";
        QTest::newRow("full") << "10.0.0.0/8" << 24 << QStringList { "10.0.0.0/9", "10.128.0.0/9" } << "";
        QTest::newRow("/0 less 0.0.0.0") << "0.0.0.0/0" << 1 << QStringList { "0.0.0.0/32" } << "128.0.0.0/1";
        QTest::newRow("/0 full") << "0.0.0.0/0" << 32 << QStringList { "0.0.0.0/0" } << "";
        QTest::newRow("last address") << "255.255.255.254/31" << 32 << QStringList { "255.255.255.254/32" }
                                      << "255.255.255.255/32";
        QTest::newRow("none past the top")
            << "255.255.255.0/24" << 25 << QStringList { "255.255.255.128/25", "255.255.255.0/26" } << "";
    }

    void lowestFreeNetwork()
    {
        QFETCH(QString, outer);
        QFETCH(int, prefix);
        QFETCH(QStringList, taken);
        QFETCH(QString, found);
        const auto n = net::lowestFreeNetwork(nw(outer), prefix, networks(taken));
        QCOMPARE(n ? net::toText(*n) : QString(""), found);
        // A branch never repeats its parent's network.
        QVERIFY(!addressPlan::suggestBranch(nw(outer), nw(outer).prefix, {}));
    }

    void lowestFreeAddress_data()
    {
        QTest::addColumn<QString>("network");
        QTest::addColumn<QStringList>("used");
        QTest::addColumn<QString>("found"); // null: none is free
        QTest::addColumn<quint64>("hosts"); // how many host addresses there are
        const QString noneFree;
        QTest::newRow("/24 empty") << "10.0.0.0/24" << QStringList() << "10.0.0.1" << quint64(254);
        QTest::newRow("gap") << "10.0.0.0/24"
                             << QStringList { "9.0.0.0", "10.0.0.1", "10.0.0.1", "10.0.0.2", "10.0.0.4" } << "10.0.0.3"
                             << quint64(254);
        QTest::newRow("/30 full") << "10.0.0.0/30" << QStringList { "10.0.0.1", "10.0.0.2", "10.0.0.3" } << noneFree
                                  << quint64(2);
        QTest::newRow("/31 both hosts") << "10.0.0.4/31" << QStringList { "10.0.0.4" } << "10.0.0.5" << quint64(2);
        QTest::newRow("/32 the one") << "10.0.0.7/32" << QStringList() << "10.0.0.7" << quint64(1);
        QTest::newRow("/32 taken") << "255.255.255.255/32" << QStringList { "255.255.255.255" } << noneFree
                                   << quint64(1);
        QTest::newRow("/31 at the top") << "255.255.255.254/31" << QStringList { "255.255.255.254" }
                                        << "255.255.255.255" << quint64(2);
        QTest::newRow("/0 skips 0.0.0.0")
            << "0.0.0.0/0" << QStringList { "0.0.0.1" } << "0.0.0.2" << quint64(4294967294);
    }

    void lowestFreeAddress()
    {
        QFETCH(QString, network);
        QFETCH(QStringList, used);
        QFETCH(QString, found);
        QFETCH(quint64, hosts);
        QVector<net::Address> addresses;
        for (const QString& u : used)
            addresses << *net::parseAddress(u);
        const net::HostRange range = net::hostAddresses(nw(network));
        QCOMPARE(range.count, hosts);
        const auto a = net::lowestFreeAddress(range, addresses);
        QCOMPARE(a ? net::toText(*a) : QString(), found);
    }

    void usageText_data()
    {
        QTest::addColumn<QString>("network");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QStringList>("branches");
        QTest::addColumn<QString>("text");
        QTest::newRow("leaf") << "10.1.2.0/24" << 37 << QStringList() << "Хостов: 37 из 254 (14,6 %)";
        QTest::newRow("one decimal") << "10.1.2.0/24" << 253 << QStringList() << "Хостов: 253 из 254 (99,6 %)";
        QTest::newRow("branches of one size") << "10.0.0.0/16" << 37 << QStringList { "10.0.1.0/24", "10.0.2.0/24" }
                                              << "Хостов: 37 из 65534 (0,1 %) · занято филиалами: 2 × /24, 0,8 %";
        QTest::newRow("sizes counted apart")
            << "10.0.0.0/24" << 0 << QStringList { "10.0.0.192/26", "10.0.0.0/25", "10.0.0.128/26" }
            << "Хостов: 0 из 254 (0,0 %) · занято филиалами: 3 (1 × /25, 2 × /26), 100,0 %";
        QTest::newRow("overlap counted once")
            << "10.0.0.0/24" << 0 << QStringList { "10.0.0.0/25", "10.0.0.0/26" }
            << "Хостов: 0 из 254 (0,0 %) · занято филиалами: 2 (1 × /25, 1 × /26), 50,0 %";
        QTest::newRow("/31") << "10.0.0.4/31" << 2 << QStringList() << "Хостов: 2 из 2 (100,0 %)";
        QTest::newRow("/32") << "10.0.0.7/32" << 1 << QStringList() << "Хостов: 1 из 1 (100,0 %)";
        QTest::newRow("/0") << "0.0.0.0/0" << 65534 << QStringList { "10.0.0.0/8" }
                            << "Хостов: 65534 из 4294967294 (0,0 %) · занято филиалами: 1 × /8, 0,4 %";
    }

    void usageText()
    {
        QFETCH(QString, network);
        QFETCH(int, stored);
        QFETCH(QStringList, branches);
        QFETCH(QString, text);
        QCOMPARE(addressPlan::usageText(stored, nw(network), networks(branches)), text);
    }

    void search_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("total");
        QTest::addColumn<QStringList>("hits");
        const QString odd = "10.2.0.0/16 | Склад 100%_\\ \"кавычки\" 'и' 😀 | 10.0.0.0/8 «Организация»";
        const QString stored = "10.1.2.37 | СКЛАД, стеллаж 3 | 10.1.2.0/24 «Склад»";
        QTest::newRow("stored address") << "10.1.2.37" << 500 << 1 << QStringList { stored };
        const QString noon
            = QDateTime(QDate(2026, 12, 6), QTime(12, 0), Qt::UTC).toLocalTime().toString("dd.MM.yyyy hh:mm");
        QTest::newRow("stored address that answered a scan")
            << "10.1.2.38" << 500 << 1
            << QStringList { "10.1.2.38 | Принтер · Последний ответ: " + noon + ", TCP 80 | 10.1.2.0/24 «Склад»" };
        QTest::newRow("unrecorded, deepest row")
            << " 10.1.2.99 " << 500 << 1 << QStringList { "10.1.2.99 | не записан; входит в 10.1.2.0/24 «Склад» | " };
        QTest::newRow("unrecorded, middle row, answered a scan")
            << "10.1.9.9" << 500 << 1
            << QStringList { "10.1.9.9 | не записан; входит в 10.1.0.0/16 «Офис» · Последний ответ: " + noon
                   + ", ICMP | " };
        QTest::newRow("outside") << "255.255.255.255" << 500 << 1
                                 << QStringList { "255.255.255.255 | вне всех подсетей | " };
        QTest::newRow("host without a tree row")
            << "172.16.0.9" << 500 << 1 << QStringList { "172.16.0.9 | без строки дерева | 172.16.0.0/24" };
        const QStringList around { "10.0.0.0/8 | Организация | содержит 10.1.0.0/16",
            "10.1.0.0/16 | Офис | совпадает с 10.1.0.0/16", "10.1.2.0/24 | Склад | входит в 10.1.0.0/16" };
        QTest::newRow("cidr") << "10.1.0.0/16" << 500 << 3 << around;
        QTest::newRow("cidr with host bits") << "10.1.7.7/16" << 500 << 3 << around;
        QTest::newRow("cidr /0") << "0.0.0.0/0" << 2 << 4
                                 << QStringList { "10.0.0.0/8 | Организация | входит в 0.0.0.0/0",
                                        "10.1.0.0/16 | Офис | входит в 0.0.0.0/0" };
        QTest::newRow("cyrillic any case")
            << "склад" << 500 << 3 << QStringList { "10.1.2.0/24 | Склад | 10.1.0.0/16 «Офис»", odd, stored };
        QTest::newRow("percent literal") << "%" << 500 << 1 << QStringList { odd };
        const auto inOdd = [&odd](const QString& host, const QString& note) {
            return host + " | " + note + " | 10.2.0.0/16 «" + odd.section(" | ", 1, 1) + "»";
        };
        QTest::newRow("underscore literal") << "a_b" << 500 << 1 << QStringList { inOdd("10.2.0.6", "a_b") };
        QTest::newRow("backslash literal") << "\\" << 500 << 2 << QStringList { odd, inOdd("10.2.0.7", "C:\\путь") };
        QTest::newRow("? literal") << "a?b" << 500 << 0 << QStringList();
        QTest::newRow("* literal") << "a*b" << 500 << 0 << QStringList();
        QTest::newRow("[ literal") << "[a" << 500 << 1 << QStringList { inOdd("10.2.0.8", "[a]*?") };
        QTest::newRow("quotes") << "\"кавычки\" 'и'" << 500 << 1 << QStringList { odd };
        QTest::newRow("emoji") << "😀" << 500 << 1 << QStringList { odd };
        QTest::newRow("address part is text") << "10.1.2." << 1 << 2 << QStringList { stored };
        QTest::newRow("10000 characters, another case") << QString(
            10000, QChar(0x44F)) << 500 << 1 << QStringList { inOdd("10.2.0.9", QString(10001, QChar(0x42F))) };
        QTest::newRow("10000 characters, none") << QString(10000, QChar(0x44E)) << 500 << 0 << QStringList();
        QTest::newRow("blank") << "   " << 500 << 0 << QStringList();
    }

    void search()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(int, total);
        QFETCH(QStringList, hits);
        seedInventory();
        DB db;
        inventorySearch::Searcher searcher(db);
        const inventorySearch::Found found = searcher.find(text, limit);
        QVERIFY2(found.status.ok(), qPrintable(found.status.errorText));
        QCOMPARE(lines(found), hits);
        QCOMPARE(found.total, total);
    }

    void searchSeesOtherConnectionsCommits()
    {
        seedInventory();
        DB db;
        inventorySearch::Searcher searcher(db);
        QCOMPARE(searcher.find("принтер").total, 1);
        DbProbe probe(dir->dbPath());
        QVERIFY(probe.exec("UPDATE hosts SET note = 'Второй принтер' WHERE host = '10.1.2.37'"));
        QCOMPARE(searcher.find("принтер").total, 2);
        // A history that is not there: the address is found without its last answer.
        QVERIFY(probe.exec(onServer() ? "DROP TABLE sighting_blocks CASCADE" : "DROP TABLE sightings"));
        QCOMPARE(lines(searcher.find("10.1.2.38")), QStringList { "10.1.2.38 | Принтер | 10.1.2.0/24 «Склад»" });
        QVERIFY(probe.exec("DROP TABLE hosts"));
        const inventorySearch::Found failed = searcher.find("принтер");
        QVERIFY(!failed.status.ok());
        QVERIFY2(failed.status.errorText.contains("hosts"), qPrintable(failed.status.errorText));
    }

    // Addresses stored under another subnet are taken too; the textual index range must not miss
    // 10.1.2.x while skipping 10.1.20.x.
    void freeHostLooksAtEveryList()
    {
        seedInventory();
        DbProbe probe(dir->dbPath());
        QVERIFY(probe.addHosts({ { "10.9.0.0/16", "10.1.2.1", "" }, { "10.9.0.0/16", "10.1.2.3", "" },
            { "10.9.0.0/16", "10.1.20.2", "" } }));
        DB db;
        const auto free = hostSpace::lowestFreeHost(db, nw("10.1.2.0/24"), { "10.1.2.2", "" });
        QVERIFY(free.ok());
        QCOMPARE(net::toText(*free.value), QString("10.1.2.4"));
        QCOMPARE(net::toText(*hostSpace::lowestFreeHost(db, nw("10.1.20.0/24"), {}).value), QString("10.1.20.1"));
    }

private:
    void seedInventory()
    {
        dir.reset(); // gives the environment back before the next directory takes it
        dir = std::make_unique<TempDataDir>();
        DB schema;
        DbProbe probe(dir->dbPath());
        const QString odd = "Склад 100%_\\ \"кавычки\" 'и' 😀";
        QVERIFY(probe.addSubnets(
            { { 1, "Организация", "10.0.0.0/8", QVariant(), QVariant() }, { 2, "Офис", "10.1.0.0/16", 1, "10.0.0.0/8" },
                { 3, "Склад", "10.1.2.0/24", 2, "10.1.0.0/16" }, { 4, odd, "10.2.0.0/16", 1, "10.0.0.0/8" } }));
        QVERIFY(probe.addHosts({ { "10.1.2.0/24", "10.1.2.37", "СКЛАД, стеллаж 3" },
            { "10.1.2.0/24", "10.1.2.38", "Принтер" }, { "10.2.0.0/16", "10.2.0.5", "axb" },
            { "10.2.0.0/16", "10.2.0.6", "a_b" }, { "10.2.0.0/16", "10.2.0.7", "C:\\путь" },
            { "10.2.0.0/16", "10.2.0.8", "[a]*?" }, { "172.16.0.0/24", "172.16.0.9", "без строки дерева" },
            { "10.2.0.0/16", "10.2.0.9", QString(10001, QChar(0x42F)) } }));
        // 10.1.2.38 answered a scan by TCP; shown in local time, whatever the zone, at noon UTC.
        const auto scanned = [&](const char* ended, const char* method, int port, quint32 address) {
            const QDateTime end = QDateTime::fromString(ended, Qt::ISODate);
            return scanHistory::record(schema, { method, quint16(port), "10.1.0.0/16", end, end, 1, { address } }).ok();
        };
        QVERIFY(scanned("2026-12-01T12:00:00Z", "ICMP", 0, 0x0a010226));
        QVERIFY(scanned("2026-12-06T12:00:00Z", "TCP", 80, 0x0a010226));
        QVERIFY(scanned("2026-12-06T12:00:00Z", "ICMP", 0, 0x0a010909));
    }

    std::unique_ptr<TempDataDir> dir;
};

QTEST_GUILESS_MAIN(TestAddressPlan)
#include "test_address_plan.moc"
