#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>
#include <QVector>

#include <stdexcept>

// SQLite primary result codes that callers tell apart.
namespace sqlite {
enum Code { Ok = 0, Error = 1, Busy = 5, Locked = 6, ReadOnly = 8, Corrupt = 11, Constraint = 19, NotADb = 26 };
}

// The outcome of one statement: every row already read, so no read lock is left behind.
struct SqlResult {
    QVector<QVariantList> rows;
    int code = sqlite::Ok; // SQLite primary result code; Ok on success
    QString errorText;

    bool ok() const { return code == sqlite::Ok; }
    bool isConstraint() const { return code == sqlite::Constraint; }
};

// Thrown when a DB cannot be opened or its schema prepared.
class DbOpenError : public std::runtime_error {
public:
    DbOpenError(const QString& file, const QString& text);
    QString file;
    QString text;
};

// One connection to the database file, with the schema prepared and the file compacted.
// Every owner builds its own; the connection is removed when the object goes.
class DB {
public:
    explicit DB(const QString& file = QString()); // empty: the data directory's subnets.db
    ~DB();
    DB(const DB&) = delete;
    DB& operator=(const DB&) = delete;

    // Runs one statement with "?" values bound in order, reads all rows and finishes it.
    SqlResult run(const QString& sql, const QVariantList& params = {});

    bool transaction();
    bool commit();
    bool rollback();
    QString fileName() const { return conn.databaseName(); }
    QString lastErrorText() const; // of the connection: a failed begin, commit or rollback

    QSqlDatabase conn;
    QSqlQuery c;

private:
    void prepareSchema();
    QString connectionName;
};

// The primary result code of a failed Qt SQL operation.
int primaryCode(const QSqlError& error);
