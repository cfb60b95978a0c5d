#include "hosts/hostTable.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "db/jsonText.h"
#include "db/statementBatch.h"

#include <QHash>
#include <QSet>

#include <optional>

namespace hostTable {

namespace {

using changeLog::What;

// The stored row of `host` as its log entry would name it: subnet, tree row's name, note. No
// subnet when the address is not stored.
Result<changeLog::Entry> storedHost(DB& db, What what, const QString& host)
{
    const SqlResult r = db.run(QStringLiteral("SELECT h.subnet, s.name, h.note FROM hosts h LEFT JOIN subnets s ON "
                                              "s.subnet = h.subnet WHERE h.host = ?"),
        { host });
    if (!r.ok())
        return Status(r);
    const QVariantList row = r.rows.value(0);
    return changeLog::Entry { what, row.value(0).toString(), row.value(1).toString(), host, row.value(2).toString(),
        {} };
}

using Pair = QPair<QString, QString>;

} // namespace

QString insertHostStatement()
{
    return QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)");
}

QString updateNoteStatement()
{
    return QStringLiteral("UPDATE hosts SET note=? WHERE host=?");
}

QString deleteHostStatement()
{
    // Kept as is: the address alone picks the row, whatever subnet stores it.
    return QStringLiteral("DELETE FROM hosts WHERE host=?");
}

SqlResult hostsOfSubnet(DB& db, const QString& subnet)
{
    return db.run(
        QStringLiteral("SELECT host, note FROM hosts WHERE subnet=?") + db.engine().text(EngineSql::AddedOrder),
        { subnet });
}

SqlResult insertHost(DB& db, const QString& subnet, const QString& host, const QString& note)
{
    return db.run(insertHostStatement(), { subnet, host, note });
}

SqlResult deleteSubnet(DB& db, const QString& subnet)
{
    return db.writeTransaction([&] {
        const Result<QString> name = changeLog::rowName(db, subnet);
        const SqlResult stored = hostsOfSubnet(db, subnet);
        if (!name.ok() || !stored.ok())
            return !name.ok() ? Status(name) : Status(stored);
        // Kept as written, no blanks around "=": statement texts stay as they have always been.
        if (const SqlResult deleted = db.run(QStringLiteral("DELETE FROM hosts WHERE subnet=?"), { subnet });
            !deleted.ok())
            return Status(deleted);
        QVector<changeLog::Entry> entries;
        for (const QVariantList& h : stored.rows)
            entries << changeLog::Entry { What::HostDeleted, subnet, name.value, h.value(0).toString(),
                h.value(1).toString(), {} };
        return changeLog::record(db, entries);
    });
}

Result<bool> hasTreeRow(DB& db, const QString& subnet)
{
    const SqlResult row = db.run(QStringLiteral("SELECT 1 FROM subnets WHERE subnet = ?"), { subnet });
    if (!row.ok())
        return Status(row);
    return !row.rows.isEmpty();
}

Result<QString> requireTreeRow(DB& db, const QString& subnet)
{
    const SqlResult row = db.runKept(QStringLiteral("SELECT name FROM subnets WHERE subnet = ?"), { subnet });
    if (!row.ok())
        return Status(row);
    if (!row.rows.isEmpty())
        return row.rows.first().value(0).toString();
    return Status::failure(QStringLiteral("Подсеть ") + subnet
        + QStringLiteral(" удалена из базы данных другим пользователем или в другом окне."));
}

