// Figures for the scan history: recording a /16 in which every address answered, and comparing
// the last scan of a /16 with 65,534 stored hosts, in the core and as the window opens.
#include "bench/benchSupport.h"
#include "db/DB.h"
#include "hosts/compareWindow.h"
#include "hosts/hostTable.h"
#include "hosts/scan/scanHistory.h"
#include "net/ipv4.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

double cpuNow()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Wall-clock seconds, and the CPU seconds of this process over the same span: on a loaded
// machine the first includes waiting for a core.
struct Span {
    Span() { restart(); }
    void restart()
    {
        wall.start();
        cpu0 = cpuNow();
    }
    double seconds() const { return double(wall.nsecsElapsed()) / 1e9; }
    double cpu() const { return cpuNow() - cpu0; }
    QElapsedTimer wall;
    double cpu0 = 0;
};

Span timedRecord(DB& db, const ScanOutcome& o)
{
    Span t;
    const SqlResult r = scanHistory::record(db, o);
    if (!r.ok())
        std::printf("history: RECORD FAILED: %s\n", qPrintable(r.errorText));
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    BenchDataDir dir;
    DB db;

    const QString big = QStringLiteral("10.0.0.0/16");
    Span first = timedRecord(db, everyAddress(big, 1, 10));
    std::printf("history: record a /16 scan, 65534 answered, first sightings: %.3f s, CPU %.3f s (goal < 0.5 s)\n",
        first.seconds(), first.cpu());
    Span again = timedRecord(db, everyAddress(big, 1, 5));
    std::printf("history: record it again, every sighting moved forward:      %.3f s, CPU %.3f s (goal < 0.5 s)\n",
        again.seconds(), again.cpu());

    const QString stored = QStringLiteral("10.1.0.0/16");
    seedHosts(db, stored, [](quint64 i) { return QStringLiteral("host %1").arg(i); });
    timedRecord(db, everyAddress(stored, 3, 30)); // every third answered once: "Молчат" get times
    timedRecord(db, everyAddress(stored, 2, 1)); // every second answers now
    Span t;
    const auto scan = scanHistory::lastScan(db, stored).value;
    const auto lists = scanHistory::compare(db, *scan).value;
    const double wall = t.seconds(), cpu = t.cpu();
    std::printf("history: compare the last scan with 65534 stored hosts of a /16: %.3f s, CPU %.3f s (goal < 0.3 s)\n",
        wall, cpu);
    std::printf("history:   lists: new %d, silent %d, answering %d\n", lists.fresh.size(), lists.silent.size(),
        lists.answering.size());
    t.restart();
    {
        compareWindow window(db, stored, nullptr);
        window.refresh();
        window.show();
        QApplication::processEvents();
        std::printf("history:   the comparison window built, filled and shown: %.3f s, CPU %.3f s (%.1fx the query)\n",
            t.seconds(), t.cpu(), t.cpu() / cpu);
    }
    t.restart();
    const auto seen = scanHistory::sightings(db, 0x0a010000u, 0x0a01ffffu).value;
    std::printf(
        "history: last-seen lookup over a /16 (the hosts window's tooltips): %.3f s, CPU %.3f s, %d addresses\n",
        t.seconds(), t.cpu(), seen.size());
    return 0;
}
