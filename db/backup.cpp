#include "db/backup.h"

#include "db/DB.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace backup {

namespace {

const QString copySchema = QStringLiteral("zarvin_copy");
QAtomicInt probeCounter;

bool sameFile(const QString& a, const QString& b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString quoted(const QString& identifier)
{
    return QLatin1Char('"') + QString(identifier).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// A read-only connection of its own to another file, for checking it.
class Probe {
public:
    explicit Probe(const QString& file)
        : name(QStringLiteral("zarvin-backup-probe-%1").arg(probeCounter.fetchAndAddRelaxed(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        opened = db.open();
    }
    ~Probe()
    {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    // The first column of every row.
    Result<QStringList> column(const QString& sql) const
    {
        QStringList out;
        QSqlQuery q(QSqlDatabase::database(name, false));
        if (!opened || !q.exec(sql))
            return statusOf(q.lastError());
        while (q.next())
            out << q.value(0).toString();
        if (q.lastError().isValid())
            return statusOf(q.lastError());
        return out;
    }
    bool opened = false;

private:
    QString name;
};

// Ok when the file reads as a sound SQLite database; else it fails with the reason.
Status integrityOf(const QString& file)
{
    const Result<QStringList> verdict = Probe(file).column(QStringLiteral("PRAGMA integrity_check"));
    if (!verdict.ok())
        return verdict;
    if (verdict.value != QStringList { QStringLiteral("ok") })
        return Status::failure(verdict.value.mid(0, 5).join(QLatin1Char('\n')));
    return {};
}

} // namespace

namespace {

// Names of the columns of `table` in the file the probe reads, in their order.
Result<QStringList> columnsOf(const Probe& probe, const QString& table)
{
    return probe.column(QStringLiteral("SELECT name FROM pragma_table_info(%1)").arg(quoted(table)));
}

// Ok when the copy has the program's two tables with their columns; else it fails with the reason.
Status checkTables(const QString& source)
{
    const Probe probe(source);
    const QStringList expected[] = { { QStringLiteral("id"), QStringLiteral("subnet"), QStringLiteral("parent_id"),
                                         QStringLiteral("parent_subnet"), QStringLiteral("name") },
        { QStringLiteral("id"), QStringLiteral("subnet"), QStringLiteral("host"), QStringLiteral("note") } };
    const QString tables[] = { QStringLiteral("subnets"), QStringLiteral("hosts") };
    for (int i = 0; i < 2; ++i) {
        const Result<QStringList> columns = columnsOf(probe, tables[i]);
        if (!columns.ok())
            return columns;
        if (columns.value.isEmpty())
            return Status::failure(QStringLiteral("В файле нет таблицы ") + tables[i]
                + QStringLiteral(": это не база данных этой программы."));
        if (columns.value != expected[i])
            return Status::failure(QStringLiteral("Таблица ") + tables[i] + QStringLiteral(" в файле имеет столбцы ")
                + columns.value.join(QStringLiteral(", ")) + QStringLiteral(", а должна: ")
                + expected[i].join(QStringLiteral(", ")) + QStringLiteral("."));
    }
    return {};
}

// Ok when `source` may be restored into the database of `db`; else it fails with the reason.
Status refusalOf(DB& db, const QString& source)
{
    const QFileInfo info(source);
    if (!info.isFile() || !info.isReadable())
        return Status::failure(QStringLiteral("Файл не найден или не читается."));
    if (sameFile(source, db.fileName()))
        return Status::failure(QStringLiteral("Это и есть открытая база данных, а не её копия."));
    if (const Status damage = integrityOf(source); !damage.ok())
        return Status::failure(
            QStringLiteral("Файл не является исправной базой данных SQLite: ") + damage.errorText, damage.code);
    return checkTables(source);
}

} // namespace

Status makeCopy(DB& db, const QString& target)
{
    const QString live = db.fileName();
    if (sameFile(target, live) || QFileInfo(target).absoluteFilePath() == QFileInfo(live).absoluteFilePath())
        return Status::failure(QStringLiteral("Копию нельзя записать поверх самой базы данных: выберите другой файл."));
    // VACUUM INTO writes only into a new or empty file: an empty one beside the target, renamed at the end.
    QTemporaryFile temporary(QFileInfo(target).absolutePath() + QStringLiteral("/.zarvin-copy-XXXXXX"));
    if (!temporary.open())
        return Status::failure(QStringLiteral("Не удалось создать файл в папке ") + QFileInfo(target).absolutePath()
            + QStringLiteral(": ") + temporary.errorString());
    temporary.close();
    const SqlResult vacuum = db.run(QStringLiteral("VACUUM INTO ?"), { temporary.fileName() });
    if (!vacuum.ok())
        return Status::failure(QStringLiteral("Не удалось записать копию: ") + vacuum.errorText, vacuum.code);
    Status damage = integrityOf(temporary.fileName());
    if (damage.ok())
        damage = checkTables(temporary.fileName()); // an empty file passes the integrity check
    if (!damage.ok())
        return Status::failure(QStringLiteral("Записанная копия не прошла проверку: ") + damage.errorText, damage.code);
    // The temporary file is private to its owner; the copy is as readable as the database itself.
    QFile::setPermissions(temporary.fileName(), QFileInfo(live).permissions());
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        return Status::failure(
            QStringLiteral("Не удалось переименовать копию в ") + target + QStringLiteral(": ") + reason);
    }
    temporary.setAutoRemove(false);
    return {};
}

Result<Inspection> inspect(DB& db, const QString& source)
{
    if (const Status refusal = refusalOf(db, source); !refusal.ok())
        return refusal;
    const Probe copy(source);
    const Result<QStringList> subnets = copy.column(QStringLiteral("SELECT COUNT(*) FROM subnets"));
    const Result<QStringList> hosts = copy.column(QStringLiteral("SELECT COUNT(*) FROM hosts"));
    if (!subnets.ok() || !hosts.ok())
        return Status(subnets.ok() ? hosts : subnets);
    const SqlResult now = db.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM subnets), (SELECT COUNT(*) FROM hosts)"));
    if (!now.ok())
        return Status(now);
    Inspection out;
    out.subnetsInCopy = subnets.value.value(0).toLongLong();
    out.hostsInCopy = hosts.value.value(0).toLongLong();
    out.subnetsNow = now.rows.value(0).value(0).toLongLong();
    out.hostsNow = now.rows.value(0).value(1).toLongLong();
    return out;
}

namespace {

QStringList columnsIn(DB& db, const QString& schema, const QString& table)
{
    QStringList names;
    for (const QVariantList& r :
        db.run(QStringLiteral("SELECT name FROM pragma_table_info(?, ?)"), { table, schema }).rows)
        names << r.value(0).toString();
    return names;
}

// The tables of the live file that the attached copy holds with the same columns, by name.
QStringList sharedTables(DB& db)
{
    QStringList shared;
    // The tree first: a host goes in only under a tree row that is already there.
    const SqlResult tables = db.run(
        QStringLiteral("SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                       "ESCAPE '!' ORDER BY name <> 'subnets', rowid"));
    for (const QVariantList& r : tables.rows) {
        const QString table = r.value(0).toString();
        const QStringList columns = columnsIn(db, QStringLiteral("main"), table);
        if (!columns.isEmpty() && columns == columnsIn(db, copySchema, table))
            shared << table;
    }
    return shared;
}

SqlResult replaceTable(DB& db, const QString& table)
{
    QStringList columns;
    for (const QString& c : columnsIn(db, QStringLiteral("main"), table))
        columns << quoted(c);
    const QString list = columns.join(QStringLiteral(", "));
    const SqlResult deleted = db.run(QStringLiteral("DELETE FROM main.") + quoted(table));
    if (!deleted.ok())
        return deleted;
    return db.run(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM %3.%1").arg(quoted(table), list, copySchema));
}

Status replaceContent(DB& db)
{
    const QStringList tables = sharedTables(db);
    if (!tables.contains(QStringLiteral("subnets")) || !tables.contains(QStringLiteral("hosts")))
        return Status::failure(QStringLiteral("В копии нет таблиц subnets и hosts с нужными столбцами."));
    return db.writeTransaction([&] {
        SqlResult r;
        for (int i = 0; i < tables.size() && r.ok(); ++i)
            r = replaceTable(db, tables.at(i));
        return Status(r);
    });
}

} // namespace

Status restore(DB& db, const QString& source)
{
    // Checked again: attaching the live file itself would empty it.
    if (const Status refusal = refusalOf(db, source); !refusal.ok())
        return refusal;
    // Attaching cannot happen inside a transaction, so it comes first and goes last.
    const SqlResult attached = db.run(QStringLiteral("ATTACH DATABASE ? AS ") + copySchema, { source });
    if (!attached.ok())
        return Status(attached);
    const Status replaced = replaceContent(db);
    // Left attached, the copy would stay open and refuse the next restore's ATTACH.
    if (const SqlResult detached = db.run(QStringLiteral("DETACH DATABASE ") + copySchema); !detached.ok())
        return replaced.ok() ? Status::failure(QStringLiteral("База данных восстановлена, но файл копии остался "
                                                              "открытым: перезапустите программу перед следующим "
                                                              "восстановлением.\n")
                   + detached.errorText)
                             : replaced;
    return replaced;
}

} // namespace backup
