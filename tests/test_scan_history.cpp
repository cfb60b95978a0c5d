// The scan history: what a finished scan records, the comparison with the host lists, the
// last-answer tooltips and the status bar. Probes go to loopback only.
#include "db/DB.h"
#include "db/historySchema.h"
#include "hosts/hostsWindow.h"
#include "hosts/scan/scanHistory.h"
#include "tests/support/loopback.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"
#include "tree/subnetTable.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTreeView>

#include <ctime>

namespace {

const QString subnet = QStringLiteral("127.0.0.0/28");

// A list of the comparison window as "title: row | row", cells joined by ";".
QString list(QWidget* window, const char* name)
{
    auto* view = window->findChild<QTableView*>(name);
    return qobject_cast<QGroupBox*>(view->parentWidget())->title() + ": " + rowTexts(view->model(), ";").join(" | ");
}

// Tooltip, and "bold" when drawn bold, of the address cell holding `address`.
QString hint(QWidget* w, const QString& address)
{
    const QAbstractItemModel* table = w->findChild<QTableView*>("tableView")->model();
    for (int r = 0; r < table->rowCount(); ++r) {
        const QModelIndex cell = table->index(r, 0);
        if (cell.data().toString() == address)
            return cell.data(Qt::ToolTipRole).toString()
                + (cell.data(Qt::FontRole).value<QFont>().bold() ? " bold" : "");
    }
    return "no row " + address;
}

QString shown(const QVariant& storedUtc)
{
    return scanHistory::shownTime(QDateTime::fromString(storedUtc.toString(), Qt::ISODateWithMs));
}

ScanOutcome outcome(const QString& ended, const QString& method, int port, const QVector<quint32>& answered)
{
    const QDateTime end = QDateTime::fromString(ended, Qt::ISODate);
    return { method, quint16(port), subnet, end.addSecs(-5), end, 14, answered };
}

const QString historyCounts = "SELECT (SELECT count(*) FROM scans), (SELECT count(*) FROM scan_answers), "
                              "(SELECT count(*) FROM sightings)";

void setZone(const QByteArray& zone)
{
    qputenv("TZ", zone);
    tzset();
}

} // namespace

class TestScanHistory : public QObject {
    Q_OBJECT
private slots:
    void init() { dir = std::make_unique<TempDataDir>(); }
    void cleanup() { dir.reset(); }

    void scansFillTheComparison();
    void nothingRecorded_data();
    void nothingRecorded();
    void sightingsMoveForward();
    void oldFileGetsTables();
    void shownInLocalTime_data();
    void shownInLocalTime();

private:
    // Three hosts of the scanned subnet with notes, and one in a list of another subnet.
    void seedHostLists()
    {
        DB schema;
        QVERIFY(DbProbe(dir->dbPath())
                    .addHosts({ { subnet, "127.0.0.2", "web" }, { subnet, "127.0.0.3", "printer" },
                        { subnet, "127.0.0.10", "switch" }, { "127.0.0.8/30", "127.0.0.9", "elsewhere" } }));
    }

    std::unique_ptr<TempDataDir> dir;
};

