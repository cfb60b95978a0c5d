#include "db/DB.h"
#include "db/changeLog.h"
#include "db/dataAccess.h"
#include "db/dataDir.h"
#include "db/engine.h"
#include "db/historySchema.h"
#include "db/treeRules.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>

#include <sys/stat.h>

namespace {

// A compaction that fails for one of these is put off to a later construction: the file is
// in use (BUSY, LOCKED), cannot be written (READONLY) or the disk is full (FULL). An IOERR is
// not among them: SQLite reports a full disk as FULL, and an IOERR means the device failed.
bool isVacuumPutOff(int code)
{
    return code == sqlite::Busy || code == sqlite::Locked || code == sqlite::ReadOnly || code == sqlite::Full;
}

// The primary result code of a failed Qt SQL operation.
int primaryCode(const QSqlError& error)
{
    if (error.type() == QSqlError::NoError)
        return sqlite::Ok;
    bool ok = false;
    const int native = error.nativeErrorCode().toInt(&ok);
    if (!ok || native == 0)
        return sqlite::Error;
    return native & 0xff;
}

// The full check reads every page: a file is checked when the first object of the run opens
// it, and not again while any object keeps it open (the main window keeps its own for the whole
// run), so later windows open at the cost of the compaction alone. Whatever replaces the content
// checks again. An open file keeps its identity: a file put in its place is checked anew.
QMutex openFilesMutex;
QHash<QString, int> openFiles; // device:inode -> objects that hold it open and found it sound

// The change log lives in a file of its own, attached to every connection on the database file:
// the compaction at each construction (a plain VACUUM compacts main only) need not copy a log of a
// million entries. Every statement but its creation names the table unqualified, and SQLite finds
// it through main, temp, then the attached files. The rollback journal keeps a transaction that
// writes both files atomic.
const QString logSchema = QStringLiteral("zarvin_log");

class SqliteEngine : public Engine {
public:
    explicit SqliteEngine(const QString& file_)
        : file(file_)
    { }
    ~SqliteEngine() override { closed(); }

    QString driverName() const override { return QStringLiteral("QSQLITE"); }
    bool isServer() const override { return false; }

    Status open(QSqlDatabase& conn, int waitMs) override
    {
        conn.setDatabaseName(file);
        conn.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(waitMs));
        return openDatabaseFile(conn);
    }

    Status prepareSchema(DB& db, bool& readOnly) override;
    Status checkIntegrity(DB& db) override;
    QString location(const QSqlDatabase&) const override { return file; }
    void closed() override;

    QStringList beginWrite() const override { return { QStringLiteral("BEGIN IMMEDIATE") }; }
    QString beginRead() const override { return QStringLiteral("BEGIN"); }
    QString waitFor(int ms) const override { return QStringLiteral("PRAGMA busy_timeout = %1").arg(ms); }
    bool preparesEverything() const override { return true; }
    bool needsSavepoints() const override { return false; }
    bool writesRowsTogether() const override { return false; }
    bool reportsInsertedId() const override { return true; }
    bool matchesSetsQuickly() const override { return false; }

    Status failure(const QSqlError& error) const override
    {
        const int code = primaryCode(error);
        return Status::failure(error.text(), code == sqlite::Ok ? sqlite::Error : code);
    }

    // The driver binds text as UTF-16, and SQLite takes one leading byte-order mark of such text
    // for the byte order and drops it (a reversed mark would even be read as the other order):
    // such a text gets one more mark in front.
    QVariant bound(const QVariant& value) const override
    {
        const QString text = value.toString();
        if (text.startsWith(QChar(0xfeff)) || text.startsWith(QChar(0xfffe)))
            return QChar(0xfeff) + text;
        return value;
    }

    QString text(EngineSql which) const override;
    QString pattern(const QString& glob) const override { return glob; }

