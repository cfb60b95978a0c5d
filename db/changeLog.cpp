#include "db/changeLog.h"

#include "db/DB.h"
#include "db/csv.h"
#include "db/jsonText.h"
#include "net/ipv4.h"

#include <QDateTime>
#include <QTextCodec>

#include <algorithm>
#include <cctype>
#include <limits>

#include <pwd.h>
#include <unistd.h>

namespace changeLog {

namespace {

struct Kind {
    What what;
    const char* code;
    QString caption, counted;
};

const QVector<Kind>& kinds()
{
    static const QVector<Kind> all = {
        { What::Added, "added", QStringLiteral("Добавлена строка"), QStringLiteral("Добавлено строк") },
        { What::Renamed, "renamed", QStringLiteral("Переименована строка"), QStringLiteral("Переименовано строк") },
        { What::Deleted, "deleted", QStringLiteral("Удалена строка"), QStringLiteral("Удалено строк") },
        { What::Emptied, "emptied", QStringLiteral("Удалена база данных"), QStringLiteral("Удалений базы данных") },
        { What::HostAdded, "host_added", QStringLiteral("Добавлен хост"), QStringLiteral("Добавлено хостов") },
        { What::NoteChanged, "note_changed", QStringLiteral("Изменено примечание"),
            QStringLiteral("Изменено примечаний") },
        { What::HostDeleted, "host_deleted", QStringLiteral("Удален хост"), QStringLiteral("Удалено хостов") },
        { What::Imported, "imported", QStringLiteral("Импортирована запись"), QStringLiteral("Импортировано записей") },
        { What::Restored, "restored", QStringLiteral("Восстановлена из копии"),
            QStringLiteral("Восстановлений из копии") },
    };
    return all;
}

const Kind* kindOf(const QString& code)
{
    for (const Kind& k : kinds())
        if (code == QLatin1String(k.code))
            return &k;
    return nullptr;
}

// Entries as the statement of EngineSql::AddChanges reads them: nine values each, appended to a
// flat JSON array's text (the time, who and the operation are the same for every entry and bound
// once).
class EntryWriter {
public:
    explicit EntryWriter(const QString& user_)
        : user(user_)
    { }
    void append(QString& out, const Entry& e)
    {
        for (const QString& t : { code(e.what), e.subnet, e.name, e.host, e.before, e.after }) {
            out += out.isEmpty() ? QLatin1Char('[') : QLatin1Char(',');
            jsonText::appendString(out, t);
        }
        out += rangeOf(e.subnet);
        jsonText::appendString(
            out, QStringList { user, e.subnet, e.name, e.host, e.before, e.after }.join(QLatin1Char(' ')).toLower());
    }

private:
    // ",first,last," of the subnet; the entries of one command mostly share it.
    const QString& rangeOf(const QString& subnet)
    {
        if (subnet != lastSubnet || range.isEmpty()) {
            const auto network = net::parseNetwork(subnet);
            range = network ? QLatin1Char(',') + QString::number(network->address) + QLatin1Char(',')
                    + QString::number(net::broadcastOf(*network)) + QLatin1Char(',')
                            : QStringLiteral(",null,null,");
            lastSubnet = subnet;
        }
        return range;
    }

