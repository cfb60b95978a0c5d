#pragma once

#include "db/sqlResult.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

class DB;
class QObject;
class QSqlDatabase;
class QSqlError;

// The statements whose text differs between the engines; every other statement has one text.
enum class EngineSql {
    ReturningId, // appended to an INSERT: it returns the id it assigned (nothing on the file)
    LastInsertedId, // the id that the last INSERT of this connection assigned, where ReturningId gave none
    NumberTable, // for "FROM %1": table `j` with column `value`, the numbers of one bound JSON array
    PairTable, // for "FROM %1": table `j` with texts `first`, `second` and place `n`, of one bound JSON array of pairs
    AddScanAnswers, // (scan, JSON array of addresses in ascending order, each once)
    AddSightings, // (first seen, method, port, last seen, method, port, scan): its answers' sightings
    AsBytes, // the one value of the statement %1, read as UTF-8 bytes (QVariant::toByteArray)
    TextBytes, // the text expression %1 as its UTF-8 bytes, a column of a longer select
    HostNotePairs, // aggregate over table `h`: a JSON array of [host, note] pairs
    CommaList, // aggregate: the numbers of column `address` as one text joined by commas
    StoredCount, // counting a /24 part's canonical addresses (hosts/hostSpace.cpp binds its values)
    DataVersion, // one value that changes when another connection has changed the data
    TextMatch, // column %1 matches the one bound pattern (made by Engine::pattern)
    HoldsText, // column %1 holds the one bound text, case and all
    AddedOrder, // appended to a SELECT of one table: its rows in the order they were added
    AddChanges, // (time, who, operation, JSON array of nine values an entry): db/changeLog.cpp
};

// How a database keeps its scan history (db/historySchema.h): not yet, one row an address (the
// file's tables), or by blocks of 256 addresses (a server's, db/historyBlocks.h).
enum class HistoryLayout { None, Rows, Blocks };

// The key of the lock that the program's writers on a server take first, so that they follow one
// another as writers of the file do.
constexpr qint64 writersLockKey = 0x7a617276696e; // "zarvin"

// What differs between the embedded SQLite file and a PostgreSQL server, in one place per
// engine. DB holds one; callers reach it through DB and never ask which engine runs.
class Engine {
public:
    virtual ~Engine() = default;

    // ZARVIN_DATABASE, else Database/url of the settings file: a PostgreSQL URI, or empty for
    // the SQLite file.
    static QString configuredUrl();
    // The engine for `file` when one is given, else the configured one (the data directory's
    // file when nothing is configured).
    static std::unique_ptr<Engine> chosen(const QString& file);

    virtual QString driverName() const = 0;
    virtual bool isServer() const = 0;
    // Opens `conn` (added with driverName()) with statements waiting `waitMs` for locks.
    virtual Status open(QSqlDatabase& conn, int waitMs) = 0;
    // Creates what is missing, checks and compacts where the engine does that; `readOnly` is
    // set when this connection can change nothing.
    virtual Status prepareSchema(DB& db, bool& readOnly) = 0;
    virtual Status checkIntegrity(DB& db) = 0;
    virtual QString location(const QSqlDatabase& conn) const = 0;
    // What a connection is made for (server, database, role), under which a finished database
    // object's connection is kept open for the next one; empty where none is kept (a file's is
    // cheap to open, and is checked as it opens).
    virtual QString keptConnectionKey() const { return {}; }
    // The connection is closing.
    virtual void closed() { }

    // The statements that begin a transaction that writes (after the first, the transaction is
    // open), and the one that begins a transaction that only reads.
    virtual QStringList beginWrite() const = 0;
    virtual QString beginRead() const = 0;
    virtual QString waitFor(int ms) const = 0;
    // Whether a statement without values can be prepared (a server prepares only queries).
    virtual bool preparesEverything() const = 0;
    // A failed statement ends a server's transaction: a statement that may fail on purpose runs
    // inside a savepoint there.
    virtual bool needsSavepoints() const = 0;
    // Whether many rows are written by a few statements over bound JSON arrays rather than one
    // statement each: on a server every statement costs round trips.
    virtual bool writesRowsTogether() const = 0;
    // Whether a TextMatch pattern that begins with a set of characters is matched as quickly as
    // one that begins with a plain character (SQLite's GLOB is not: a search there runs one
    // pattern for each character of the set).
    virtual bool matchesSetsQuickly() const = 0;
    // Whether the driver itself tells the id a prepared INSERT assigned (else ReturningId).
    virtual bool reportsInsertedId() const = 0;

    virtual Status failure(const QSqlError& error) const = 0;
    virtual QVariant bound(const QVariant& value) const = 0;
    // The statement with its "?" values (already bound()) written in as literals, to be run as
    // it is: a server runs it in one round trip where a prepared statement costs three. Empty
    // where the statement is to be prepared and its values bound; failed for a value that no
    // statement of this engine can carry.
    virtual Result<QString> withValues(const QSqlDatabase&, const QString&, const QVariantList&) const
    {
        return QString();
    }
    virtual QString text(EngineSql which) const = 0;
    // A GLOB pattern of tree/inventorySearch.cpp (plain characters, "[...]" sets, "*") in the
    // form EngineSql::TextMatch takes.
    virtual QString pattern(const QString& glob) const = 0;

    virtual bool hasTables(DB& db, const QStringList& tables) const = 0;
    virtual QStringList historyTables() const = 0;
    virtual HistoryLayout historyLayout(DB& db) const = 0;
    // The layout that historyTables() makes, folding an earlier one into it.
    virtual HistoryLayout historyLayoutMade() const = 0;
    virtual QStringList ruleStatements() const = 0;
    virtual bool hasRules(DB& db) const = 0;

    // Whether the database itself tells a listening connection that data changed; where it does
    // not, a watcher asks EngineSql::DataVersion from time to time.
    virtual bool notifies() const { return false; }
    // Makes `conn` listen: `changed` runs after others' commits, `lost` once the connection is
    // gone. What listens is a child of `owner`, which goes before the connection closes.
    virtual Status listen(QSqlDatabase&, QObject*, const std::function<void()>&, const std::function<void()>&)
    {
        return Status::failure(QStringLiteral("no notifications"));
    }
    // Table `change_log` and its indexes (the operations, the hosts, and the tree rows' entries
    // alone: a host's entry costs no index of rows); on a server also the triggers that enter other
    // clients' changes (db/changeLog.h).
    virtual QStringList changeLogStatements() const = 0;
};

// Engines made by Engine::chosen.
std::unique_ptr<Engine> sqliteEngine(const QString& file);
std::unique_ptr<Engine> postgresEngine(const QString& url);
// Sets host, port, database, user and other parameters of a libpq URI on a QPSQL connection; a
// password in the URI is not used (libpq's own sources give it). Fails on a malformed URI.
Status configurePostgres(QSqlDatabase& conn, const QString& url);