    bool hasTables(DB& db, const QStringList& tables) const override
    {
        const QString log = logAttached
            ? QStringLiteral(" UNION ALL SELECT type, name FROM %1.sqlite_master").arg(logSchema)
            : QString();
        const SqlResult r = db.run(QStringLiteral("SELECT count(*) FROM (SELECT type, name FROM main.sqlite_master%1) "
                                                  "WHERE type = 'table' AND name IN ('%2')")
                                       .arg(log, tables.join(QStringLiteral("', '"))));
        return r.ok() && r.rows.value(0).value(0).toInt() == tables.size();
    }

    QStringList historyTables() const override;
    HistoryLayout historyLayout(DB& db) const override
    {
        return hasTables(db, { QStringLiteral("scans"), QStringLiteral("scan_answers"), QStringLiteral("sightings") })
            ? HistoryLayout::Rows
            : HistoryLayout::None;
    }
    HistoryLayout historyLayoutMade() const override { return HistoryLayout::Rows; }
    QStringList changeLogStatements() const override;
    QStringList ruleStatements() const override { return treeRules::createStatements(); }
    bool hasRules(DB& db) const override
    {
        const SqlResult r = db.run(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                                                  "name LIKE 'zarvin!_%' ESCAPE '!'"));
        return r.ok() && r.rows.value(0).value(0).toInt() == ruleStatements().size();
    }

private:
    Status checkIntegrityOnce(DB& db);
    Status checkMain(DB& db);
    bool attachLog(DB& db);

    QString file;
    bool logAttached = false; // without it (a directory this user cannot write) nothing is logged
    QString checkedIdentity; // the file this object found sound, while it holds it open
};

Status SqliteEngine::prepareSchema(DB& db, bool& readOnly)
{
    // Checked before the log is attached: the check reads every attached file.
    if (const Status checked = checkIntegrityOnce(db); !checked.ok())
        return checked;
    logAttached = attachLog(db);
    for (const QString& sql :
        { QStringLiteral("CREATE TABLE IF NOT EXISTS subnets (id integer primary key, subnet text UNIQUE, "
                         "parent_id int, parent_subnet text, name text)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS hosts (id integer primary key, subnet text, host text UNIQUE, "
                           "note text)") }) {
        const SqlResult created = db.run(sql);
        if (!created.ok())
            return created;
    }
    // Fails on every file that already has the column; only a broken file is fatal here.
    const SqlResult alter = db.run(QStringLiteral("ALTER TABLE hosts ADD COLUMN note text"));
    if (!alter.ok() && !sqlite::isOperational(alter.code))
        return alter;
    // Not part of any table: counting a subnet's hosts and loading its list read it.
    if (const SqlResult indexed
        = db.run(QStringLiteral("CREATE INDEX IF NOT EXISTS hosts_by_subnet ON hosts (subnet)"));
        !indexed.ok() && !isVacuumPutOff(indexed.code))
        return indexed;
    if (const SqlResult history = historySchema::prepare(db); !history.ok())
        return history;
    if (const SqlResult rules = treeRules::prepare(db); !rules.ok())
        return rules;
    if (const SqlResult log = changeLog::prepare(db); !log.ok())
        return log;
    // Compacting can wait for a later construction; the window need not wait out the busy
    // time-out for it while another program reads the file.
    const SqlResult vacuum = [&db] {
        const DB::NoWaiting quick(db);
        return db.run(QStringLiteral("VACUUM"));
    }();
    if (!vacuum.ok() && !isVacuumPutOff(vacuum.code))
        return vacuum;
    readOnly = vacuum.code == sqlite::ReadOnly; // the file opens for viewing only
    return {};
}

// Before anything is written: a damaged file is refused as it is, not compacted with its
// damage kept, and a damaged index cannot send a write to another row. A file in use by another
// program is not damaged: that is said apart, so nobody restores a sound file from a backup.
Status SqliteEngine::checkIntegrity(DB& db)
{
    if (!logAttached)
        return checkMain(db);
    // The log's pages say nothing of the database's soundness, and reading them costs time.
    logAttached = !db.run(QStringLiteral("DETACH DATABASE ") + logSchema).ok();
    const Status verdict = checkMain(db);
    logAttached = logAttached || attachLog(db);
    return verdict;
}

