#include "db/backup.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "db/dataDir.h"
#include "db/historyBlocks.h"
#include "db/historySchema.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <utility>

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

// Interrupts every statement of one connection once the time is up. Qt has no call for it; the
// driver hands out SQLite's own handle.
class Deadline {
public:
    Deadline(const QSqlDriver* driver, int ms, QString stopped)
        : timer(ms)
        , limitMs(ms)
        , what(std::move(stopped))
    {
        const QVariant v = driver ? driver->handle() : QVariant();
        if (v.isValid() && qstrcmp(v.typeName(), "sqlite3*") == 0)
            handle = *static_cast<sqlite3* const*>(v.constData());
        if (handle)
            sqlite3_progress_handler(handle, 100, &Deadline::expired, this);
    }
    ~Deadline()
    {
        if (handle)
            sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

    bool armed() const { return handle != nullptr; }
    // A statement stopped by the deadline, told as such; any other status as it is.
    Status explain(const Status& status) const
    {
        if (status.code != SQLITE_INTERRUPT)
            return status;
        return Status::failure(what
                + QStringLiteral(": длилось дольше %1 с (в файле слишком много данных или слишком медленные индексы).")
                      .arg(limitMs / 1000.0),
            status.code);
    }

private:
    static int expired(void* self) { return static_cast<Deadline*>(self)->timer.hasExpired() ? 1 : 0; }

    QDeadlineTimer timer;
    int limitMs;
    QString what;
    sqlite3* handle = nullptr;
};

// A connection of its own to a file that only this program uses, every statement bounded in time.
class Probe {
public:
    Probe(const QString& file, int limitMs)
        : name(QStringLiteral("zarvin-backup-probe-%1").arg(probeCounter.fetchAndAddRelaxed(1)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (db.open())
            deadline = std::make_unique<Deadline>(db.driver(), limitMs, QStringLiteral("Проверка файла прервана"));
        else
            openStatus = statusOf(db.lastError());
        if (openStatus.ok() && !deadline->armed())
            openStatus = Status::failure(QStringLiteral("Не удалось ограничить время проверки файла."));
    }
    ~Probe()
    {
        deadline.reset();
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    SqlResult run(const QString& sql, const QVariantList& params = {}) const
    {
        if (!openStatus.ok())
            return openStatus;
        QSqlQuery q(QSqlDatabase::database(name, false));
        q.setForwardOnly(true);
        bool ok = q.prepare(sql);
        for (const QVariant& value : params)
            q.addBindValue(value);
        ok = ok && q.exec();
        SqlResult out;
        while (ok && q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            out.rows << row;
        }
        if (!ok || q.lastError().isValid())
            return deadline ? deadline->explain(statusOf(q.lastError())) : statusOf(q.lastError());
        return out;
    }

private:
    QString name;
    std::unique_ptr<Deadline> deadline;
    Status openStatus;
};

// Ok when the file reads as a sound SQLite database; else it fails with the reason.
Status integrityOf(const Probe& probe)
{
    const SqlResult verdict = probe.run(QStringLiteral("PRAGMA integrity_check"));
    Status damage = verdict;
    if (verdict.ok() && verdict.rows != QVector<QVariantList> { { QStringLiteral("ok") } }) {
        QStringList lines;
        for (const QVariantList& r : verdict.rows.mid(0, 5))
            lines << r.value(0).toString();
        damage = Status::failure(lines.join(QLatin1Char('\n')));
    }
    if (damage.ok() || damage.code == SQLITE_INTERRUPT)
        return damage;
    return Status::failure(
        QStringLiteral("Файл не является исправной базой данных SQLite: ") + damage.errorText, damage.code);
}

using Tables = QHash<QString, QStringList>; // columns in order, by the table's name in lower case

// The copy's real tables: no views, no virtual tables, none of SQLite's own.
Result<Tables> realTables(const Probe& probe)
{
    const SqlResult names = probe.run(
        QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND sql NOT LIKE 'CREATE VIRTUAL%' "
                       "AND name NOT LIKE 'sqlite!_%' ESCAPE '!'"));
    if (!names.ok())
        return Status(names);
    Tables tables;
    for (const QVariantList& r : names.rows) {
        const SqlResult columns
            = probe.run(QStringLiteral("SELECT name FROM pragma_table_info(?)"), { r.value(0).toString() });
        if (!columns.ok())
            return Status(columns);
        QStringList& list = tables[r.value(0).toString().toLower()];
        for (const QVariantList& c : columns.rows)
            list << c.value(0).toString();
    }
    return tables;
}

const QString subnetsTable = QStringLiteral("subnets"), hostsTable = QStringLiteral("hosts");

QStringList expectedColumns(const QString& table)
{
    if (table == subnetsTable)
        return { QStringLiteral("id"), QStringLiteral("subnet"), QStringLiteral("parent_id"),
            QStringLiteral("parent_subnet"), QStringLiteral("name") };
    return { QStringLiteral("id"), QStringLiteral("subnet"), QStringLiteral("host"), QStringLiteral("note") };
}

// A hosts table from before notes existed, as the program still opens such a file.
bool withoutNote(const QStringList& columns)
{
    return columns == expectedColumns(hostsTable).mid(0, 3);
}

// Ok when the copy has the program's two tables with their columns; else it fails with the reason.
Status checkTables(const Tables& tables)
{
    for (const QString& table : { subnetsTable, hostsTable }) {
        const QStringList columns = tables.value(table);
        if (columns.isEmpty())
            return Status::failure(QStringLiteral("В файле нет таблицы ") + table
                + QStringLiteral(": это не база данных этой программы."));
        if (columns != expectedColumns(table) && !(table == hostsTable && withoutNote(columns)))
            return Status::failure(QStringLiteral("Таблица ") + table + QStringLiteral(" в файле имеет столбцы ")
                + columns.join(QStringLiteral(", ")) + QStringLiteral(", а должна: ")
                + expectedColumns(table).join(QStringLiteral(", ")) + QStringLiteral("."));
    }
    return {};
}

// A candidate file copied, with its journal, into a folder of this program alone.
struct PrivateCopy {
    explicit PrivateCopy(const QString& source)
    {
        if (!folder.isValid())
            status = Status::failure(QStringLiteral("Не удалось создать временную папку: ") + folder.errorString());
        for (const QString& suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-journal") }) {
            if (!status.ok() || (!suffix.isEmpty() && !QFileInfo::exists(source + suffix)))
                continue;
            QFile file(source + suffix);
            if (!file.copy(path + suffix))
                status = Status::failure(QStringLiteral("Не удалось прочитать файл ") + source + suffix
                    + QStringLiteral(": ") + file.errorString());
            // A read-only original makes a read-only copy, which SQLite could not recover.
            QFile::setPermissions(path + suffix, QFile::ReadOwner | QFile::WriteOwner);
        }
    }
    QTemporaryDir folder;
    QString path = folder.filePath(QStringLiteral("copy.db"));
    Status status;
};

// What restore needs of a checked copy.
struct Content {
    Tables tables;
    qint64 subnets = 0, hosts = 0;
};

// Every check of a private copy; a copy without notes gets the column, as the program's own
// opening would add it.
Result<Content> checkCopy(const QString& file, const RowCheck& check, int limitMs)
{
    const Probe probe(file, limitMs);
    if (const Status damage = integrityOf(probe); !damage.ok())
        return damage;
    Result<Tables> tables = realTables(probe);
    Status checked = tables.ok() ? checkTables(tables.value) : Status(tables);
    if (checked.ok() && withoutNote(tables.value.value(hostsTable))) {
        checked = probe.run(QStringLiteral("ALTER TABLE hosts ADD COLUMN note text"));
        tables.value[hostsTable] = expectedColumns(hostsTable);
    }
    if (!checked.ok())
        return checked;
    const SqlResult subnets
        = probe.run(QStringLiteral("SELECT id, subnet, parent_id, parent_subnet, name FROM subnets ORDER BY id"));
    const SqlResult hosts = probe.run(QStringLiteral("SELECT id, subnet, host, note FROM hosts ORDER BY id"));
    checked = !subnets.ok() ? Status(subnets) : !hosts.ok() ? Status(hosts) : check(subnets.rows, hosts.rows);
    if (!checked.ok())
        return checked;
    Content out;
    out.tables = tables.value;
    out.subnets = subnets.rows.size();
    out.hosts = hosts.rows.size();
    return out;
}

// Ok when `source` may be checked as a copy of the database of `db`; else it fails with the reason.
Status refusalOf(DB& db, const QString& source)
{
    const QFileInfo info(source);
    if (!info.isFile() || !info.isReadable())
        return Status::failure(QStringLiteral("Файл не найден или не читается."));
    if (!db.engine().isServer() && sameFile(source, db.fileName()))
        return Status::failure(QStringLiteral("Это и есть открытая база данных, а не её копия."));
    return {};
}

// The content of `source` checked on a private copy, which stays while `copy` lives.
Result<Content> checkedContent(
    DB& db, const QString& source, const RowCheck& check, int limitMs, std::unique_ptr<PrivateCopy>& copy)
{
    if (const Status refusal = refusalOf(db, source); !refusal.ok())
        return refusal;
    copy = std::make_unique<PrivateCopy>(source);
    if (!copy->status.ok())
        return copy->status;
    return checkCopy(copy->path, check, limitMs);
}

// The path as it is reached, links of its folder resolved; the file itself need not exist.
QString resolved(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}

// A target SQLite would take for the live file's journal: deleted or played back at the next open.
bool isJournalOf(const QString& target, const QString& live)
{
    const QString file = resolved(target), base = resolved(live);
    for (const char* suffix : { "-journal", "-wal", "-shm" })
        if (file == base + QLatin1String(suffix))
            return true;
    return false;
}

} // namespace

Result<Inspection> inspect(DB& db, const QString& source, const RowCheck& check, int limitMs)
{
    std::unique_ptr<PrivateCopy> copy;
    const Result<Content> content = checkedContent(db, source, check, limitMs, copy);
    if (!content.ok())
        return Status(content);
    const SqlResult now = db.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM subnets), (SELECT COUNT(*) FROM hosts)"));
    if (!now.ok())
        return Status(now);
    Inspection out;
    out.subnetsInCopy = content.value.subnets;
    out.hostsInCopy = content.value.hosts;
    out.subnetsNow = now.rows.value(0).value(0).toLongLong();
    out.hostsNow = now.rows.value(0).value(1).toLongLong();
    return out;
}

