#include "db/historySchema.h"

#include "db/DB.h"

namespace historySchema {

bool present(DB& db)
{
    return db.engine().hasTables(
        db, { QStringLiteral("scans"), QStringLiteral("scan_answers"), QStringLiteral("sightings") });
}

QStringList createStatements(DB& db)
{
    return db.engine().historyTables();
}

QStringList clearStatements()
{
    return { QStringLiteral("DELETE FROM scan_answers"), QStringLiteral("DELETE FROM sightings"),
        QStringLiteral("DELETE FROM scans") };
}

SqlResult prepare(DB& db)
{
    // The usual case reads only, so a file held read-locked by another program still opens.
    if (present(db))
        return {};
    // Creating is optional at this point: no reason to hold the window up for the busy time-out.
    const DB::NoWaiting quick(db);
    SqlResult result;
    for (const QString& sql : createStatements(db)) {
        result = db.run(sql);
        if (!result.ok())
            break;
    }
    return sqlite::cannotWriteNow(result.code) ? SqlResult() : result;
}

bool isMissingTable(const SqlResult& result)
{
    return result.code == sqlite::Error && result.errorText.contains(QLatin1String("no such table"));
}

} // namespace historySchema
