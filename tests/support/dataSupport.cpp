#include "tests/support/dataSupport.h"

#include "db/dataDir.h"
#include "db/engine.h"
#include "tests/support/pgServer.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include <unistd.h>

namespace {

void restore(const char* name, bool had, const QByteArray& value)
{
    if (had)
        qputenv(name, value);
    else
        qunsetenv(name);
}

// The data directory's file stands for the server's database while the tests run there.
bool meansServer(const QString& file)
{
    return !qEnvironmentVariableIsEmpty("ZARVIN_DATABASE")
        && QFileInfo(file).absoluteFilePath() == QFileInfo(databaseFilePath()).absoluteFilePath();
}

void openProbe(QSqlDatabase& db, const QString& file, bool server)
{
    const Status set = server ? configurePostgres(db, qEnvironmentVariable("ZARVIN_DATABASE")) : Status();
    if (!server)
        db.setDatabaseName(file);
    if (!set.ok() || !db.open())
        qWarning("DbProbe: %s", qPrintable(db.lastError().text()));
    // The program reads its change log from a file beside the database: so does the probe.
    const QString log = changeLogFilePath(file);
    if (!server && QFileInfo::exists(log)) {
        QSqlQuery attach(db);
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS zarvin_log"));
        attach.addBindValue(log);
        if (!attach.exec())
            qWarning("DbProbe: %s", qPrintable(attach.lastError().text()));
    }
}

QString driverFor(bool server)
{
    return server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

} // namespace

bool onServer()
{
    return pgServer::wanted();
}

TempDataDir::TempDataDir()
    : previous(qgetenv("ZARVIN_SUBNETS_DIR"))
    , previousUrl(qgetenv("ZARVIN_DATABASE"))
    , hadPrevious(qEnvironmentVariableIsSet("ZARVIN_SUBNETS_DIR"))
    , hadPreviousUrl(qEnvironmentVariableIsSet("ZARVIN_DATABASE"))
{
    qputenv("ZARVIN_SUBNETS_DIR", dir.path().toUtf8());
    if (!onServer())
        return;
    url = pgServer::newDatabase();
    if (url.isEmpty())
        qFatal("TempDataDir: the test server gives no database");
    qputenv("ZARVIN_DATABASE", url.toUtf8());
}

TempDataDir::~TempDataDir()
{
    restore("ZARVIN_SUBNETS_DIR", hadPrevious, previous);
    restore("ZARVIN_DATABASE", hadPreviousUrl, previousUrl);
}

ServerRole::ServerRole(const TempDataDir& dir, Kind kind)
    : ServerRole(dir.databaseUrl(), kind)
{ }

ServerRole::ServerRole(const QString& databaseUrl, Kind kind)
    : previous(qgetenv("ZARVIN_DATABASE"))
{
    const QString database = databaseUrl.section(QLatin1Char('?'), 0, 0).section(QLatin1Char('/'), -1);
    const QString role = kind == Viewer ? QStringLiteral("zarvin_viewer") : QStringLiteral("zarvin_editor");
    granted = pgServer::exec(database,
        QStringLiteral("DO $$ BEGIN CREATE ROLE %1 LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$; GRANT "
                       "%2 ON ALL TABLES IN SCHEMA public TO %1")
            .arg(role, kind == Viewer ? QStringLiteral("SELECT") : QStringLiteral("SELECT, INSERT, UPDATE, DELETE")));
    qputenv("ZARVIN_DATABASE", pgServer::uri(database, role).toUtf8());
}

ServerRole::~ServerRole()
{
    qputenv("ZARVIN_DATABASE", previous);
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray fileHash(const QString& path)
{
    return QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha256);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

bool writeScript(const QString& path, const QByteArray& text)
{
    return writeFile(path, text) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

CommandStandIn::CommandStandIn(const QString& name, const QByteArray& body, bool alone)
    : path(qgetenv("PATH"))
{
    if (!body.isEmpty()
        && !writeScript(
            dir.filePath(name), "#!/bin/sh\nlog=" + log().toLocal8Bit() + "\necho \"$*\" >> \"$log\"\n" + body + "\n"))
        qWarning("cannot write the stand-in %s", qPrintable(name));
    qputenv("PATH", alone ? dir.path().toLocal8Bit() : dir.path().toLocal8Bit() + ':' + path);
}

CommandStandIn::~CommandStandIn()
{
    qputenv("PATH", path);
}

int childCount()
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(getpid()));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

DbProbe::DbProbe(const QString& file)
    : server(meansServer(file))
{
    static int counter = 0;
    name = QStringLiteral("test-probe-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(driverFor(server), name);
    openProbe(db, file, server);
}

DbProbe::~DbProbe()
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

namespace {

// A server prepares only queries: a statement without values runs as it is.
bool run(QSqlQuery& q, const QString& sql, const QVariantList& params)
{
    if (params.isEmpty())
        return q.exec(sql);
    q.prepare(sql);
    for (const QVariant& v : params)
        q.addBindValue(v);
    return q.exec();
}

} // namespace

QVector<QVariantList> DbProbe::rows(const QString& sql, const QVariantList& params)
{
    QVector<QVariantList> out;
    QSqlQuery q(QSqlDatabase::database(name));
    if (!run(q, sql, params))
        qWarning("DbProbe: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    while (q.next()) {
        QVariantList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i);
        out << row;
    }
    return out;
}

QStringList DbProbe::lines(const QString& sql, const QVariantList& params)
{
    QStringList out;
    for (const QVariantList& row : rows(sql, params)) {
        QStringList cells;
        for (const QVariant& v : row) // a server's truth values read as the file's numbers
            cells << (v.isNull()                 ? QStringLiteral("NULL")
                    : v.type() == QVariant::Bool ? QString::number(v.toInt())
                                                 : v.toString());
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

bool DbProbe::exec(const QString& sql, const QVariantList& params)
{
    QSqlQuery q(QSqlDatabase::database(name));
    const bool ok = run(q, sql, params);
    if (!ok)
        qWarning("DbProbe: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return ok;
}

bool DbProbe::execEach(const QString& sql, const QVector<QVariantList>& rows)
{
    for (const QVariantList& row : rows)
        if (!exec(sql, row))
            return false;
    return true;
}

bool DbProbe::addSubnets(const QVector<QVariantList>& rows)
{
    return execEachBesideRules(
        QStringLiteral("INSERT INTO subnets (id, name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?, ?)"),
        rows);
}

bool DbProbe::addHosts(const QVector<QVariantList>& rows)
{
    return execEachBesideRules(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"), rows);
}

bool DbProbe::execEachBesideRules(const QString& sql, const QVector<QVariantList>& values)
{
    if (server)
        return execBesideServerRules(sql, values);
    const QVector<QVariantList> triggers = rows(QStringLiteral("SELECT name, sql FROM sqlite_master WHERE type = "
                                                               "'trigger' AND name LIKE 'zarvin!_%' ESCAPE '!'"));
    bool ok = exec(QStringLiteral("BEGIN IMMEDIATE"));
    for (const QVariantList& t : triggers)
        ok = ok && exec(QStringLiteral("DROP TRIGGER ") + t.value(0).toString());
    ok = ok && execEach(sql, values);
    for (const QVariantList& t : triggers)
        ok = ok && exec(t.value(1).toString());
    return exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) && ok;
}

// The superuser lifts every trigger for its own transaction; ids given by hand move the
// identities on, as a restore does.
bool DbProbe::execBesideServerRules(const QString& sql, const QVector<QVariantList>& values)
{
    bool ok = exec(QStringLiteral("BEGIN")) && exec(QStringLiteral("SET LOCAL session_replication_role = replica"))
        && execEach(sql, values);
    for (const QString& table : { QStringLiteral("subnets"), QStringLiteral("hosts") })
        ok = ok
            && exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), coalesce(max(id), 0) + 1, false) "
                                   "FROM %1")
                        .arg(table));
    return exec(ok ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) && ok;
}

QStringList DbProbe::inventory()
{
    return lines(
               QStringLiteral("SELECT s.name, s.subnet, p.subnet, s.parent_subnet, s.parent_id IS NULL FROM subnets s "
                              "LEFT JOIN subnets p ON p.id = s.parent_id ORDER BY s.id"))
        + lines(QStringLiteral("SELECT subnet, host, note FROM hosts ORDER BY id"));
}

WriteLockHolder::WriteLockHolder(const QString& file, int ms, const QStringList& change)
{
    QSemaphore locked;
    holder = std::thread([this, file, ms, change, &locked] {
        {
            const bool server = meansServer(file);
            QSqlDatabase db = QSqlDatabase::addDatabase(driverFor(server), QStringLiteral("holder"));
            openProbe(db, file, server);
            QSqlQuery q(db);
            // The lock that the program's writers take first on a server.
            took = server ? q.exec(QStringLiteral("BEGIN"))
                    && q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(writersLockKey))
                          : q.exec(QStringLiteral("BEGIN IMMEDIATE"));
            for (const QString& sql : change)
                took = took && q.exec(sql);
            locked.release();
            QEventLoop loop;
            QTimer::singleShot(ms, &loop, [&] {
                q.exec(QStringLiteral("COMMIT"));
                loop.quit();
            });
            if (took)
                loop.exec();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    });
    locked.acquire();
}

WriteLockHolder::~WriteLockHolder()
{
    holder.join();
}
