#include "db/DB.h"

#include "db/treeRules.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QSqlError>
#include <QSqlRecord>
#include <QTimer>
#include <QVector>

#include <utility>

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

QAtomicInt connectionCounter;
QAtomicInt defaultBusyTimeout = 5000;

// How often a server transaction that lost a serialization race or a deadlock is run again.
constexpr int attempts = 4;

// Server connections of finished database objects, open for the next object: a server starts a
// process for each connection and compiles its trigger functions anew in each, which cost a new
// window more than what it reads. Every database object lives in the main thread.
struct KeptConnection {
    QString key, name;
    bool readOnly;
};
constexpr int connectionsKeptAtMost = 2;

QVector<KeptConnection>& keptConnections()
{
    static QVector<KeptConnection> all;
    return all;
}

void removeConnection(const QString& name)
{
    QSqlDatabase::database(name, false).close();
    QSqlDatabase::removeDatabase(name);
}

// Those kept for another database than the one now configured are of no more use: after a
// switch to another server, the old one would otherwise keep serving them until the program ends.
void closeKeptConnections(const QString& exceptFor)
{
    QVector<KeptConnection>& all = keptConnections();
    for (int i = all.size() - 1; i >= 0; --i)
        if (all.at(i).key != exceptFor)
            removeConnection(all.takeAt(i).name);
}

// Before the application goes, and the SQL drivers with it: every kept one (none has an empty key).
void closeKeptConnections()
{
    closeKeptConnections(QString());
}

} // namespace

Status statusOf(const QSqlError& error)
{
    // Never ok: a statement that did not run fails even when Qt recorded no error.
    return treeRules::explained(sqliteEngine(QStringLiteral("-"))->failure(error));
}

