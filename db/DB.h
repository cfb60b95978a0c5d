#pragma once

#include "db/engine.h"
#include "db/sqlResult.h"

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// One connection to the database (the file, or the server the settings name), with the schema
// prepared, and a file checked for damage and compacted (when it is free and writable). Every
// owner builds its own; the connection is removed when the object goes. Building one never
// throws: a database that cannot be opened, checked or prepared leaves status() failed, and every
// statement then fails with that text.
class QSqlError;
class QTimer;

// A failed operation of Qt's SQLite driver as a Status: its text and the SQLite primary result
// code (never ok). A DB's own statements go through DB::failure, which knows its engine.
Status statusOf(const QSqlError& error);

class DB {
public:
    // Empty: the configured database (Engine::chosen), by default the data directory's subnets.db.
    explicit DB(const QString& file = QString());
    ~DB();

    DB(const DB&) = delete;
    DB& operator=(const DB&) = delete;

    // Ok once the file is open with its schema prepared; else why not.
    const Status& status() const { return openStatus; }
    QString fileName() const;
    // Where the data is, for the user: the file's name, or "database на server".
    QString location() const;
    const Engine& engine() const { return *eng; }
    Engine& engine() { return *eng; }
    // A failed statement of this connection as a Status; a lost server connection is noted, and
    // opened again at the next statement outside a transaction.
    Status failure(const QSqlError& error);
    // A value as it is bound to a statement, so that the stored text is the text given: a null
    // text becomes the empty text (the system never stores a typed text as NULL), and whatever
    // the engine itself would change is protected.
    QVariant bound(const QVariant& value) const;

    // Runs one statement with "?" values bound in order, reads all rows and finishes it.
    // A null text is bound as the empty text: the system never stores a typed text as NULL.
    SqlResult run(const QString& sql, const QVariantList& params = {});
    // The same, for a statement run again and again with other values: it is prepared once for
    // the connection, and a server reads it once rather than at each run.
    SqlResult runKept(const QString& sql, const QVariantList& params);
    // A query of its own on this connection, for a statement prepared once and run many times
    // or rows read as they come; whoever holds it finishes it before returning to the user.
    QSqlQuery newQuery() const { return QSqlQuery(conn); }
    // Run `work` in one transaction: committed when it returns ok, else rolled back, and rolled
    // back too when the commit itself fails, so no transaction (and no lock) outlives the call.
    // The write form takes the write lock before `work` reads anything: no other connection can
    // write between a check and the write it allows, and a busy file is waited for at the start
    // rather than refused when a read turns into a write. Called inside another transaction,
    // `work` simply joins it. On a server the writers of the program take one lock first, and a
    // transaction that the server ends for a lost serialization race or a deadlock runs again.
    Status writeTransaction(const std::function<Status()>& work);
    Status readTransaction(const std::function<Status()>& work);
    // Runs the statements with the same values in one write transaction: all, or none.
    SqlResult runTogether(const QStringList& statements, const QVariantList& params = {});

    // The full integrity check, run at the first construction on a file in each run: ok, or why
    // the file must not be written (damaged, in use by another program, unreadable). Whatever
    // replaces the content (a restore, an import) runs it again first.
    Status checkIntegrity();

    // How long a statement waits for another connection's lock before it fails with BUSY: 5 s
    // unless changed for every later construction (tests that wait out a lock shorten it).
    static void setDefaultBusyTimeout(int ms);
    // While one lives, statements of this connection do not wait for locks at all: for steps
    // that can be put off rather than hold a window up.
    class NoWaiting {
    public:
        explicit NoWaiting(DB& db);
        ~NoWaiting();
        NoWaiting(const NoWaiting&) = delete;
        NoWaiting& operator=(const NoWaiting&) = delete;

    private:
        DB& db;
    };

    // The database could not be written when the object was built: every write will fail.
    bool isReadOnly() const { return readOnly; }

    // What a caller found out about the database and may take for granted on this connection
    // until a statement finds a table missing or the connection is lost: that a table of the
    // program's own is there, asked at every command, costs a round trip on a server.
    bool knows(const QString& fact) const;
    void learn(const QString& fact);

    // `work` run on this connection once the event loop is idle (and `ms` have passed) with no
    // transaction open, out of the way of the command that asked for it; asked again before
    // then, it runs once. What is still put off when the object goes runs then.
    void putOff(const std::function<void(DB&)>& work, int ms = 0);

private:
    bool reuseKept();
    bool keep();
    Status transaction(const QStringList& begin, const std::function<Status()>& work);
    Status transactionOnce(const QStringList& begin, const std::function<Status()>& work);
    Status reconnectWhenLost();
    Status usable();
    SqlResult finished(QSqlQuery& q, bool ok);
    void close();
    void runPutOff();

    std::unique_ptr<Engine> eng;
    QSqlDatabase conn;
    QSqlQuery cursor; // the one query of run(), shared by its statements
    QHash<QString, QSqlQuery> kept; // runKept()'s, by their texts
    QString connectionName;
    Status openStatus;
    bool readOnly = false;
    bool inTransaction = false;
    bool lost = false; // the server connection failed; opened again at the next statement
    int busyTimeout;
    QSet<QString> learnt;
    std::function<void(DB&)> putOffWork;
    std::unique_ptr<QTimer> putOffTimer;
};
