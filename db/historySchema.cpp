#include "db/historySchema.h"

#include "db/DB.h"

namespace historySchema {

namespace {

constexpr int busy = 5;
constexpr int locked = 6;
constexpr int readOnly = 8;

bool cannotWriteNow(int code)
{
    return code == busy || code == locked || code == readOnly;
}

bool tablesPresent(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN "
                                              "('scans', 'scan_answers', 'sightings')"));
    return r.ok() && r.rows.value(0).value(0).toInt() == 3;
}

} // namespace

QStringList createStatements()
{
    return { QStringLiteral("CREATE TABLE IF NOT EXISTS scans (id integer primary key, subnet text, method text, "
                            "port int, started text, ended text, probed int, answered int)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS scans_by_subnet ON scans (subnet, id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS scan_answers (scan int, address int, PRIMARY KEY (scan, address)) "
                       "WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sightings (address integer primary key, first_seen text, "
                       "first_method text, first_port int, last_seen text, last_method text, last_port int)") };
}

QStringList clearStatements()
{
    return { QStringLiteral("DELETE FROM scan_answers"), QStringLiteral("DELETE FROM sightings"),
        QStringLiteral("DELETE FROM scans") };
}

SqlResult prepare(DB& db)
{
    // The usual case reads only, so a file held read-locked by another program still opens.
    if (tablesPresent(db))
        return {};
    // Creating is optional at this point: no reason to hold the window up for the busy time-out.
    const DB::NoWaiting quick(db);
    SqlResult result;
    for (const QString& sql : createStatements()) {
        result = db.run(sql);
        if (!result.ok())
            break;
    }
    return cannotWriteNow(result.code) ? SqlResult() : result;
}

bool isMissingTable(const SqlResult& result)
{
    return result.code == sqlite::Error && result.errorText.contains(QLatin1String("no such table"));
}

} // namespace historySchema
