// The change log's cost, on the SQLite file and on a PostgreSQL server started for the run: a save
// of 254 hosts with its log entries against the same statements without them, and the log window
// on 1,000,000 entries (opening it, filtering it by text and by branch).
#include "bench/benchSupport.h"
#include "db/DB.h"
#include "db/changeLog.h"
#include "db/statementBatch.h"
#include "hosts/hostTable.h"
#include "net/ipv4.h"
#include "tests/support/pgServer.h"
#include "tree/changesWindow.h"
#include "tree/subnetTable.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSet>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

const QString lan = QStringLiteral("10.1.1.0/24");

struct Figure {
    const char* what;
    double goalMs;
    double file = 0, server = 0;
};

Figure figures[] = {
    { "save 254 new hosts, without the log", 0 },
    { "save 254 new hosts, with the log", 0 },
    { "save 254 notes again, without the log", 0 },
    { "save 254 notes again, with the log", 0 },
    { "then, while idle: 254 entries into the log", 0 },
    { "open the log window, 1,000,000 entries", 300 },
    { "filter it by a rare text", 300 },
    { "filter it by a user (first page)", 300 },
    { "only a /24 branch and below", 300 },
    { "open a database object (compaction and all)", 0 },
};

double msSince(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

double median(QVector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return ms.at(ms.size() / 2);
}

// The save without the log: the same statements in one transaction, and the same read of the
// subnet's stored addresses at the first one found stored (it spares the inserts sure to fail),
// but of the addresses alone; nothing entered.
Status plainSave(DB& db, const QVector<hostTable::SavedRow>& rows)
{
    return db.writeTransaction([&] {
        if (const Status stored = hostTable::requireTreeRow(db, lan); !stored.ok())
            return stored;
        StatementBatch insert(db, hostTable::insertHostStatement());
        StatementBatch update(db, hostTable::updateNoteStatement());
        std::optional<QSet<QString>> stored;
        for (const hostTable::SavedRow& row : rows) {
            Status written = stored && stored->contains(row.host) ? Status::failure({}, sqlite::Constraint)
                                                                  : insert.attempt({ lan, row.host, row.note });
            if (written.isConstraint() && !stored) {
                stored.emplace();
                const SqlResult hosts = db.run(QStringLiteral("SELECT host FROM hosts WHERE subnet=?"), { lan });
                for (const QVariantList& h : hosts.rows)
                    stored->insert(h.value(0).toString());
            }
            if (written.isConstraint())
                written = row.replaceNote ? update.attempt({ row.note, row.host }) : Status();
            if (!written.ok())
                return written;
        }
        return Status();
    });
}

// A server's set-based save came with the log: its save without the log is the same save with
// no log to enter into.
void putLogAway(DB& db, bool away)
{
    for (const QString& table : { QStringLiteral("change_log"), QStringLiteral("change_log_pending") })
        must(db.run(
            QStringLiteral("ALTER TABLE %1 RENAME TO %2")
                .arg(away ? table : table + QStringLiteral("_away"), away ? table + QStringLiteral("_away") : table)));
}

QVector<hostTable::SavedRow> lanRows(const QString& prefix)
{
    QVector<hostTable::SavedRow> rows;
    const net::HostRange range = net::hostRange(*net::parseNetwork(lan));
    for (quint64 i = 0; i < range.count; ++i)
        rows << hostTable::SavedRow { net::toText(range.at(i)), prefix + QString::number(i), true };
    return rows;
}

// Odd runs with the log, even ones without, so that both see the same state of the disk. The
// entries a logged save queues are moved into the log after it, as the idle window does.
void measureSaves(DB& db, double Figure::*engine)
{
    QVector<double> ms[5];
    const bool server = db.engine().isServer();
    // On a server, a connection of its own, which never saw the log's tables that are put away for it.
    const std::unique_ptr<DB> unlogged = server ? std::make_unique<DB>() : nullptr;
    const auto timedSave = [&](bool logged, const QString& prefix, int figure) {
        if (server && !logged)
            putLogAway(db, true);
        QElapsedTimer t;
        t.start();
        must(logged      ? hostTable::saveRows(db, lan, lanRows(prefix))
                : server ? hostTable::saveRows(*unlogged, lan, lanRows(prefix))
                         : plainSave(db, lanRows(prefix)));
        ms[figure] << msSince(t);
        if (server && !logged)
            putLogAway(db, false);
        if (logged) {
            t.restart();
            must(changeLog::moveQueued(db));
            ms[4] << msSince(t);
        }
    };
    for (int run = 0; run < 100; ++run) {
        const bool logged = run % 2 == 1;
        must(db.run(QStringLiteral("DELETE FROM hosts")));
        timedSave(logged, QStringLiteral("новый "), logged ? 1 : 0);
        timedSave(logged, QStringLiteral("правка "), logged ? 3 : 2);
    }
    for (int i = 0; i < 5; ++i)
        figures[i].*engine = median(ms[i]);
}

// 1,000,000 entries in 100,000 operations of ten, over 256 x 254 /24 branches and ten users.
void fillLog(DB& db)
{
    const QString subnet = QStringLiteral("'10.' || (i / 2540 % 256) || '.' || (i / 10 % 254) || '.0/24'");
    const QString host = QStringLiteral("'10.' || (i / 2540 % 256) || '.' || (i / 10 % 254) || '.' || (i % 250 + 1)");
    const QString first = QStringLiteral("(167772160 + (i / 2540 % 256) * 65536 + (i / 10 % 254) * 256)");
    must(db.writeTransaction([&] {
        return Status(db.run(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999) "
                           "INSERT INTO change_log (changed_at, who, what, operation, subnet, name, host, old_text, "
                           "new_text, first_address, last_address, search) SELECT '2026-01-01T00:00:00.000Z', "
                           "'user' || (i / 10 % 10), CASE WHEN i % 3 = 0 THEN 'note_changed' ELSE 'host_added' END, "
                           "i / 10 + 1000, %1, 'филиал ' || (i / 10 % 254), %2, '', 'рабочая станция ' || i, %3, %3 + "
                           "255, 'user' || (i / 10 % 10) || ' ' || %1 || ' филиал ' || (i / 10 % 254) || ' ' || %2 || "
                           "' рабочая станция ' || i FROM n")
                .arg(subnet, host, first)));
    }));
    if (db.engine().isServer())
        must(db.run(QStringLiteral("VACUUM ANALYZE change_log")));
}

