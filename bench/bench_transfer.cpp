// Figures for moving data in and out: the whole inventory to CSV and back, the preview of a host
// list import, and a backup, on 10,000 tree rows and a /16 full of hosts; on the file, then on a
// PostgreSQL server started for the run.
#include "bench/benchSupport.h"
#include "db/DB.h"
#include "db/backup.h"
#include "hosts/hostListCsv.h"
#include "hosts/hostTable.h"
#include "net/ipv4.h"
#include "tests/support/pgServer.h"
#include "tree/inventoryCsv.h"
#include "tree/subnetTable.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

const QString bigBranch = QStringLiteral("10.100.0.0/16");

// The organisation, 9,998 /24 branches and one /16 branch with every host address noted.
void seed(DB& db)
{
    must(db.run(QStringLiteral("BEGIN")));
    must(subnetTable::insertOrganisation(db, QStringLiteral("Организация"), QStringLiteral("10.0.0.0/8")));
    const QVariant org = subnetTable::idOfSubnet(db, QStringLiteral("10.0.0.0/8")).rows.value(0).value(0);
    for (int i = 0; i < 9998; ++i) {
        const QString subnet = QStringLiteral("10.%1.%2.0/24").arg(i / 256).arg(i % 256);
        must(subnetTable::insertBranch(
            db, QStringLiteral("Филиал %1").arg(i), subnet, org, QStringLiteral("10.0.0.0/8")));
    }
    must(subnetTable::insertBranch(db, QStringLiteral("Большой"), bigBranch, org, QStringLiteral("10.0.0.0/8")));
    must(db.run(QStringLiteral("COMMIT")));
    seedHosts(db, bigBranch, [](quint64 i) { return QStringLiteral("хост, «%1»").arg(i); });
}

double timed(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

// A goal of 0: none given.
void report(const char* what, double seconds, double goal)
{
    if (goal > 0)
        std::printf("%-52s %7.3f s   goal %.0f s   %5.1f%% of goal\n", what, seconds, goal, 100.0 * seconds / goal);
    else
        std::printf("%-52s %7.3f s\n", what, seconds);
}

QByteArray hostList()
{
    QByteArray bytes = "IP-адрес хоста;Примечание\r\n";
    const net::HostRange range = net::hostRange(*net::parseNetwork(bigBranch));
    for (quint64 i = 0; i < range.count; ++i)
        bytes += (net::toText(range.at(i)) + QStringLiteral(";новое примечание %1\r\n").arg(i)).toUtf8();
    return bytes;
}

// One run on the configured database, its figures marked with `engine`.
bool measure(const char* engine)
{
    std::printf("== %s\n", engine);
    BenchDataDir dir;
    DB db;
    seed(db);
    const QString csv = dir.dir.filePath(QStringLiteral("inventory.csv"));
    QString error;
    report("export: 10,000 tree rows + 65,534 hosts",
        timed([&] { error += inventoryCsv::exportTo(db, csv).errorText; }), 1);
    const QString copy = dir.dir.filePath(QStringLiteral("copy.db"));
    report("backup of that database (VACUUM INTO + check)",
        timed([&] { error += backup::makeCopy(db, copy).errorText; }), 1);
    // How a team moves its file onto a server: the copy checked, and the content replaced by it.
    report("restore of that copy", timed([&] {
        error += backup::restore(db, copy, [](const QVector<QVariantList>&, const QVector<QVariantList>&) {
            return Status();
        }).errorText;
    }),
        0);
    QBuffer list;
    list.setData(hostList());
    list.open(QIODevice::ReadOnly);
    report("preview of a 65,534-line host CSV (all stored)", timed([&] {
        const auto loaded = hostListCsv::preview(db, bigBranch, list);
        error += loaded.errorText;
        if (loaded.ok() && loaded.value.changed.size() != 65534)
            error += QStringLiteral("preview miscounted");
    }),
        1);
    must(subnetTable::deleteEverything(db));
    report("import of the same into an empty database", timed([&] {
        QFile file(csv);
        file.open(QIODevice::ReadOnly);
        const auto loaded = inventoryCsv::read(file);
        error += loaded.ok() ? inventoryCsv::write(db, loaded.value).errorText : loaded.errorText;
    }),
        2);
    const qint64 rows = db.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM subnets) + (SELECT COUNT(*) FROM hosts)"))
                            .rows.value(0)
                            .value(0)
                            .toLongLong();
    std::printf("rows after import: %lld (expected 75534); csv size %lld bytes\n", rows, QFile(csv).size());
    if (!error.isEmpty())
        std::printf("ERROR: %s\n", qPrintable(error));
    return error.isEmpty() && rows == 75534;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qunsetenv("ZARVIN_DATABASE");
    bool sound = measure("file");
    // The same on a server of the run's own, where one can be started.
    const QString url = pgServer::newDatabase();
    if (url.isEmpty()) {
        std::printf("no PostgreSQL server could be started (Debian's postgresql package)\n");
        return sound ? 0 : 1;
    }
    qputenv("ZARVIN_DATABASE", url.toUtf8());
    sound = measure("server") && sound;
    return sound ? 0 : 1;
}
