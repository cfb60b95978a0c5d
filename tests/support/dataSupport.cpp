#include "tests/support/dataSupport.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimer>

#include <unistd.h>

TempDataDir::TempDataDir()
    : previous(qgetenv("ZARVIN_SUBNETS_DIR"))
    , hadPrevious(qEnvironmentVariableIsSet("ZARVIN_SUBNETS_DIR"))
{
    qputenv("ZARVIN_SUBNETS_DIR", dir.path().toUtf8());
}

TempDataDir::~TempDataDir()
{
    if (hadPrevious)
        qputenv("ZARVIN_SUBNETS_DIR", previous);
    else
        qunsetenv("ZARVIN_SUBNETS_DIR");
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

int childCount()
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(getpid()));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return QString::fromLatin1(file.readAll()).split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
}

DbProbe::DbProbe(const QString& file)
{
    static int counter = 0;
    name = QStringLiteral("test-probe-%1").arg(++counter);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    db.open();
}

DbProbe::~DbProbe()
{
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QVector<QVariantList> DbProbe::rows(const QString& sql, const QVariantList& params)
{
    QVector<QVariantList> out;
    QSqlQuery q(QSqlDatabase::database(name));
    q.prepare(sql);
    for (const QVariant& v : params)
        q.addBindValue(v);
    if (!q.exec())
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
        for (const QVariant& v : row)
            cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

bool DbProbe::exec(const QString& sql, const QVariantList& params)
{
    QSqlQuery q(QSqlDatabase::database(name));
    q.prepare(sql);
    for (const QVariant& v : params)
        q.addBindValue(v);
    const bool ok = q.exec();
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
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(file);
            db.open();
            QSqlQuery q(db);
            took = q.exec(QStringLiteral("BEGIN IMMEDIATE"));
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