namespace {

// The notes stored under `subnet` before the save, for the log; read at the first note replaced,
// so that a save of new hosts reads nothing more.
class NotesBefore {
public:
    NotesBefore(DB& db_, const QString& subnet_)
        : db(db_)
        , subnet(subnet_)
    { }
    Result<std::optional<QString>> of(const QString& host)
    {
        if (!read) {
            Result<QHash<QString, QString>> stored = notesOf(db, subnet);
            if (!stored.ok())
                return Status(stored);
            notes = std::move(stored.value);
            read = true;
        }
        const auto it = notes.constFind(host);
        return it == notes.cend() ? std::optional<QString>() : std::optional<QString>(*it);
    }
    // Whether `host` is among the rows read.
    bool holds(const QString& host) const { return read && notes.contains(host); }

private:
    DB& db;
    QString subnet;
    QHash<QString, QString> notes;
    bool read = false;
};

// A stored address's note replaced, and entered in the log when it changed. An address stored
// under another subnet is read first.
Status updated(DB& db, StatementBatch& update, const SavedRow& row, NotesBefore& before, const changeLog::Entry& here,
    QVector<changeLog::Entry>& entries)
{
    const Result<std::optional<QString>> note = before.of(row.host);
    if (!note.ok())
        return note;
    Result<changeLog::Entry> entry = here;
    if (note.value)
        entry.value.before = *note.value;
    else
        entry = storedHost(db, What::NoteChanged, row.host);
    if (!entry.ok())
        return entry;
    const Status written = update.attempt({ row.note, row.host });
    entry.value.after = row.note;
    if (written.ok() && entry.value.before != row.note)
        entries << entry.value;
    return written;
}

// One statement per row, each insert allowed to fail on an address stored already.
Status saveEach(DB& db, const changeLog::Entry& here, const QVector<SavedRow>& rows, QVector<changeLog::Entry>& entries)
{
    NotesBefore before(db, here.subnet);
    StatementBatch insert(db, insertHostStatement());
    StatementBatch update(db, updateNoteStatement());
    for (const SavedRow& row : rows) {
        // The subnet's row was checked in this transaction, so a constraint here is the
        // address stored already. Once the subnet's rows are read, the insert of one of them,
        // sure to fail, is not tried: failing costs more than the update.
        Status written = before.holds(row.host) ? Status::failure(QString(), sqlite::Constraint)
                                                : insert.attempt({ here.subnet, row.host, row.note });
        if (written.ok())
            entries << changeLog::Entry { What::HostAdded, here.subnet, here.name, row.host, {}, row.note };
        else if (written.isConstraint())
            written = row.replaceNote ? updated(db, update, row, before,
                          { What::NoteChanged, here.subnet, here.name, row.host, {}, {} }, entries)
                                      : Status();
        if (!written.ok())
            return written;
    }
    return {};
}

// The stored rows of the listed addresses: subnet and note by address.
Result<QHash<QString, Pair>> storedOf(DB& db, const QString& list)
{
    const SqlResult r
        = db.run(QStringLiteral("SELECT host, subnet, note FROM hosts WHERE host IN (SELECT first FROM %1)")
                     .arg(db.engine().text(EngineSql::PairTable)),
            { list });
    if (!r.ok())
        return Status(r);
    QHash<QString, Pair> stored;
    for (const QVariantList& row : qAsConst(r.rows))
        stored.insert(row.value(0).toString(), { row.value(1).toString(), row.value(2).toString() });
    return stored;
}

// What a save on a server writes: the stored rows of the listed addresses (subnet and note),
// the new rows (address and note) in the list's order, and the typed notes of stored addresses
// (the last one wins).
struct Together {
    QHash<QString, Pair> stored;
    QVector<Pair> added;
    QHash<QString, int> placeOfAdded;
    QHash<QString, QString> notes;
};

Together planTogether(const QVector<SavedRow>& rows, QHash<QString, Pair> stored)
{
    Together t { std::move(stored), {}, {}, {} };
    for (const SavedRow& row : rows) {
        const Pair typed { row.host, row.note.isNull() ? QStringLiteral("") : row.note };
        if (t.stored.contains(row.host)) {
            if (row.replaceNote)
                t.notes.insert(row.host, typed.second);
        } else if (!t.placeOfAdded.contains(row.host)) {
            t.placeOfAdded.insert(row.host, t.added.size());
            t.added << typed;
        } else if (row.replaceNote) {
            t.added[t.placeOfAdded.value(row.host)] = typed;
        }
    }
    return t;
}

// The log of a save on a server, in the list's order, one entry per address: what was added, and
// the notes that changed.
Status logTogether(DB& db, const changeLog::Entry& here, const QVector<SavedRow>& rows, const Together& t,
    QVector<changeLog::Entry>& entries)
{
    QSet<QString> entered;
    for (const SavedRow& row : rows) {
        if (entered.contains(row.host))
            continue;
        entered.insert(row.host);
        const auto was = t.stored.constFind(row.host);
        if (was == t.stored.cend()) {
            const QString note = t.added.at(t.placeOfAdded.value(row.host)).second;
            entries << changeLog::Entry { What::HostAdded, here.subnet, here.name, row.host, {}, note };
            continue;
        }
        if (!t.notes.contains(row.host) || t.notes.value(row.host) == was->second)
            continue;
        // An address stored under another subnet is entered under that one.
        const Result<QString> name
            = was->first == here.subnet ? Result<QString>(here.name) : changeLog::rowName(db, was->first);
        if (!name.ok())
            return name;
        entries << changeLog::Entry { What::NoteChanged, was->first, name.value, row.host, was->second,
            t.notes.value(row.host) };
    }
    return {};
}

// The same outcome in three statements, whatever the number of rows: the stored addresses are
// read first (the write transaction keeps other writers out until the commit), so no insert
// fails and no savepoint is needed. New rows go in the list's order, which gives their ids.
Status saveTogether(
    DB& db, const changeLog::Entry& here, const QVector<SavedRow>& rows, QVector<changeLog::Entry>& entries)
{
    QVector<Pair> listed;
    listed.reserve(rows.size());
    for (const SavedRow& row : rows)
        listed << Pair { row.host, QString() };
    auto stored = storedOf(db, jsonText::pairs(listed));
    if (!stored.ok())
        return stored;
    const Together t = planTogether(rows, std::move(stored.value));
    Status r = insertRows(db, here.subnet, t.added);
    if (r.ok()) {
        QVector<Pair> noted;
        for (auto it = t.notes.cbegin(); it != t.notes.cend(); ++it)
            noted << Pair { it.key(), it.value() };
        r = updateNotes(db, noted);
    }
    return r.ok() ? logTogether(db, here, rows, t, entries) : r;
}

} // namespace

