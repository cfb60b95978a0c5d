#include "db/historySchema.h"

#include "db/DB.h"
#include "db/historyBlocks.h"

namespace historySchema {

namespace {

const QString byRows = QStringLiteral("history by rows");
const QString byBlocks = QStringLiteral("history by blocks");

// Asked of the catalog, and taken for granted from then on.
HistoryLayout readLayout(DB& db)
{
    const HistoryLayout found = db.engine().historyLayout(db);
    if (found != HistoryLayout::None)
        db.learn(found == HistoryLayout::Blocks ? byBlocks : byRows);
    return found;
}

} // namespace

HistoryLayout layout(DB& db)
{
    if (db.knows(byBlocks))
        return HistoryLayout::Blocks;
    return db.knows(byRows) ? HistoryLayout::Rows : readLayout(db);
}

bool present(DB& db)
{
    return readLayout(db) != HistoryLayout::None;
}

QStringList createStatements(DB& db)
{
    return db.engine().historyTables();
}

QString emptying(DB& db, const QString& table)
{
    const QString throughBlocks = layout(db) == HistoryLayout::Blocks ? historyBlocks::deleteRows(table) : QString();
    return throughBlocks.isEmpty() ? QStringLiteral("DELETE FROM ") + table : throughBlocks;
}

QStringList clearStatements(DB& db)
{
    return { emptying(db, QStringLiteral("scan_answers")), emptying(db, QStringLiteral("sightings")),
        emptying(db, QStringLiteral("scans")) };
}

SqlResult prepare(DB& db)
{
    // The usual case reads only, so a file held read-locked by another program still opens.
    if (readLayout(db) == db.engine().historyLayoutMade())
        return {};
    // Creating is optional at this point: no reason to hold the window up for the busy time-out.
    const DB::NoWaiting quick(db);
    SqlResult result;
    for (const QString& sql : createStatements(db)) {
        result = db.run(sql);
        if (!result.ok())
            break;
    }
    (void)readLayout(db);
    return sqlite::cannotWriteNow(result.code) ? SqlResult() : result;
}

bool isMissingTable(const SqlResult& result)
{
    return result.code == sqlite::Error && result.errorText.contains(QLatin1String("no such table"));
}

QString sightingOfAddress(DB& db)
{
    if (layout(db) == HistoryLayout::Blocks)
        return historyBlocks::sightingOfAddress();
    return QStringLiteral("SELECT 2, last_seen, last_method, CAST(last_port AS TEXT) FROM sightings WHERE address = ?");
}

} // namespace historySchema
