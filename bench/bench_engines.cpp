// Both engines side by side, in one run: the same figures on the SQLite file and on a PostgreSQL
// server that the run starts in a temporary directory (a Unix socket there, as the tests do),
// each server figure against its goal and against twice the file's.
#include "bench/benchSupport.h"
#include "db/DB.h"
#include "db/statementBatch.h"
#include "hosts/hostListCsv.h"
#include "hosts/hostModel.h"
#include "hosts/hostsWindow.h"
#include "hosts/scan/scanHistory.h"
#include "net/ipv4.h"
#include "tests/support/pgServer.h"
#include "tree/ZarvinWindow.h"
#include "tree/inventorySearch.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

const QString hostsSubnet = QStringLiteral("10.0.0.0/16");

void settle()
{
    QApplication::processEvents();
    QApplication::processEvents();
}

// Organisation 10.0.0.0/8, 80 regions 10.R.0.0/16 with 127 branches 10.R.k.0/24 each: 10,241 tree
// rows; every host address of 10.0.0.0/16 stored under that region.
void seed(DB& db)
{
    must(db.writeTransaction([&] {
        StatementBatch row(db,
            QStringLiteral("INSERT INTO subnets (id, name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?, ?)"));
        Status done
            = row.run({ 1, QStringLiteral("Организация"), QStringLiteral("10.0.0.0/8"), QVariant(), QVariant() });
        int id = 2;
        for (int r = 0; r < 80; ++r) {
            const int region = id++;
            const QString regionSubnet = QStringLiteral("10.%1.0.0/16").arg(r);
            done = row.run(
                { region, QStringLiteral("Регион %1").arg(r), regionSubnet, 1, QStringLiteral("10.0.0.0/8") });
            for (int k = 0; k < 127; ++k)
                done = row.run({ id++,
                    k % 10 == 3 ? QStringLiteral("Склад %1-%2").arg(r).arg(k)
                                : QStringLiteral("Филиал %1-%2").arg(r).arg(k),
                    QStringLiteral("10.%1.%2.0/24").arg(r).arg(k), region, regionSubnet });
        }
        StatementBatch host(db, QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"));
        const net::HostRange range = net::hostRange(*net::parseNetwork(hostsSubnet));
        for (quint64 i = 0; i < range.count; ++i)
            done = host.run({ hostsSubnet, net::toText(range.at(i)),
                i % 1000 == 7 ? QStringLiteral("СКЛАД, стойка %1").arg(i)
                              : QStringLiteral("рабочая станция %1").arg(i) });
        return done;
    }));
}

double msSince(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

double median(int runs, const std::function<double()>& once)
{
    QVector<double> ms;
    for (int i = 0; i < runs; ++i)
        ms << once();
    std::sort(ms.begin(), ms.end());
    return ms.at(ms.size() / 2);
}

double start()
{
    QElapsedTimer t;
    t.start();
    ZarvinWindow window;
    window.show();
    settle();
    const double ms = msSince(t);
    const int rows = window.findChild<QTreeView*>(QStringLiteral("tree"))->model()->rowCount();
    if (!window.dbStatus().ok() || rows != 1)
        std::printf("  START SHOWED %d TOP ROWS: %s\n", rows, qPrintable(window.dbStatus().errorText));
    return ms;
}

double load()
{
    hostsWindow window(hostsSubnet);
    window.show();
    settle();
    QElapsedTimer t;
    t.start();
    window.findChild<QPushButton*>(QStringLiteral("pbLoad"))->click();
    settle();
    const double ms = msSince(t);
    if (window.findChild<QTableView*>(QStringLiteral("tableView"))->model()->rowCount() != 65534)
        std::printf("  LOAD GAVE THE WRONG NUMBER OF ROWS\n");
    return ms;
}

// From the save notice answered to the last row written, as the user waits for it; a median of
// several, a single commit's time on this disk varying by a millisecond.
double save()
{
    const QString lan = QStringLiteral("10.1.5.0/24");
    // New hosts each time: the last run's are gone first.
    must(DB {}.run(QStringLiteral("DELETE FROM hosts WHERE subnet = ?"), { lan }));
    hostsWindow window(lan);
    auto* model
        = qobject_cast<QStandardItemModel*>(window.findChild<QTableView*>(QStringLiteral("tableView"))->model());
    const net::HostRange range = net::hostRange(*net::parseNetwork(lan));
    for (quint64 i = 0; i < range.count; ++i) {
        auto* note = new QStandardItem(QStringLiteral("новый %1").arg(i));
        note->setData(true, hostModel::noteWrittenRole);
        model->appendRow({ new QStandardItem(net::toText(range.at(i))), note });
    }
    window.show();
    settle();
    QElapsedTimer t;
    qint64 answeredAt = 0;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answeredAt = t.nsecsElapsed();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answerer.start(1);
    t.start();
    window.findChild<QPushButton*>(QStringLiteral("pbSave"))->click();
    const double ms = double(t.nsecsElapsed() - answeredAt) / 1e6;
    if (DB {}.run(QStringLiteral("SELECT 1 FROM hosts WHERE subnet = ?"), { lan }).rows.size() != int(range.count))
        std::printf("  THE SAVE DID NOT WRITE EVERY ROW\n");
    return ms;
}

double record(DB& db, const ScanOutcome& o)
{
    QElapsedTimer t;
    t.start();
    if (const SqlResult r = scanHistory::record(db, o); !r.ok())
        std::printf("  RECORD FAILED: %s\n", qPrintable(r.errorText));
    return msSince(t);
}

struct Figure {
    const char* what;
    double goalMs;
    double file = 0, server = 0;
};

QVector<Figure> figures = {
    { "start: main window with 10,241 tree rows shown", 300 },
    { "load 65,534 hosts into the hosts window", 1000 },
    { "save 254 new hosts", 500 },
    { "search an address among 65,534 hosts", 50 },
    { "search a text among 65,534 hosts", 150 },
    { "record a /16 scan (65,534 answered)", 500 },
    { "compare the last scan with 65,534 stored hosts", 300 },
    { "import a list of 65,534 new hosts", 0 },
    // What no statement of a server goes below: the least a figure of one statement can cost.
    { "one statement's round trip (SELECT 1)", 0 },
};

// The import's write, as the window runs it once the preview is accepted; the rows go again after.
double import()
{
    const QString region = QStringLiteral("10.7.0.0/16");
    hostListCsv::Preview preview;
    const net::HostRange range = net::hostRange(*net::parseNetwork(region));
    for (quint64 i = 0; i < range.count; ++i)
        preview.fresh << hostListCsv::HostNote { net::toText(range.at(i)), QStringLiteral("из списка %1").arg(i) };
    DB db;
    QElapsedTimer t;
    t.start();
    must(hostListCsv::write(db, region, preview));
    const double ms = msSince(t);
    must(db.run(QStringLiteral("DELETE FROM hosts WHERE subnet = ?"), { region }));
    return ms;
}

void measure(double Figure::*engine)
{
    BenchDataDir dir;
    {
        DB db;
        must(db.status());
        seed(db);
    }
    figures[0].*engine = median(3, start);
    figures[1].*engine = median(3, load);
    figures[2].*engine = median(7, save);
    DB db;
    figures[3].*engine = median(11, [&db] {
        QElapsedTimer t;
        t.start();
        inventorySearch::Searcher(db).find(QStringLiteral("10.0.2.37"));
        return msSince(t);
    });
    figures[4].*engine = median(11, [&db] {
        QElapsedTimer t;
        t.start();
        inventorySearch::Searcher(db).find(QStringLiteral("склад"));
        return msSince(t);
    });
    figures[5].*engine = record(db, everyAddress(QStringLiteral("10.200.0.0/16"), 1, 10));
    (void)record(db, everyAddress(hostsSubnet, 3, 30));
    (void)record(db, everyAddress(hostsSubnet, 2, 1));
    QElapsedTimer t;
    t.start();
    const auto scan = scanHistory::lastScan(db, hostsSubnet).value;
    const auto lists = scanHistory::compare(db, *scan).value;
    figures[6].*engine = msSince(t);
    if (lists.answering.size() + lists.silent.size() != 65534)
        std::printf("  THE COMPARISON LOST ADDRESSES\n");
    figures[7].*engine = import();
    figures[8].*engine = median(101, [&db] {
        QElapsedTimer trip;
        trip.start();
        (void)db.runKept(QStringLiteral("SELECT 1"), {});
        return msSince(trip);
    });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    qunsetenv("ZARVIN_DATABASE");
    measure(&Figure::file);
    const QString url = pgServer::newDatabase();
    if (url.isEmpty()) {
        std::printf("engines: no PostgreSQL server could be started (Debian's postgresql package)\n");
        return 1;
    }
    qputenv("ZARVIN_DATABASE", url.toUtf8());
    measure(&Figure::server);
    std::printf("%-50s %9s %9s %6s %7s\n", "", "file, ms", "server", "ratio", "goal");
    for (const Figure& f : figures) {
        const bool over = f.goalMs > 0 && (f.server > f.goalMs || f.file > f.goalMs);
        // Below a millisecond the digits that matter are further right.
        std::printf(f.file < 1 ? "%-50s %9.3f %9.3f %5.1fx %7.0f%s%s\n" : "%-50s %9.1f %9.1f %5.1fx %7.0f%s%s\n",
            f.what, f.file, f.server, f.server / f.file, f.goalMs, over ? "  OVER THE GOAL" : "",
            f.server > 2 * f.file ? "  MORE THAN 2x THE FILE" : "");
    }
    return 0;
}