// The lists follow each scan, in numeric order, with the notes and the time a silent host last
// answered. ICMP first: all of loopback answers. Then TCP against four listeners, once on a port
// where nothing listens; the comparison window, open before, follows the scans.
void TestScanHistory::scansFillTheComparison()
{
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.2", "127.0.0.9", "127.0.0.10", "127.0.0.11" }));
    const QString port = QString::number(listeners.port());
    seedHostLists();
    ModalAnswerer answerer;
    hostsWindow w(subnet);
    w.show();
    auto* compare = w.findChild<QPushButton*>("pbCompare");
    QVERIFY(!compare->isEnabled());
    scanFromWindow(answerer, &w);
    QVERIFY(compare->isEnabled());
    QCOMPARE(hint(&w, "127.0.0.1").section(',', 1), QString(" ICMP bold"));
    QCOMPARE(hint(&w, "127.0.0.2").section(',', 1), QString(" ICMP"));
    QTest::mouseClick(compare, Qt::LeftButton);
    auto* window = w.findChild<QWidget*>("compareWindow");
    QVERIFY(window && window->isVisible() && !window->isModal());
    QCOMPARE(list(window, "listSilent"), QString("Молчат (0): "));
    QCOMPARE(list(window, "listAnswering"),
        QString("Отвечают (4): 127.0.0.2;web | 127.0.0.3;printer | 127.0.0.9;elsewhere | 127.0.0.10;switch"));
    QVERIFY(list(window, "listNew").startsWith("Новые (10): 127.0.0.1 | 127.0.0.4 | "));

    scanFromWindow(answerer, &w, "1");
    scanFromWindow(answerer, &w, port);
    DbProbe probe(dir->dbPath());
    const QString icmpEnded
        = shown(probe.rows("SELECT last_seen FROM sightings WHERE address = ?", { 0x7f000003 }).value(0).value(0));
    QCOMPARE(list(window, "listNew"), QString("Новые (1): 127.0.0.11"));
    QCOMPARE(list(window, "listSilent"), "Молчат (1): 127.0.0.3;printer;" + icmpEnded);
    QCOMPARE(list(window, "listAnswering"),
        QString("Отвечают (3): 127.0.0.2;web | 127.0.0.9;elsewhere | 127.0.0.10;switch"));
    QVERIFY(window->findChild<QLabel*>("scanLabel")->text().contains("по TCP " + port + ", "));
    QCOMPARE(hint(&w, "127.0.0.11").section(',', 1), " TCP " + port + " bold");
    QTest::mouseClick(window->findChild<QPushButton*>("pbCopySilent"), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), "127.0.0.3\tprinter\t" + icmpEnded);
    QCOMPARE(probe.rows("SELECT method, port, probed, answered FROM scans ORDER BY id"),
        QVector<QVariantList>({ { "ICMP", 0, 14, 14 }, { "TCP", 1, 14, 0 }, { "TCP", listeners.port(), 14, 4 } }));
    QCOMPARE(probe.rows("SELECT count(*) FROM scan_answers").value(0).value(0).toInt(), 4); // the last scan's only
    // Another user lists the new host: the open comparison follows without any action.
    QVERIFY(probe.exec("INSERT INTO subnets (name, subnet) VALUES ('Петля', ?)", { subnet }));
    QVERIFY(probe.exec("INSERT INTO hosts (subnet, host, note) VALUES (?, '127.0.0.11', 'камера')", { subnet }));
    QTRY_COMPARE_WITH_TIMEOUT(list(window, "listNew"), QString("Новые (0): "), 2000);
    QVERIFY(list(window, "listAnswering").endsWith("127.0.0.11;камера"));
    QCOMPARE(answerer.problems(), QString());
}

void TestScanHistory::nothingRecorded_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<bool>("failing"); // the database refuses the history's writes
    QTest::addColumn<int>("rows"); // in the host table afterwards
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("refused: host bits")
        << "127.0.0.1/30" << false << 1
        << QStringList {
               "Critical Ошибка: Подсеть 127.0.0.1/30 не является сетью IPv4 в записи CIDR: сканирование невозможно"
           };
    QTest::newRow("recording fails: rows kept, nothing half written")
        << "127.0.0.0/30" << true << 2
        << QStringList { "Critical Ошибка: Не удалось записать наблюдения сканирования в базу данных: full disk"
                   + QString(onServer() ? "" : " Unable to fetch row"),
               "Information Выполнено!: Сканирование завершено!" };
}

void TestScanHistory::nothingRecorded()
{
    QFETCH(QString, window);
    QFETCH(bool, failing);
    QFETCH(int, rows);
    QFETCH(QStringList, boxes);
    ModalAnswerer answerer;
    hostsWindow w(window);
    w.show();
    DbProbe probe(dir->dbPath());
    if (failing)
        QVERIFY(probe.exec(onServer()
                ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION 'full disk'; "
                  "END $$; CREATE TRIGGER refuse BEFORE INSERT ON sighting_blocks FOR EACH ROW EXECUTE FUNCTION "
                  "refuse()"
                : "CREATE TRIGGER refuse BEFORE INSERT ON sightings BEGIN SELECT RAISE(ABORT, 'full disk'); END"));
    hostRows(&w)->appendRow(new QStandardItem("127.0.0.2"));
    scanFromWindow(answerer, &w, QString(), boxes.size());
    QCOMPARE(boxTexts(answerer), boxes);
    QCOMPARE(hostRows(&w)->rowCount(), rows);
    QCOMPARE(w.findChild<QPushButton*>("pbCompare")->isEnabled(), failing);
    QCOMPARE(probe.lines(historyCounts), QStringList("0|0|0"));
}