double timed(const std::function<void()>& work)
{
    QVector<double> ms;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms << msSince(t);
    }
    return median(ms);
}

void measureWindow(DB& db, double Figure::*engine)
{
    figures[5].*engine = timed([&] {
        changesWindow window(db, lan);
        window.show();
        QApplication::processEvents();
        if (window.findChild<QTableView*>()->model()->rowCount() != 200)
            std::printf("  THE FIRST PAGE IS NOT FULL\n");
    });
    changesWindow window(db, QStringLiteral("10.3.45.0/24"));
    window.show();
    auto* text = window.findChild<QLineEdit*>(QStringLiteral("changesFilter"));
    const QAbstractItemModel* model = window.findChild<QTableView*>()->model();
    const auto filtered = [&](const QString& typed, int rows) {
        return timed([&] {
            text->setText(typed);
            window.reload();
            if (model->rowCount() != rows)
                std::printf("  %s: %d LINES, NOT %d\n", qPrintable(typed), model->rowCount(), rows);
        });
    };
    figures[6].*engine = filtered(QStringLiteral("станция 123456"), 1);
    figures[7].*engine = filtered(QStringLiteral("user7"), 200);
    text->clear();
    figures[8].*engine = timed([&] {
        window.findChild<QCheckBox*>()->setChecked(true);
        if (model->rowCount() != 2)
            std::printf("  THE BRANCH SHOWS %d LINES, NOT 2\n", model->rowCount());
        window.findChild<QCheckBox*>()->setChecked(false);
    });
    figures[9].*engine = timed([] { DB another; });
}

// "--saves": the saves alone, without the million entries.
bool savesOnly = false;

void measure(double Figure::*engine)
{
    BenchDataDir dir;
    DB db;
    must(db.status());
    must(subnetTable::insertFirstOrganisation(db, QStringLiteral("Организация"), QStringLiteral("10.0.0.0/8")));
    must(subnetTable::insertBranchUnder(db, QStringLiteral("ЛВС"), lan, QStringLiteral("10.0.0.0/8")));
    measureSaves(db, engine);
    if (savesOnly)
        return;
    fillLog(db);
    measureWindow(db, engine);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    savesOnly = app.arguments().contains(QStringLiteral("--saves"));
    qunsetenv("ZARVIN_DATABASE");
    measure(&Figure::file);
    const QString url = pgServer::newDatabase();
    if (!url.isEmpty()) {
        qputenv("ZARVIN_DATABASE", url.toUtf8());
        measure(&Figure::server);
    } else {
        std::printf("changes: no PostgreSQL server could be started (Debian's postgresql package)\n");
    }
    std::printf("%-50s %9s %9s %7s\n", "", "file, ms", "server", "goal");
    for (const Figure& f : figures)
        std::printf("%-50s %9.1f %9.1f %7.0f%s\n", f.what, f.file, f.server, f.goalMs,
            f.goalMs > 0 && (f.file > f.goalMs || f.server > f.goalMs) ? "  OVER THE GOAL" : "");
    for (int i = 0; i < 4; i += 2)
        std::printf("%-50s %8.1f%% %8.1f%% %7s\n", i == 0 ? "the log's share, new hosts" : "the log's share, notes",
            100 * (figures[i + 1].file / figures[i].file - 1), 100 * (figures[i + 1].server / figures[i].server - 1),
            "10%");
    return 0;
}