Status SqliteEngine::checkMain(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("PRAGMA integrity_check"));
    const QString first = r.ok() ? r.rows.value(0).value(0).toString() : r.errorText;
    if (r.ok() && first == QLatin1String("ok"))
        return {};
    if (r.code == sqlite::Busy || r.code == sqlite::Locked)
        return Status::failure(QStringLiteral("база данных занята другой программой (") + first
                + QStringLiteral("): закройте ее или попробуйте ещё раз немного позже"),
            r.code);
    if (!r.ok() && r.code != sqlite::Corrupt && r.code != sqlite::NotADatabase)
        return Status::failure(QStringLiteral("файл базы данных не удалось проверить: ") + first, r.code);
    return Status::failure(QStringLiteral("файл базы данных поврежден: ") + first, r.ok() ? sqlite::Corrupt : r.code);
}

Status SqliteEngine::checkIntegrityOnce(DB& db)
{
    struct stat st { };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return checkMain(db);
    const QString identity = QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
    {
        const QMutexLocker lock(&openFilesMutex);
        if (openFiles.value(identity) > 0) {
            ++openFiles[identity];
            checkedIdentity = identity;
            return {};
        }
    }
    const Status verdict = checkMain(db);
    if (verdict.ok()) {
        const QMutexLocker lock(&openFilesMutex);
        ++openFiles[identity];
        checkedIdentity = identity;
    }
    return verdict;
}

// A log file that cannot be made (a directory open for reading only) leaves the program without
// a log; a damaged one as well, rather than without the database. A busy one is attached as it is.
bool SqliteEngine::attachLog(DB& db)
{
    if (!attachDatabaseFile(db, changeLogFilePath(file), logSchema).ok())
        return false;
    const SqlResult read = db.run(QStringLiteral("SELECT count(*) FROM %1.sqlite_master").arg(logSchema));
    if (read.ok() || read.code == sqlite::Busy || read.code == sqlite::Locked)
        return true;
    (void)db.run(QStringLiteral("DETACH DATABASE ") + logSchema);
    return false;
}

void SqliteEngine::closed()
{
    if (checkedIdentity.isEmpty())
        return;
    const QMutexLocker lock(&openFilesMutex);
    if (--openFiles[checkedIdentity] <= 0)
        openFiles.remove(checkedIdentity);
    checkedIdentity.clear();
}