namespace {

// One entry for the whole restore: what there was before, and what the copy brought.
Status logRestore(DB& db, const QString& before)
{
    const Result<QString> after = changeLog::counts(db);
    if (!after.ok())
        return after;
    return changeLog::record(db, { { changeLog::What::Restored, {}, {}, {}, before, after.value } });
}

QStringList columnsIn(DB& db, const QString& table)
{
    QStringList names;
    for (const QVariantList& r :
        db.run(QStringLiteral("SELECT name FROM pragma_table_info(?, 'main')"), { table }).rows)
        names << r.value(0).toString();
    return names;
}

// The tables of the live file that the copy holds as real tables with the same columns, by name.
QStringList sharedTables(DB& db, const Tables& copy)
{
    QStringList shared;
    // The tree first: a host goes in only under a tree row that is already there.
    const SqlResult tables = db.run(
        QStringLiteral("SELECT name FROM main.sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' "
                       "ESCAPE '!' ORDER BY name <> 'subnets', rowid"));
    for (const QVariantList& r : tables.rows) {
        const QString table = r.value(0).toString();
        // The log tells what happened to this database, a restore included: no copy replaces it,
        // nor what waits to go into it.
        if (table.startsWith(QLatin1String("change_log"), Qt::CaseInsensitive))
            continue;
        const QStringList columns = columnsIn(db, table);
        if (!columns.isEmpty() && columns == copy.value(table.toLower()))
            shared << table;
    }
    return shared;
}

SqlResult replaceTable(DB& db, const QString& table)
{
    QStringList columns;
    for (const QString& c : columnsIn(db, table))
        columns << quoted(c);
    const QString list = columns.join(QStringLiteral(", "));
    const SqlResult deleted = db.run(QStringLiteral("DELETE FROM main.") + quoted(table));
    if (!deleted.ok())
        return deleted;
    return db.run(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM %3.%1").arg(quoted(table), list, copySchema));
}

Status replaceContent(DB& db, const Tables& copy)
{
    const QStringList tables = sharedTables(db, copy);
    if (!tables.contains(subnetsTable) || !tables.contains(hostsTable))
        return Status::failure(QStringLiteral("В копии нет таблиц subnets и hosts с нужными столбцами."));
    return db.writeTransaction([&] {
        const Result<QString> before = changeLog::counts(db);
        SqlResult r = before.ok() ? SqlResult() : SqlResult(before);
        for (int i = 0; i < tables.size() && r.ok(); ++i)
            r = replaceTable(db, tables.at(i));
        return r.ok() ? logRestore(db, before.value) : Status(r);
    });
}

Status detachLeftover(DB& db)
{
    const SqlResult schemas
        = db.run(QStringLiteral("SELECT 1 FROM pragma_database_list WHERE name = ?"), { copySchema });
    if (!schemas.ok() || schemas.rows.isEmpty())
        return Status(schemas);
    return db.run(QStringLiteral("DETACH DATABASE ") + copySchema);
}

} // namespace

namespace {

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The tables a copy carries: the tree first (a host goes in only under its tree row), then the
// hosts, then the scan history.
const QStringList copiedTables = { subnetsTable, hostsTable, QStringLiteral("scans"), QStringLiteral("scan_answers"),
    QStringLiteral("sightings") };

// A table's columns on the server, sorted (an administrator's table may order them otherwise);
// none when there is no such table.
QStringList serverColumns(DB& db, const QString& table)
{
    QStringList names;
    for (const QVariantList& r : db.run(QStringLiteral("SELECT column_name FROM information_schema.columns WHERE "
                                                       "table_schema = current_schema() AND table_name = ?"),
                                       { table })
                                     .rows)
        names << r.value(0).toString();
    names.sort();
    return names;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QString columnList(const QStringList& columns)
{
    QStringList out;
    for (const QString& c : columns)
        out << quoted(c);
    return out.join(QStringLiteral(", "));
}

// The rows of one server table into the same table of the new file, NULLs kept as NULLs.
Status copyTable(DB& db, DB& copy, const QString& table, const QStringList& columns)
{
    const SqlResult rows
        = db.run(QStringLiteral("SELECT %1 FROM %2 ORDER BY 1").arg(columnList(columns), quoted(table)));
    if (!rows.ok())
        return rows;
    QSqlQuery insert = copy.newQuery();
    if (!insert.prepare(
            QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                .arg(quoted(table), columnList(columns), QStringLiteral("?, ").repeated(columns.size()).chopped(2))))
        return copy.failure(insert.lastError());
    for (const QVariantList& row : rows.rows) {
        for (const QVariant& value : row)
            insert.addBindValue(value.isNull() ? value : copy.bound(value));
        if (!insert.exec())
            return copy.failure(insert.lastError());
    }
    return {};
}

// A new SQLite file with the program's own schema, filled from one consistent view of the server.
Status copyServer(DB& db, const QString& file)
{
    DB copy(file);
    if (!copy.status().ok())
        return copy.status();
    return db.readTransaction([&] {
        return copy.writeTransaction([&] {
            for (const QString& table : copiedTables) {
                const QStringList columns = columnsIn(copy, table);
                const bool shared = !columns.isEmpty() && serverColumns(db, table) == sorted(columns);
                if (!shared && (table == subnetsTable || table == hostsTable))
                    return Status::failure(QStringLiteral("На сервере нет таблицы ") + table
                        + QStringLiteral(" со столбцами ") + columns.join(QStringLiteral(", ")) + QLatin1Char('.'));
                if (const Status copied = shared ? copyTable(db, copy, table, columns) : Status(); !copied.ok())
                    return copied;
            }
            return Status();
        });
    });
}

// The content as a JSON array of objects, one per row, which the server turns back into rows.
Result<QByteArray> rowsAsJson(const Probe& probe, const QString& table, const QStringList& columns)
{
    const SqlResult rows
        = probe.run(QStringLiteral("SELECT %1 FROM %2 ORDER BY 1").arg(columnList(columns), quoted(table)));
    if (!rows.ok())
        return Status(rows);
    QJsonArray out;
    for (const QVariantList& row : rows.rows) {
        QJsonObject object;
        for (int i = 0; i < columns.size(); ++i)
            // SQLite's NULL comes as a null text, which would turn into the empty text.
            object.insert(columns.at(i),
                row.value(i).isNull() ? QJsonValue(QJsonValue::Null) : QJsonValue::fromVariant(row.value(i)));
        out.append(object);
    }
    return QJsonDocument(out).toJson(QJsonDocument::Compact);
}

// A server that keeps the history by blocks takes its rows through them.
QString filling(DB& db, const QString& table, const QStringList& columns)
{
    const QString byBlocks
        = historySchema::layout(db) == HistoryLayout::Blocks ? historyBlocks::insertRows(table) : QString();
    return byBlocks.isEmpty() ? QStringLiteral("INSERT INTO %1 (%2) SELECT %2 FROM json_populate_recordset(CAST(NULL "
                                               "AS %1), CAST(? AS json))")
                                    .arg(quoted(table), columnList(columns))
                              : byBlocks;
}

// The checked copy's rows in place of the server's, in one transaction, ids kept; the id sequences
// then go on after the highest id, so that later rows do not collide with restored ones.
Status restoreIntoServer(DB& db, const QString& file, const Tables& copy, int limitMs)
{
    QStringList tables;
    QVector<QByteArray> content;
    {
        // Read before the transaction: a slow file never holds the server's writers up.
        const Probe probe(file, limitMs);
        for (const QString& table : copiedTables) {
            const QStringList columns = copy.value(table);
            if (columns.isEmpty() || serverColumns(db, table) != sorted(columns))
                continue;
            const Result<QByteArray> rows = rowsAsJson(probe, table, columns);
            if (!rows.ok())
                return rows;
            tables << table;
            content << rows.value;
        }
    }
    if (!tables.contains(subnetsTable) || !tables.contains(hostsTable))
        return Status::failure(QStringLiteral("В копии нет таблиц subnets и hosts с нужными столбцами."));
    return db.writeTransaction([&] {
        SqlResult r = db.run(QStringLiteral("SET LOCAL statement_timeout = %1").arg(limitMs));
        const Result<QString> before = r.ok() ? changeLog::counts(db) : Result<QString>(r);
        r = before.ok() ? r : SqlResult(before);
        for (int i = tables.size() - 1; i >= 0 && r.ok(); --i)
            r = db.run(historySchema::emptying(db, tables.at(i)));
        for (int i = 0; i < tables.size() && r.ok(); ++i) {
            r = db.run(filling(db, tables.at(i), copy.value(tables.at(i))), { QString::fromUtf8(content.at(i)) });
            if (r.ok() && copy.value(tables.at(i)).contains(QStringLiteral("id")))
                r = db.run(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', 'id'), GREATEST(MAX(id), 1), "
                                          "MAX(id) IS NOT NULL) FROM %1")
                               .arg(tables.at(i)));
        }
        return r.ok() ? logRestore(db, before.value) : Status(r);
    });
}

} // namespace

Status makeCopy(DB& db, const QString& target)
{
    const bool server = db.engine().isServer();
    const QString live = db.fileName();
    if (!server
        && (sameFile(target, live) || QFileInfo(target).absoluteFilePath() == QFileInfo(live).absoluteFilePath()))
        return Status::failure(QStringLiteral("Копию нельзя записать поверх самой базы данных: выберите другой файл."));
    if (!server && sameFile(target, changeLogFilePath(live)))
        return Status::failure(QStringLiteral("Имя ") + QFileInfo(target).fileName()
            + QStringLiteral(" занято журналом изменений этой базы данных. Выберите другое имя."));
    if (!server && isJournalOf(target, live))
        return Status::failure(QStringLiteral("Имя ") + QFileInfo(target).fileName()
            + QStringLiteral(" занято служебным файлом SQLite этой базы данных: такую копию SQLite удалит. "
                             "Выберите другое имя."));
    // VACUUM INTO writes only into a new or empty file: an empty one beside the target, renamed at the end.
    QTemporaryFile temporary(QFileInfo(target).absolutePath() + QStringLiteral("/.zarvin-copy-XXXXXX"));
    if (!temporary.open())
        return Status::failure(QStringLiteral("Не удалось создать файл в папке ") + QFileInfo(target).absolutePath()
            + QStringLiteral(": ") + temporary.errorString());
    temporary.close();
    // What waits to go into the log belongs to this database's log, not to the copy's.
    (void)changeLog::moveQueued(db);
    const Status written = server ? copyServer(db, temporary.fileName())
                                  : Status(db.run(QStringLiteral("VACUUM INTO ?"), { temporary.fileName() }));
    if (!written.ok())
        return Status::failure(QStringLiteral("Не удалось записать копию: ") + written.errorText, written.code);
    Status damage;
    {
        const Probe probe(temporary.fileName(), timeLimitMs);
        damage = integrityOf(probe);
        const Result<Tables> tables = damage.ok() ? realTables(probe) : Result<Tables>(damage);
        damage = tables.ok() ? checkTables(tables.value) : Status(tables); // an empty file passes the integrity check
    }
    if (!damage.ok())
        return Status::failure(QStringLiteral("Записанная копия не прошла проверку: ") + damage.errorText, damage.code);
    // The temporary file is private to its owner; the copy is as readable as the database itself, or
    // as any new file of the user's when the data is on a server.
    if (server)
        ::chmod(QFile::encodeName(temporary.fileName()).constData(), 0666 & ~currentUmask());
    else
        QFile::setPermissions(temporary.fileName(), QFileInfo(live).permissions());
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        return Status::failure(
            QStringLiteral("Не удалось переименовать копию в ") + target + QStringLiteral(": ") + reason);
    }
    temporary.setAutoRemove(false);
    return {};
}