// First seen is written once; last seen moves only forward, also when the clock went back. The
// scans overlap in part and cross a boundary of 256 addresses.
void TestScanHistory::sightingsMoveForward()
{
    struct Scan {
        const char* ended;
        const char* method;
        int port;
        quint32 from, to, every; // addresses 10.0.0.0 + from, + every, ... up to + to
    };
    const Scan scans[] = { { "2026-12-06T10:00:00Z", "ICMP", 0, 0, 511, 2 },
        { "2026-12-06T11:00:00Z", "TCP", 22, 0, 511, 3 }, { "2026-12-06T10:30:00Z", "TCP", 80, 0, 511, 5 },
        { "2026-12-06T12:00:00Z", "ICMP", 0, 240, 272, 1 }, { "2026-12-06T12:00:00Z", "TCP", 443, 1, 300, 7 } };
    DB db;
    QMap<quint32, QStringList> expected; // first seen, method, port, then last seen, method, port
    for (const Scan& scan : scans) {
        QVector<quint32> answered;
        for (quint32 i = scan.from; i <= scan.to; i += scan.every)
            answered << 0x0a000000u + i;
        const QStringList now { QDateTime::fromString(scan.ended, Qt::ISODate).toString(Qt::ISODateWithMs), scan.method,
            QString::number(scan.port) };
        for (const quint32 address : answered) {
            QStringList& seen = expected[address];
            seen = seen.isEmpty() ? now + now : now.first() >= seen.at(3) ? seen.mid(0, 3) + now : seen;
        }
        if (&scan != scans) {
            QVERIFY(scanHistory::record(db, outcome(scan.ended, scan.method, scan.port, answered)).ok());
            continue;
        }
        WriteLockHolder writer(dir->dbPath(), 300); // recording waits for another writer, not refused at once
        QVERIFY(writer.taken());
        const SqlResult first = scanHistory::record(db, outcome(scan.ended, scan.method, scan.port, answered));
        QVERIFY2(first.ok(), qPrintable(first.errorText));
    }
    QStringList stored, read;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        stored << QString::number(it.key()) + '|' + it->join('|');
    DbProbe probe(dir->dbPath());
    QCOMPARE(probe.lines("SELECT address, first_seen, first_method, first_port, last_seen, last_method, last_port "
                         "FROM sightings ORDER BY address"),
        stored);
    const auto seen = scanHistory::sightings(db, 0x0a000000u, 0x0a0001ffu);
    QVERIFY(seen.ok());
    for (const quint32 address : expected.keys()) {
        const scanHistory::Sighting s = seen.value.value(address);
        read << QString::number(address) + '|' + expected.value(address).mid(0, 3).join('|') + '|'
                + s.last.toString(Qt::ISODateWithMs) + '|' + s.method + '|' + QString::number(s.port);
    }
    QCOMPARE(read, stored);
    QCOMPARE(seen.value.size(), expected.size());
    QCOMPARE(probe.rows("SELECT port FROM scans ORDER BY id"),
        QVector<QVariantList>({ { 0 }, { 22 }, { 80 }, { 0 }, { 443 } }));

    // Observations are about addresses: deleting the row keeps them, emptying everything does not.
    QVERIFY(subnetTable::deleteRowWithHosts(db, subnet).ok());
    QCOMPARE(probe.rows("SELECT count(*) FROM sightings").value(0).value(0).toInt(), expected.size());
    QVERIFY(subnetTable::deleteEverything(db).ok());
    QCOMPARE(probe.lines(historyCounts), QStringList("0|0|0"));
}