DB::DB(const QString& file)
    : eng(Engine::chosen(file))
    , busyTimeout(defaultBusyTimeout.loadRelaxed())
{
    if (file.isEmpty())
        closeKeptConnections(eng->keptConnectionKey());
    if (reuseKept())
        return;
    connectionName = QStringLiteral("zarvin-db-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    conn = QSqlDatabase::addDatabase(eng->driverName(), connectionName);
    openStatus = eng->open(conn, busyTimeout);
    if (!openStatus.ok())
        return;
    cursor = QSqlQuery(conn);
    openStatus = eng->prepareSchema(*this, readOnly);
    if (!openStatus.ok())
        close();
}

DB::~DB()
{
    if (putOffWork && openStatus.ok())
        std::exchange(putOffWork, nullptr)(*this);
    if (keep())
        return;
    close();
    conn = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

// A kept connection made for the same, when one still answers; its schema was prepared by the
// object that opened it.
bool DB::reuseKept()
{
    const QString key = eng->keptConnectionKey();
    QVector<KeptConnection>& all = keptConnections();
    for (int i = all.size() - 1; i >= 0 && !key.isEmpty(); --i) {
        if (all.at(i).key != key)
            continue;
        const KeptConnection k = all.takeAt(i);
        {
            QSqlDatabase candidate = QSqlDatabase::database(k.name, false);
            // This object's wait, which only a live connection answers.
            if (candidate.isOpen() && QSqlQuery(candidate).exec(eng->waitFor(busyTimeout))) {
                conn = candidate;
                connectionName = k.name;
                readOnly = k.readOnly;
                cursor = QSqlQuery(conn);
                return true;
            }
        }
        removeConnection(k.name);
    }
    return false;
}

// A sound server connection between transactions is kept for the next object.
bool DB::keep()
{
    const QString key = eng->keptConnectionKey();
    if (key.isEmpty() || !openStatus.ok() || lost || inTransaction || !conn.isOpen())
        return false;
    kept.clear();
    cursor = QSqlQuery();
    conn = QSqlDatabase();
    QVector<KeptConnection>& all = keptConnections();
    if (all.size() >= connectionsKeptAtMost)
        removeConnection(all.takeFirst().name);
    static const bool closedAtExit = (qAddPostRoutine(closeKeptConnections), true);
    (void)closedAtExit;
    all << KeptConnection { key, connectionName, readOnly };
    return true;
}

void DB::putOff(const std::function<void(DB&)>& work, int ms)
{
    putOffWork = work;
    if (!putOffTimer) {
        putOffTimer = std::make_unique<QTimer>();
        putOffTimer->setSingleShot(true);
        QObject::connect(putOffTimer.get(), &QTimer::timeout, [this] { runPutOff(); });
    }
    putOffTimer->start(ms);
}

// A modal window's event loop may turn inside a command's transaction: the work waits for its end.
void DB::runPutOff()
{
    if (inTransaction)
        putOffTimer->start(50);
    else if (putOffWork)
        std::exchange(putOffWork, nullptr)(*this);
}

QString DB::fileName() const
{
    return conn.databaseName();
}

QString DB::location() const
{
    return eng->location(conn);
}

void DB::close()
{
    eng->closed();
    kept.clear();
    cursor = QSqlQuery();
    conn.close();
}

Status DB::checkIntegrity()
{
    return eng->checkIntegrity(*this);
}

Status DB::failure(const QSqlError& error)
{
    const Status failed = treeRules::explained(eng->failure(error));
    lost = lost || failed.code == sqlite::Unreachable;
    // A table was dropped under the program: what it took for granted is asked again.
    if (lost || failed.errorText.startsWith(QLatin1String("no such table")))
        learnt.clear();
    return failed;
}

bool DB::knows(const QString& fact) const
{
    return learnt.contains(fact);
}

void DB::learn(const QString& fact)
{
    learnt.insert(fact);
}

// Only between transactions: one that the connection lost is over, and its work must fail whole.
Status DB::reconnectWhenLost()
{
    if (!lost || inTransaction)
        return {};
    kept.clear(); // the server forgot them with the connection
    cursor = QSqlQuery();
    conn.close();
    if (const Status opened = eng->open(conn, busyTimeout); !opened.ok())
        return opened;
    lost = false;
    cursor = QSqlQuery(conn);
    return {};
}

QVariant DB::bound(const QVariant& value) const
{
    if (value.type() != QVariant::String)
        return value;
    if (value.toString().isNull())
        return QStringLiteral("");
    return eng->bound(value);
}

Status DB::usable()
{
    if (!openStatus.ok())
        return openStatus;
    if (const Status back = reconnectWhenLost(); !back.ok())
        return back;
    if (!conn.isOpen())
        return Status::failure(QStringLiteral("database is not open"));
    return {};
}

SqlResult DB::run(const QString& sql, const QVariantList& params)
{
    if (const Status ready = usable(); !ready.ok())
        return ready;
    QVariantList values;
    values.reserve(params.size());
    for (const QVariant& value : params)
        values << bound(value);
    const Result<QString> written = values.isEmpty() ? Result<QString>(QString()) : eng->withValues(conn, sql, values);
    if (!written.ok())
        return Status(written);
    cursor.setForwardOnly(true);
    bool ok = true;
    if (!written.value.isEmpty()) {
        ok = cursor.exec(written.value);
    } else if (values.isEmpty() && !eng->preparesEverything()) {
        ok = cursor.exec(sql);
    } else {
        ok = cursor.prepare(sql);
        for (int i = 0; ok && i < values.size(); ++i)
            cursor.addBindValue(values.at(i));
        ok = ok && cursor.exec();
    }
    return finished(cursor, ok);
}

SqlResult DB::runKept(const QString& sql, const QVariantList& params)
{
    if (const Status ready = usable(); !ready.ok())
        return ready;
    auto it = kept.find(sql);
    if (it == kept.end()) {
        QSqlQuery q(conn);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            return finished(q, false);
        it = kept.insert(sql, q);
    }
    for (int i = 0; i < params.size(); ++i)
        it->bindValue(i, bound(params.at(i)));
    const bool ok = it->exec();
    return finished(*it, ok);
}

// Reads every row of the statement `q` ran (when `ok`), and finishes it.
SqlResult DB::finished(QSqlQuery& q, bool ok)
{
    SqlResult result;
    if (ok) {
        const int columns = q.record().count();
        while (q.next()) {
            QVariantList row;
            row.reserve(columns);
            for (int i = 0; i < columns; ++i)
                row << q.value(i);
            result.rows << row;
        }
        // A row-reading failure surfaces as an error after next() returns false.
        if (q.lastError().type() != QSqlError::NoError)
            ok = false;
    }
    if (!ok)
        result = failure(q.lastError());
    // Outside a transaction nothing runs it again: a lost race is a busy database.
    if (result.code == sqlite::Retry && !inTransaction)
        result.code = sqlite::Busy;
    q.finish();
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
    (void)db.run(db.eng->waitFor(0));
}

DB::NoWaiting::~NoWaiting()
{
    (void)db.run(db.eng->waitFor(db.busyTimeout));
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
    return transaction(eng->beginWrite(), work);
}

Status DB::readTransaction(const std::function<Status()>& work)
{
    return transaction({ eng->beginRead() }, work);
}

// A server may end a transaction that lost a serialization race or a deadlock; run whole again,
// it sees the other side's work.
Status DB::transaction(const QStringList& begin, const std::function<Status()>& work)
{
    if (inTransaction)
        return work();
    Status done;
    for (int i = 0; i < attempts; ++i) {
        done = transactionOnce(begin, work);
        if (done.code != sqlite::Retry)
            return done;
    }
    done.code = sqlite::Busy;
    return done;
}

Status DB::transactionOnce(const QStringList& begin, const std::function<Status()>& work)
{
    SqlResult begun = run(begin.first());
    // A server that restarted since the last command dropped the idle connection: nothing had
    // begun, so the connection is opened anew and the command goes ahead.
    if (begun.code == sqlite::Unreachable)
        begun = run(begin.first());
    if (!begun.ok())
        return begun;
    inTransaction = true;
    Status done;
    for (int i = 1; i < begin.size() && done.ok(); ++i)
        done = run(begin.at(i));
    if (done.ok())
        done = work();
    if (done.ok())
        done = run(QStringLiteral("COMMIT"));
    // A failed COMMIT keeps the transaction and its locks; some failures inside `work` have
    // ended it already, and then this ROLLBACK fails harmlessly.
    if (!done.ok())
        (void)run(QStringLiteral("ROLLBACK"));
    inTransaction = false;
    return done;
}