    QString user, lastSubnet, range;
};

// A command's entries as they wait in the queue: for each, its kind's number and its five texts,
// each as its length and ":" ("11:10.1.1.0/24"), a subnet or name like the entry's before as "=".
// Cheap to write within the command: what the log keeps besides (the search text, the subnet's
// range, the JSON) is worked out when they are moved.
void put(QString& out, const QString& text, bool repeated)
{
    if (repeated) {
        out += QLatin1Char('=');
        return;
    }
    char digits[12]; // QString::number took longer than the rest of the entry
    int first = sizeof digits;
    for (int n = text.size(); first == int(sizeof digits) || n > 0; n /= 10)
        digits[--first] = char('0' + n % 10);
    out += QLatin1String(digits + first, int(sizeof digits) - first);
    out += QLatin1Char(':');
    out += text;
}

QString packed(const QVector<Entry>& entries)
{
    QString out;
    out.reserve(entries.size() * 48);
    const Entry* last = nullptr;
    for (const Entry& e : entries) {
        out += QChar(u'0' + int(e.what));
        put(out, e.subnet, last && e.subnet == last->subnet);
        put(out, e.name, last && e.name == last->name);
        put(out, e.host, false);
        put(out, e.before, false);
        put(out, e.after, false);
        last = &e;
    }
    return out;
}

class Unpacker {
public:
    explicit Unpacker(const QString& text_)
        : text(text_)
    { }
    // The entries, or as many as precede a damaged part.
    QVector<Entry> entries()
    {
        QVector<Entry> out;
        Entry e { What::Added, {}, {}, {}, {}, {} };
        while (at < text.size()) {
            const int kind = text.at(at++).unicode() - u'0';
            if (kind < 0 || kind >= kinds().size())
                break;
            e.what = What(kind);
            if (!field(e.subnet, !out.isEmpty()) || !field(e.name, !out.isEmpty()) || !field(e.host) || !field(e.before)
                || !field(e.after))
                break;
            out << e;
        }
        return out;
    }

private:
    bool field(QString& value, bool mayRepeat = false)
    {
        if (mayRepeat && at < text.size() && text.at(at) == QLatin1Char('=')) {
            ++at;
            return true;
        }
        const int colon = text.indexOf(QLatin1Char(':'), at);
        bool number = false;
        const int size = colon < 0 ? 0 : text.midRef(at, colon - at).toInt(&number);
        if (!number || size < 0 || size > text.size() - colon - 1)
            return false;
        value = text.mid(colon + 1, size);
        at = colon + 1 + size;
        return true;
    }

