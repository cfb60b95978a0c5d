#include "db/DB.h"

#include "db/dataDir.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlRecord>

namespace {

QAtomicInt connectionCounter;

// Failures of the note migration that mean "nothing to do here" rather than a broken file.
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

SqlResult failure(const QSqlError& error)
{
    SqlResult r;
    r.code = primaryCode(error);
    r.errorText = error.text();
    return r;
}

} // namespace

DbOpenError::DbOpenError(const QString& file, const QString& text)
    : std::runtime_error((file + QStringLiteral(": ") + text).toStdString())
    , file(file)
    , text(text)
{ }

DB::DB(const QString& file)
    : connectionName(QStringLiteral("zarvin-db-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    const QString path = file.isEmpty() ? databaseFilePath() : file;
    conn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    conn.setDatabaseName(path);
    conn.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    try {
        if (!conn.open())
            throw DbOpenError(path, conn.lastError().text());
        c = QSqlQuery(conn);
        prepareSchema();
    } catch (...) {
        c = QSqlQuery();
        conn.close();
        conn = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        throw;
    }
}

DB::~DB()
{
    c = QSqlQuery();
    conn.close();
    conn = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

void DB::prepareSchema()
{
    const auto must = [this](const QString& sql) {
        const SqlResult r = run(sql);
        if (!r.ok())
            throw DbOpenError(conn.databaseName(), r.errorText);
    };
    must(QStringLiteral("CREATE TABLE IF NOT EXISTS subnets (id integer primary key, subnet text UNIQUE, "
                        "parent_id int, parent_subnet text, name text)"));
    must(QStringLiteral("CREATE TABLE IF NOT EXISTS hosts (id integer primary key, subnet text, host text UNIQUE, "
                        "note text)"));
    // Fails on every file that already has the column; only a broken file is fatal here.
    const SqlResult alter = run(QStringLiteral("ALTER TABLE hosts ADD COLUMN note text"));
    if (!alter.ok() && !isOperational(alter.code))
        throw DbOpenError(conn.databaseName(), alter.errorText);
    // Not part of any table: counting a subnet's hosts and loading its list read it.
    must(QStringLiteral("CREATE INDEX IF NOT EXISTS hosts_by_subnet ON hosts (subnet)"));
    must(QStringLiteral("VACUUM"));
}

SqlResult DB::run(const QString& sql, const QVariantList& params)
{
    SqlResult result;
    c.setForwardOnly(true);
    bool ok = c.prepare(sql);
    if (ok) {
        for (const QVariant& value : params)
            c.addBindValue(value.type() == QVariant::String && value.toString().isNull() ? QStringLiteral("") : value);
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

SqlResult DB::runTogether(const QStringList& statements, const QVariantList& params)
{
    if (!conn.transaction())
        return failure(conn.lastError());
    for (const QString& sql : statements) {
        const SqlResult r = run(sql, params);
        if (!r.ok()) {
            conn.rollback();
            return r;
        }
    }
    if (!conn.commit()) {
        const SqlResult r = failure(conn.lastError());
        conn.rollback();
        return r;
    }
    return {};
}

bool DB::transaction()
{
    return conn.transaction();
}

bool DB::commit()
{
    return conn.commit();
}