QString SqliteEngine::text(EngineSql which) const
{
    switch (which) {
    case EngineSql::ReturningId:
        return QString();
    case EngineSql::LastInsertedId:
        return QStringLiteral("SELECT last_insert_rowid()");
    case EngineSql::NumberTable:
        return QStringLiteral("json_each(?) AS j");
    case EngineSql::PairTable:
        return QStringLiteral("(SELECT json_extract(value, '$[0]') AS first, json_extract(value, '$[1]') AS second, "
                              "key AS n FROM json_each(?)) AS j");
    case EngineSql::AddScanAnswers:
        return QStringLiteral("INSERT OR IGNORE INTO scan_answers (scan, address) SELECT ?, value FROM json_each(?)");
    case EngineSql::AddSightings:
        // First seen is written once; last seen only ever moves forward, whatever the clock did.
        return QStringLiteral(
            "INSERT INTO sightings (address, first_seen, first_method, first_port, last_seen, last_method, "
            "last_port) SELECT address, ?, ?, CAST(? AS integer), ?, ?, CAST(? AS integer) FROM scan_answers WHERE "
            "scan = ? ON CONFLICT (address) DO UPDATE SET last_seen = excluded.last_seen, last_method = "
            "excluded.last_method, last_port = excluded.last_port WHERE excluded.last_seen >= sightings.last_seen");
    case EngineSql::AsBytes:
        return QStringLiteral("SELECT CAST((%1) AS BLOB)");
    case EngineSql::TextBytes:
        return QStringLiteral("CAST(%1 AS BLOB)");
    case EngineSql::HostNotePairs:
        return QStringLiteral("json_group_array(json_array(h.host, h.note))");
    case EngineSql::CommaList:
        return QStringLiteral("group_concat(address)");
    case EngineSql::StoredCount:
        return QStringLiteral("SELECT COUNT(*) FROM hosts WHERE host >= ? AND host < ? "
                              "AND CAST(CAST(substr(host, ?) AS INTEGER) AS TEXT) = substr(host, ?) "
                              "AND CAST(substr(host, ?) AS INTEGER) BETWEEN ? AND ?");
    case EngineSql::DataVersion:
        return QStringLiteral("PRAGMA data_version");
    case EngineSql::TextMatch:
        return QStringLiteral("%1 GLOB ?");
    case EngineSql::HoldsText:
        return QStringLiteral("instr(%1, ?) > 0");
    case EngineSql::AddedOrder:
        return QString(); // rowid order, whatever index picks the rows
    case EngineSql::AddChanges:
        // A flat array, nine values an entry, read in one pass: SQLite parses the value of each
        // json_extract again.
        return QStringLiteral("INSERT INTO change_log (changed_at, who, operation, what, subnet, name, host, old_text, "
                              "new_text, first_address, last_address, search) SELECT ?, ?, ?, MAX(CASE key % 9 WHEN 0 "
                              "THEN value END), MAX(CASE key % 9 WHEN 1 THEN value END), MAX(CASE key % 9 WHEN 2 THEN "
                              "value END), MAX(CASE key % 9 WHEN 3 THEN value END), MAX(CASE key % 9 WHEN 4 THEN value "
                              "END), MAX(CASE key % 9 WHEN 5 THEN value END), MAX(CASE key % 9 WHEN 6 THEN value END), "
                              "MAX(CASE key % 9 WHEN 7 THEN value END), MAX(CASE key % 9 WHEN 8 THEN value END) "
                              "FROM json_each(?) GROUP BY key / 9 ORDER BY key / 9");
    }
    return {};
}

QStringList SqliteEngine::historyTables() const
{
    return { QStringLiteral("CREATE TABLE IF NOT EXISTS scans (id integer primary key, subnet text, method text, "
                            "port int, started text, ended text, probed int, answered int)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS scans_by_subnet ON scans (subnet, id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS scan_answers (scan int, address int, PRIMARY KEY (scan, address)) "
                       "WITHOUT ROWID"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS sightings (address integer primary key, first_seen text, "
                       "first_method text, first_port int, last_seen text, last_method text, last_port int)") };
}

QStringList SqliteEngine::changeLogStatements() const
{
    if (!logAttached)
        return {};
    return { QStringLiteral(
                 "CREATE TABLE IF NOT EXISTS %1.change_log (id integer primary key, changed_at text, who text, "
                 "what text, operation integer, subnet text, name text, host text, old_text text, "
                 "new_text text, first_address integer, last_address integer, search text)")
                 .arg(logSchema),
        // The text with the operation: a filter by a rare text reads the index alone, newest first.
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1.change_log_by_operation_text ON change_log (operation, search)")
            .arg(logSchema),
        QStringLiteral("DROP INDEX IF EXISTS %1.change_log_by_operation").arg(logSchema),
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1.change_log_of_rows ON change_log (subnet) WHERE host = ''")
            .arg(logSchema),
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1.change_log_by_host ON change_log (host)").arg(logSchema),
        QStringLiteral("CREATE INDEX IF NOT EXISTS %1.change_log_by_address ON change_log (first_address)")
            .arg(logSchema),
        // In the file of the changes: a change and its entries are written in one file's commit.
        QStringLiteral("CREATE TABLE IF NOT EXISTS main.change_log_pending (id integer primary key, changed_at text, "
                       "who text, entries blob)") };
}

} // namespace

std::unique_ptr<Engine> sqliteEngine(const QString& file)
{
    return std::make_unique<SqliteEngine>(file.isEmpty() ? databaseFilePath() : file);
}