    const QString& text;
    int at = 0;
};

QString entryValues(const QString& user, const QVector<Entry>& entries)
{
    if (entries.isEmpty())
        return {};
    QString all;
    all.reserve(entries.size() * 160);
    EntryWriter writer(user);
    for (const Entry& e : entries)
        writer.append(all, e);
    return all + QLatin1Char(']');
}

// A queued row's entries as EngineSql::AddChanges reads them. A row that an earlier version
// queued holds them so already, packed with zlib (its first byte, of the length, is never a digit).
QString queuedValues(const QString& user, const QByteArray& queued)
{
    if (queued.isEmpty() || !std::isdigit(static_cast<unsigned char>(queued.at(0))))
        return QString::fromUtf8(qUncompress(queued));
    return entryValues(user, Unpacker(QString::fromUtf8(queued)).entries());
}

Result<qint64> nextOperation(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("SELECT coalesce(max(operation), 0) + 1 FROM change_log"));
    if (!r.ok())
        return Status(r);
    return r.rows.value(0).value(0).toLongLong();
}

bool queuePresent(DB& db)
{
    const QString queue = QStringLiteral("change_log_pending");
    if (db.knows(queue))
        return true;
    const bool there = db.engine().hasTables(db, { queue });
    if (there)
        db.learn(queue);
    return there;
}

// Never waits for another connection's lock: a window would hang for it. A busy database is
// tried again a little later.
void moveSoon(DB& db)
{
    const SqlResult last = db.run(QStringLiteral("SELECT max(id) FROM change_log_pending"));
    if (!last.ok() || last.rows.value(0).value(0).isNull())
        return;
    const DB::NoWaiting quick(db);
    if (moveQueued(db).code == sqlite::Busy)
        db.putOff(moveSoon, 1000);
}

bool complete(DB& db)
{
    return db.engine().hasTables(db, { QStringLiteral("change_log"), QStringLiteral("change_log_pending") });
}

// The entries of one operation, `all` as EngineSql::AddChanges reads them, numbered after the
// newest: one statement and one value, however many entries (binding a value each costs more
// than the rest of a save).
Status enter(DB& db, const QString& time, const QString& user, const QString& all)
{
    const Result<qint64> operation = nextOperation(db);
    if (!operation.ok())
        return operation;
    return db.run(db.engine().text(EngineSql::AddChanges), { time, user, operation.value, all });
}

// Creating the table inside a command's transaction is for a file that was busy when it opened;
// on a server only its owner may create it, and the others write what they can meanwhile.
Status ensured(DB& db)
{
    if (db.engine().isServer())
        return present(db) ? Status() : Status::failure(QString(), sqlite::ReadOnly);
    if (complete(db))
        return {};
    SqlResult r;
    for (const QString& sql : db.engine().changeLogStatements()) {
        r = db.run(sql);
        if (!r.ok())
            break;
    }
    return r;
}

// The conditions of `filter`, after "WHERE", and their values in order.
QString conditions(DB& db, const Filter& filter, QVariantList& values)
{
    QString where;
    if (!filter.text.trimmed().isEmpty()) {
        // The entry's text is stored in lower case.
        where += QStringLiteral(" AND ") + db.engine().text(EngineSql::HoldsText).arg(QStringLiteral("search"));
        values << filter.text.trimmed().toLower();
    }
    if (const auto branch = net::parseNetwork(filter.branch)) {
        // The first address is bounded on both sides (it is never past the last), so the index on
        // it reads a narrow branch's entries alone.
        where += QStringLiteral(" AND first_address BETWEEN ? AND ? AND last_address <= ?");
        const qint64 last = net::broadcastOf(*branch);
        values << qint64(branch->address) << last << last;
    }
    return where;
}

// What a user typed, read as EngineSql::TextBytes gave it: a leading byte-order mark, which a
// server's driver and QString::fromUtf8 drop, kept.
QString typed(const QVariant& bytes)
{
    const QByteArray utf8 = bytes.toByteArray();
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    return QTextCodec::codecForMib(106)->toUnicode(utf8.constData(), utf8.size(), &state);
}

QString lastChange(DB& db, const QString& sql, const QVariantList& values)
{
    const SqlResult r = db.run(sql, values);
    if (!r.ok() || r.rows.isEmpty())
        return {};
    const QVariantList& row = r.rows.first();
    return QStringLiteral("Последнее изменение: ") + caption(row.value(2).toString()) + QStringLiteral(", ")
        + shownTime(row.value(0).toString()) + QStringLiteral(", ") + row.value(1).toString();
}

} // namespace

QString code(What what)
{
    for (const Kind& k : kinds())
        if (k.what == what)
            return QLatin1String(k.code);
    return {};
}

QString caption(const QString& code)
{
    const Kind* k = kindOf(code);
    return k ? k->caption : code;
}

QString countCaption(const QString& code, int count)
{
    const Kind* k = kindOf(code);
    return (k ? k->counted : code) + QStringLiteral(": ") + QString::number(count);
}

QString who()
{
    for (const char* name : { "USER", "LOGNAME" })
        if (const QString user = qEnvironmentVariable(name); !user.isEmpty())
            return user;
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(::geteuid());
}

bool present(DB& db)
{
    return db.engine().hasTables(db, { QStringLiteral("change_log") });
}

SqlResult prepare(DB& db)
{
    if (db.engine().changeLogStatements().isEmpty())
        return {};
    // What a copy of the program that closed at once, or failed, left queued.
    if (complete(db)) {
        moveSoon(db);
        return {};
    }
    const DB::NoWaiting quick(db);
    const SqlResult made = db.runTogether(db.engine().changeLogStatements());
    return sqlite::cannotWriteNow(made.code) ? SqlResult() : made;
}

