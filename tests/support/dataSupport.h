#pragma once

#include "db/DB.h"

#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVector>

#include <thread>

// A fresh data directory for one test; ZARVIN_SUBNETS_DIR names it while the object lives. With
// ZARVIN_TEST_ENGINE=postgresql the database is a fresh one on the test server (pgServer.h) that
// ZARVIN_DATABASE names meanwhile, and the directory holds the settings alone.
class TempDataDir {
public:
    TempDataDir();
    ~TempDataDir();
    QString path() const { return dir.path(); }
    QString dbPath() const { return dir.filePath(QStringLiteral("subnets.db")); }
    QString settingsPath() const { return dir.filePath(QStringLiteral("install")); }

    // The URI of the server database, empty on the file.
    QString databaseUrl() const { return url; }

private:
    QTemporaryDir dir;
    QByteArray previous, previousUrl;
    bool hadPrevious, hadPreviousUrl;
    QString url;
};

// Whether the tests run on the server.
bool onServer();

// While it lives, the server database of `dir` is reached as a role that may only read it, or as
// an editor that may read and write every table but create nothing (no grant on any sequence).
class ServerRole {
public:
    enum Kind { Viewer, Editor };
    ServerRole(const TempDataDir& dir, Kind kind);
    // The same for any database of the test server, by its URI.
    ServerRole(const QString& databaseUrl, Kind kind);
    ~ServerRole();
    bool made() const { return granted; }

private:
    QByteArray previous;
    bool granted = false;
};

// A file's bytes (empty when it cannot be read), their SHA-256, and a file written whole; false when
// it cannot be.
QByteArray fileBytes(const QString& path);
QByteArray fileHash(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);
// A shell script that its owner may run.
bool writeScript(const QString& path, const QByteArray& text);

// While it lives, PATH finds `name` first: a shell script of `body` that notes each call's
// arguments as a line of log() (`body` may write there too, as "$log"). With `alone` PATH holds
// nothing else, and an empty body leaves no `name` at all.
class CommandStandIn {
public:
    CommandStandIn(const QString& name, const QByteArray& body, bool alone = false);
    ~CommandStandIn();
    QString log() const { return dir.filePath(QStringLiteral("calls")); }

private:
    QTemporaryDir dir;
    QByteArray path;
};

// Children of this process not yet reaped, as the kernel sees them; -1 when it cannot tell.
int childCount();

// A connection of its own to a database file, to check what another connection stored; for the
// data directory's file while the tests run on the server, to the test's server database.
class DbProbe {
public:
    explicit DbProbe(const QString& file);
    ~DbProbe();
    QVector<QVariantList> rows(const QString& sql, const QVariantList& params = {});
    // The same rows as text: cells joined by "|", NULL shown as "NULL".
    QStringList lines(const QString& sql, const QVariantList& params = {});
    // Runs a writing statement; fails the test when it does not succeed.
    bool exec(const QString& sql, const QVariantList& params = {});
    // Runs `sql` once for each row of parameters; false from the first that fails.
    bool execEach(const QString& sql, const QVector<QVariantList>& rows);
    // Rows of the tree as (id, name, subnet, parent_id, parent_subnet); hosts as (subnet, host, note).
    // Written as an older file may hold them: the database's own rules (its triggers) are lifted
    // meanwhile, so a host without its tree row or an orphan branch can be set up.
    bool addSubnets(const QVector<QVariantList>& rows);
    bool addHosts(const QVector<QVariantList>& rows);
    bool execEachBesideRules(const QString& sql, const QVector<QVariantList>& rows);
    // The tree as name|subnet|parent's subnet through parent_id|parent_subnet|parent_id IS NULL, then
    // the hosts as subnet|host|note, each in id order.
    QStringList inventory();

    bool isServer() const { return server; }

private:
    bool execBesideServerRules(const QString& sql, const QVector<QVariantList>& rows);

    QString name;
    bool server = false;
};

// Another connection, on a thread of its own, takes the write lock of `file` when built and commits
// `ms` milliseconds later; the object's end waits for that.
class WriteLockHolder {
public:
    // `change`: statements it runs once it holds the lock, committed with the release.
    WriteLockHolder(const QString& file, int ms, const QStringList& change = {});
    ~WriteLockHolder();
    bool taken() const { return took; }

private:
    std::thread holder;
    bool took = false;
};

// While one lives, databases opened give up on another connection's lock after `ms` instead of
// 5 s: for tests that wait a lock out.
struct ShortBusyTimeout {
    explicit ShortBusyTimeout(int ms = 300) { DB::setDefaultBusyTimeout(ms); }
    ~ShortBusyTimeout() { DB::setDefaultBusyTimeout(5000); }
};
