#include "db/DB.h"

#include "db/dataAccess.h"
#include "db/dataDir.h"
#include "db/historySchema.h"
#include "db/treeRules.h"

#include <QAtomicInt>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <QSqlRecord>

#include <sys/stat.h>

namespace sqlite {

// Kept as is, EMPTY and IOERR included: the migration failures the program has always let pass.
bool isOperational(int code)
{
    switch (code) {
    case 1: // ERROR
    case 3: // PERM
    case 4: // ABORT
    case 5: // BUSY
    case 6: // LOCKED
    case 8: // READONLY
    case 9: // INTERRUPT
    case 10: // IOERR
    case 13: // FULL
    case 14: // CANTOPEN
    case 15: // PROTOCOL
    case 16: // EMPTY
    case 17: // SCHEMA
        return true;
    default:
        return false;
    }
}

} // namespace sqlite

namespace {

// A compaction that fails for one of these is put off to a later construction: the file is
// in use (BUSY, LOCKED), cannot be written (READONLY) or the disk is full (FULL). An IOERR is
// not among them: SQLite reports a full disk as FULL, and an IOERR means the device failed.
bool isVacuumPutOff(int code)
{
    return code == sqlite::Busy || code == sqlite::Locked || code == sqlite::ReadOnly || code == sqlite::Full;
}

QAtomicInt connectionCounter;
QAtomicInt defaultBusyTimeout = 5000;

QString busyTimeoutPragma(int ms)
{
    return QStringLiteral("PRAGMA busy_timeout = %1").arg(ms);
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

Status failure(const QSqlError& error)
{
    return treeRules::explained(Status::failure(error.text(), primaryCode(error)));
}

} // namespace

Status statusOf(const QSqlError& error)
{
    // Never ok: a statement that did not run fails even when Qt recorded no error.
    const int code = primaryCode(error);
    return treeRules::explained(Status::failure(error.text(), code == sqlite::Ok ? sqlite::Error : code));
}

DB::DB(const QString& file)
    : connectionName(QStringLiteral("zarvin-db-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
    , busyTimeout(defaultBusyTimeout.loadRelaxed())
{
    conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    conn.setDatabaseName(file.isEmpty() ? databaseFilePath() : file);
    conn.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeout));
    openStatus = openDatabaseFile(conn);
    if (!openStatus.ok())
        return;
    c = QSqlQuery(conn);
    openStatus = prepareSchema();
    if (!openStatus.ok())
        close();
}

DB::~DB()
{
    close();
    conn = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

QString DB::fileName() const
{
    return conn.databaseName();
}

void DB::close()
{
    forgetCheck();
    c = QSqlQuery();
    conn.close();
}

// Before anything is written: a damaged file is refused as it is, not compacted with its
// damage kept, and a damaged index cannot send a write to another row. A file in use by another
// program is not damaged: that is said apart, so nobody restores a sound file from a backup.
Status DB::checkIntegrity()
{
    const SqlResult r = run(QStringLiteral("PRAGMA integrity_check"));
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

// The full check reads every page: a file is checked when the first object of the run opens
// it, and not again while any object keeps it open (the main window keeps its own for the whole
// run), so later windows open at the cost of the compaction alone. Whatever replaces the content
// checks again. An open file keeps its identity: a file put in its place is checked anew.
namespace {
QMutex openFilesMutex;
QHash<QString, int> openFiles; // device:inode -> objects that hold it open and found it sound
} // namespace

Status DB::checkIntegrityOnce()
{
    struct stat st { };
    if (::stat(QFile::encodeName(fileName()).constData(), &st) != 0)
        return checkIntegrity();
    const QString identity = QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino);
    {
        const QMutexLocker lock(&openFilesMutex);
        if (openFiles.value(identity) > 0) {
            ++openFiles[identity];
            checkedIdentity = identity;
            return {};
        }
    }
    const Status verdict = checkIntegrity();
    if (verdict.ok()) {
        const QMutexLocker lock(&openFilesMutex);
        ++openFiles[identity];
        checkedIdentity = identity;
    }
    return verdict;
}

void DB::forgetCheck()
{
    if (checkedIdentity.isEmpty())
        return;
    const QMutexLocker lock(&openFilesMutex);
    if (--openFiles[checkedIdentity] <= 0)
        openFiles.remove(checkedIdentity);
    checkedIdentity.clear();
}

Status DB::prepareSchema()
{
    if (const Status checked = checkIntegrityOnce(); !checked.ok())
        return checked;
    for (const QString& sql :
        { QStringLiteral("CREATE TABLE IF NOT EXISTS subnets (id integer primary key, subnet text UNIQUE, "
                         "parent_id int, parent_subnet text, name text)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS hosts (id integer primary key, subnet text, host text UNIQUE, "
                           "note text)") }) {
        const SqlResult created = run(sql);
        if (!created.ok())
            return created;
    }
    // Fails on every file that already has the column; only a broken file is fatal here.
    const SqlResult alter = run(QStringLiteral("ALTER TABLE hosts ADD COLUMN note text"));
    if (!alter.ok() && !sqlite::isOperational(alter.code))
        return alter;
    // Not part of any table: counting a subnet's hosts and loading its list read it.
    if (const SqlResult indexed = run(QStringLiteral("CREATE INDEX IF NOT EXISTS hosts_by_subnet ON hosts (subnet)"));
        !indexed.ok() && !isVacuumPutOff(indexed.code))
        return indexed;
    if (const SqlResult history = historySchema::prepare(*this); !history.ok())
        return history;
    if (const SqlResult rules = treeRules::prepare(*this); !rules.ok())
        return rules;
    // Compacting can wait for a later construction; the window need not wait out the busy
    // time-out for it while another program reads the file.
    const SqlResult vacuum = [this] {
        const NoWaiting quick(*this);
        return run(QStringLiteral("VACUUM"));
    }();
    if (!vacuum.ok() && !isVacuumPutOff(vacuum.code))
        return vacuum;
    readOnly = vacuum.code == sqlite::ReadOnly; // the file opens for viewing only
    return {};
}

QVariant boundValue(const QVariant& value)
{
    if (value.type() != QVariant::String)
        return value;
    const QString text = value.toString();
    if (text.isNull())
        return QStringLiteral("");
    if (text.startsWith(QChar(0xfeff)) || text.startsWith(QChar(0xfffe)))
        return QChar(0xfeff) + text;
    return value;
}

SqlResult DB::run(const QString& sql, const QVariantList& params)
{
    if (!conn.isOpen())
        return openStatus.ok() ? Status::failure(QStringLiteral("database is not open")) : openStatus;
    SqlResult result;
    c.setForwardOnly(true);
    bool ok = c.prepare(sql);
    if (ok) {
        for (const QVariant& value : params)
            c.addBindValue(boundValue(value));
        ok = c.exec();
    }
    if (ok) {
        const int columns = c.record().count();
        while (c.next()) {
            QVariantList row;
            row.reserve(columns);
            for (int i = 0; i < columns; ++i)
                row << c.value(i);
            result.rows << row;
        }
        // A row-reading failure surfaces as an error after next() returns false.
        if (c.lastError().type() != QSqlError::NoError)
            ok = false;
    }
    if (!ok)
        result = failure(c.lastError());
    c.finish();
    return result;
}

void DB::setDefaultBusyTimeout(int ms)
{
    defaultBusyTimeout.storeRelaxed(ms);
}

// A pragma that fails leaves the wait as it was: a slower window at worst, never a wrong result.
DB::NoWaiting::NoWaiting(DB& owner)
    : db(owner)
{
    (void)db.run(busyTimeoutPragma(0));
}

DB::NoWaiting::~NoWaiting()
{
    (void)db.run(busyTimeoutPragma(db.busyTimeout));
}

SqlResult DB::runTogether(const QStringList& statements, const QVariantList& params)
{
    return writeTransaction([&] {
        SqlResult r;
        for (int i = 0; i < statements.size() && r.ok(); ++i)
            r = run(statements.at(i), params);
        return Status(r);
    });
}

Status DB::writeTransaction(const std::function<Status()>& work)
{
    return transaction(QStringLiteral("BEGIN IMMEDIATE"), work);
}

Status DB::readTransaction(const std::function<Status()>& work)
{
    return transaction(QStringLiteral("BEGIN"), work);
}

Status DB::transaction(const QString& begin, const std::function<Status()>& work)
{
    if (inTransaction)
        return work();
    if (const SqlResult begun = run(begin); !begun.ok())
        return begun;
    inTransaction = true;
    Status done = work();
    if (done.ok())
        done = run(QStringLiteral("COMMIT"));
    // A failed COMMIT keeps the transaction and its locks; some failures inside `work` have
    // ended it already, and then this ROLLBACK fails harmlessly.
    if (!done.ok())
        (void)run(QStringLiteral("ROLLBACK"));
    inTransaction = false;
    return done;
}