Status record(DB& db, const QVector<Entry>& entries)
{
    // Where there is no log to keep (its file could not be made), the command goes unlogged.
    if (entries.isEmpty() || (db.engine().changeLogStatements().isEmpty() && !present(db)))
        return {};
    const QString user = who();
    const QString time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    // A server whose owner has not yet started this version has the log but no queue.
    if (!queuePresent(db)) {
        if (const Status there = ensured(db); !there.ok())
            return there.code == sqlite::ReadOnly && db.engine().isServer() ? Status() : there;
        if (!queuePresent(db))
            return enter(db, time, user, entryValues(user, entries));
    }
    // Queued whole in one row beside the change: the indexed entries cost more than a save of
    // hosts itself, and are made once the window is idle again.
    const SqlResult queued
        = db.runKept(QStringLiteral("INSERT INTO change_log_pending (changed_at, who, entries) VALUES (?, ?, ?)"),
            { time, user, packed(entries).toUtf8() });
    if (queued.ok())
        db.putOff(moveSoon);
    return queued;
}

Status moveQueued(DB& db)
{
    return db.writeTransaction([&db] {
        // Read under the lock: another copy of the program may be moving them too.
        const SqlResult queued
            = db.run(QStringLiteral("SELECT id, changed_at, who, entries FROM change_log_pending ORDER BY id"));
        if (!queued.ok() || queued.rows.isEmpty())
            return Status(queued);
        for (const QVariantList& row : queued.rows) {
            const QString user = row.value(2).toString();
            // A damaged row has nothing to enter; it goes with the others.
            const QString values = queuedValues(user, row.value(3).toByteArray());
            if (values.isEmpty())
                continue;
            if (const Status entered = enter(db, row.value(1).toString(), user, values); !entered.ok())
                return entered;
        }
        return Status(
            db.run(QStringLiteral("DELETE FROM change_log_pending WHERE id <= ?"), { queued.rows.last().value(0) }));
    });
}

Result<QString> rowName(DB& db, const QString& subnet)
{
    const SqlResult r = db.run(QStringLiteral("SELECT name FROM subnets WHERE subnet = ?"), { subnet });
    if (!r.ok())
        return Status(r);
    return r.rows.value(0).value(0).toString();
}

Result<QString> counts(DB& db)
{
    const SqlResult r = db.run(QStringLiteral("SELECT (SELECT COUNT(*) FROM subnets), (SELECT COUNT(*) FROM hosts)"));
    if (!r.ok())
        return Status(r);
    return QStringLiteral("строк дерева: %1, хостов: %2")
        .arg(r.rows.value(0).value(0).toLongLong())
        .arg(r.rows.value(0).value(1).toLongLong());
}

int Line::count() const
{
    int n = 0;
    for (const auto& k : kinds)
        n += k.second;
    return n;
}

QString Line::summary() const
{
    if (count() == 1)
        return caption(kinds.value(0).first);
    QStringList parts;
    for (const auto& k : kinds) {
        const QString part = countCaption(k.first, k.second);
        // Only the first part opens with a capital.
        parts << (parts.isEmpty() ? part : part.left(1).toLower() + part.mid(1));
    }
    return parts.join(QStringLiteral(", "));
}

namespace {

// The lines of rows of operation, what, count, first time and who, the least and most subnet and
// name, the least host, old and new text (the texts as EngineSql::TextBytes gives them).
QVector<Line> linesOf(const QVector<QVariantList>& rows)
{
    QVector<Line> out;
    for (const QVariantList& r : rows) {
        const qint64 operation = r.value(0).toLongLong();
        if (out.isEmpty() || out.last().operation != operation) {
            Line line;
            line.operation = operation;
            line.time = r.value(3).toString();
            line.who = r.value(4).toString();
            out << line;
        }
        Line& line = out.last();
        line.kinds << qMakePair(r.value(1).toString(), r.value(2).toInt());
        // Shown when every entry has it: the subnet of a save, the row of an operation on one row.
        const bool first = line.kinds.size() == 1;
        const QString subnet = r.value(5) == r.value(6) ? r.value(5).toString() : QString();
        const QString name = r.value(7) == r.value(8) ? typed(r.value(7)) : QString();
        line.subnet = first || subnet == line.subnet ? subnet : QString();
        line.name = first || name == line.name ? name : QString();
        const bool single = line.count() == 1;
        line.host = single ? r.value(9).toString() : QString();
        line.before = single ? typed(r.value(10)) : QString();
        line.after = single ? typed(r.value(11)) : QString();
    }
    return out;
}

} // namespace