// A file from before the history: held read-locked by another program it still serves, without
// the tables and without an error; the next chance to write creates them.
void TestScanHistory::oldFileGetsTables()
{
    if (onServer())
        QSKIP("about the SQLite file's read lock: a server's readers hold up no writer");
    DB db;
    DbProbe other(dir->dbPath());
    for (const char* table : { "scans", "scan_answers", "sightings" })
        QVERIFY(other.exec(QString("DROP TABLE ") + table));
    const QString count = "SELECT count(*) FROM sqlite_master WHERE name IN ('scans', 'scan_answers', 'sightings')";
    QVERIFY(other.exec("BEGIN"));
    QCOMPARE(other.rows(count).value(0).value(0).toInt(), 0); // holds the read lock until COMMIT
    QElapsedTimer waited;
    waited.start();
    QVERIFY(historySchema::prepare(db).ok());
    QVERIFY2(waited.elapsed() < 2000, "a read lock must not hold the window for the busy time-out");
    const auto last = scanHistory::lastScan(db, subnet);
    QVERIFY(last.ok() && !last.value);
    const auto seen = scanHistory::sightings(db, 0, 0xffffffffu);
    QVERIFY(seen.ok() && seen.value.isEmpty());
    QCOMPARE(scanHistory::lastScanText(db, subnet), "Подсеть " + subnet + " не сканировалась");
    QVERIFY(other.exec("COMMIT"));
    QCOMPARE(other.rows(count).value(0).value(0).toInt(), 0);
    DB later;
    QCOMPARE(other.rows(count).value(0).value(0).toInt(), 3);
}

void TestScanHistory::shownInLocalTime_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("ended"); // UTC; empty: never scanned
    QTest::addColumn<int>("port"); // 0: ICMP
    QTest::addColumn<QString>("tooltip");
    QTest::addColumn<QString>("status");
    QTest::newRow("Moscow, ICMP") << QByteArray("Europe/Moscow") << "2026-12-06T11:03:00Z" << 0
                                  << "Последний ответ: 06.12.2026 14:03, ICMP"
                                  << "Подсеть 127.0.0.0/28 сканировалась 06.12.2026 14:03 (ICMP): ответили 1 из 14";
    QTest::newRow("Vladivostok, TCP, next year")
        << QByteArray("Asia/Vladivostok") << "2026-12-31T20:30:00Z" << 80 << "Последний ответ: 01.01.2027 06:30, TCP 80"
        << "Подсеть 127.0.0.0/28 сканировалась 01.01.2027 06:30 (TCP 80): ответили 1 из 14";
    QTest::newRow("never scanned") << QByteArray("UTC") << QString() << 0 << "Не отвечал ни разу"
                                   << "Подсеть 127.0.0.0/28 не сканировалась";
}

// Stored in UTC, shown in local time: the address tooltip and the main window's status bar.
void TestScanHistory::shownInLocalTime()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, ended);
    QFETCH(int, port);
    QFETCH(QString, tooltip);
    QFETCH(QString, status);
    const QByteArray previous = qgetenv("TZ");
    setZone(zone);
    {
        DB db;
        QVERIFY(subnetTable::insertOrganisation(db, "Org", subnet).ok());
        if (!ended.isEmpty())
            QVERIFY(scanHistory::record(db, outcome(ended, port ? "TCP" : "ICMP", port, { 0x7f000005 })).ok());
    }
    ZarvinWindow main;
    main.show();
    auto* tree = main.findChild<QTreeView*>("tree");
    clickCell(tree, tree->model()->index(0, 0));
    QCOMPARE(main.findChild<QLabel*>("rowStatus")->text().section(QStringLiteral(" · "), -1), status);
    ModalAnswerer answerer;
    hostsWindow w(subnet);
    w.show();
    QTest::mouseClick(w.findChild<QPushButton*>("pbAddRow"), Qt::LeftButton);
    QVERIFY(typeIntoCell(w.findChild<QTableView*>("tableView"), 0, 0, "127.0.0.5")); // a row the user typed
    QCOMPARE(hint(&w, "127.0.0.5"), tooltip);
    setZone(previous);
}

QTEST_MAIN(TestScanHistory)
#include "test_scan_history.moc"