Result<QHash<QString, QString>> notesOf(DB& db, const QString& subnet)
{
    const SqlResult stored = hostsOfSubnet(db, subnet);
    if (!stored.ok())
        return Status(stored);
    QHash<QString, QString> notes;
    notes.reserve(stored.rows.size());
    for (const QVariantList& h : stored.rows)
        notes.insert(h.value(0).toString(), h.value(1).toString());
    return notes;
}

Status insertRows(DB& db, const QString& subnet, const QVector<Pair>& rows)
{
    if (rows.isEmpty())
        return {};
    if (db.engine().writesRowsTogether())
        return db.run(
            QStringLiteral("INSERT INTO hosts (subnet, host, note) SELECT ?, first, second FROM %1 ORDER BY n")
                .arg(db.engine().text(EngineSql::PairTable)),
            { subnet, jsonText::pairs(rows) });
    StatementBatch insert(db, insertHostStatement());
    Status written;
    for (int i = 0; i < rows.size() && written.ok(); ++i)
        written = insert.run({ subnet, rows.at(i).first, rows.at(i).second });
    return written;
}

Status updateNotes(DB& db, const QVector<Pair>& rows)
{
    if (rows.isEmpty())
        return {};
    if (db.engine().writesRowsTogether())
        return db.run(QStringLiteral("UPDATE hosts SET note = j.second FROM %1 WHERE host = j.first")
                          .arg(db.engine().text(EngineSql::PairTable)),
            { jsonText::pairs(rows) });
    StatementBatch update(db, updateNoteStatement());
    Status written;
    for (int i = 0; i < rows.size() && written.ok(); ++i)
        written = update.run({ rows.at(i).second, rows.at(i).first });
    return written;
}

Status saveRows(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    return db.writeTransaction([&] {
        const Result<QString> name = requireTreeRow(db, subnet);
        if (!name.ok())
            return Status(name);
        const changeLog::Entry here { What::NoteChanged, subnet, name.value, {}, {}, {} };
        QVector<changeLog::Entry> entries;
        entries.reserve(rows.size());
        const Status saved = db.engine().writesRowsTogether() ? saveTogether(db, here, rows, entries)
                                                              : saveEach(db, here, rows, entries);
        return saved.ok() ? changeLog::record(db, entries) : saved;
    });
}

Status deleteHosts(DB& db, const QVariantList& hosts)
{
    return db.writeTransaction([&] {
        StatementBatch remove(db, deleteHostStatement());
        QVector<changeLog::Entry> entries;
        Status done;
        for (int i = 0; i < hosts.size() && done.ok(); ++i) {
            const Result<changeLog::Entry> entry = storedHost(db, What::HostDeleted, hosts.at(i).toString());
            done = entry.ok() ? remove.run({ hosts.at(i) }) : Status(entry);
            if (done.ok() && !entry.value.subnet.isEmpty())
                entries << entry.value;
        }
        return done.ok() ? changeLog::record(db, entries) : done;
    });
}

} // namespace hostTable