Result<QVector<Line>> page(DB& db, const Filter& filter, qint64 below, int size)
{
    moveSoon(db);
    if (!present(db))
        return QVector<Line>();
    QVariantList values { below > 0 ? below : std::numeric_limits<qint64>::max() };
    const QString where = conditions(db, filter, values);
    const SqlResult operations = db.run(QStringLiteral("SELECT DISTINCT operation FROM change_log WHERE operation < ?")
            + where + QStringLiteral(" ORDER BY operation DESC LIMIT %1").arg(size),
        values);
    if (!operations.ok() || operations.rows.isEmpty())
        return operations.ok() ? Result<QVector<Line>>(QVector<Line>()) : Result<QVector<Line>>(operations);
    QVariantList range { operations.rows.last().value(0), operations.rows.first().value(0) };
    const QString inRange = conditions(db, filter, range);
    const QString bytes = db.engine().text(EngineSql::TextBytes);
    const SqlResult details = db.run(
        QStringLiteral("SELECT operation, what, COUNT(*), MIN(changed_at), MIN(who), MIN(subnet), MAX(subnet), %1, "
                       "%2, MIN(host), %3, %4 FROM change_log WHERE operation BETWEEN ? AND ?")
                .arg(bytes.arg(QStringLiteral("MIN(name)")), bytes.arg(QStringLiteral("MAX(name)")),
                    bytes.arg(QStringLiteral("MIN(old_text)")), bytes.arg(QStringLiteral("MIN(new_text)")))
            + inRange + QStringLiteral(" GROUP BY operation, what ORDER BY operation DESC, what"),
        range);
    if (!details.ok())
        return Status(details);
    return linesOf(details.rows);
}

QStringList titles()
{
    return { QStringLiteral("Время"), QStringLiteral("Пользователь"), QStringLiteral("Изменение"),
        QStringLiteral("Подсеть"), QStringLiteral("Наименование"), QStringLiteral("IP-адрес"), QStringLiteral("Было"),
        QStringLiteral("Стало") };
}

QStringList cells(const Line& line)
{
    return { shownTime(line.time), line.who, line.summary(), line.subnet, line.name, line.host, line.before,
        line.after };
}

Status exportTo(const QVector<Line>& lines, const QString& path)
{
    csv::Writer file(path, titles(), QLatin1Char(';'));
    for (const Line& line : lines)
        file.write(cells(line));
    return file.commit();
}

QString lastChangeOfRow(DB& db, const QString& subnet)
{
    moveSoon(db);
    if (!present(db))
        return {};
    return lastChange(db,
        QStringLiteral("SELECT changed_at, who, what FROM change_log WHERE subnet = ? AND host = '' ORDER BY id DESC "
                       "LIMIT 1"),
        { subnet });
}

QString lastChangeOfHost(DB& db, const QString& host)
{
    moveSoon(db);
    if (!present(db))
        return {};
    return lastChange(db,
        QStringLiteral("SELECT changed_at, who, what FROM change_log WHERE host = ? ORDER BY id DESC LIMIT 1"),
        { host });
}

QString shownTime(const QString& stored)
{
    const QDateTime t = QDateTime::fromString(stored, Qt::ISODateWithMs);
    return t.isValid() ? t.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : stored;
}

} // namespace changeLog