Status restore(DB& db, const QString& source, const RowCheck& check, int limitMs)
{
    if (const Status sound = db.checkIntegrity(); !sound.ok())
        return sound;
    // Checked again, on a fresh private copy: what is written is what passed the checks.
    std::unique_ptr<PrivateCopy> copy;
    const Result<Content> content = checkedContent(db, source, check, limitMs, copy);
    if (!content.ok())
        return Status(content);
    if (db.engine().isServer())
        return restoreIntoServer(db, copy->path, content.value.tables, limitMs);
    // The copy's rows are read through the live connection: bounded as well.
    const Deadline deadline(db.newQuery().driver(), limitMs, QStringLiteral("Восстановление прервано"));
    if (!deadline.armed())
        return Status::failure(QStringLiteral("Не удалось ограничить время восстановления."));
    // Attaching cannot happen inside a transaction, so it comes first and goes last. A copy
    // left attached by a restore whose DETACH failed goes first: the name is needed again.
    if (const Status leftover = detachLeftover(db); !leftover.ok())
        return leftover;
    const SqlResult attached = db.run(QStringLiteral("ATTACH DATABASE ? AS ") + copySchema, { copy->path });
    if (!attached.ok())
        return deadline.explain(attached);
    const Status replaced = replaceContent(db, content.value.tables);
    // The content is replaced (or not) whatever DETACH says; a copy it leaves attached is
    // detached before the next restore.
    (void)db.run(QStringLiteral("DETACH DATABASE ") + copySchema);
    return deadline.explain(replaced);
}

} // namespace backup
