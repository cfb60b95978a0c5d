#include "hosts/hostTable.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "db/statementBatch.h"

#include <QHash>

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
    return db.run(QStringLiteral("SELECT host, note FROM hosts WHERE subnet=?"), { subnet });
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

Status requireTreeRow(DB& db, const QString& subnet)
{
    const SqlResult row = db.run(QStringLiteral("SELECT 1 FROM subnets WHERE subnet = ?"), { subnet });
    if (!row.ok() || !row.rows.isEmpty())
        return row;
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
            const SqlResult stored = hostsOfSubnet(db, subnet);
            if (!stored.ok())
                return Status(stored);
            for (const QVariantList& h : stored.rows)
                notes.insert(h.value(0).toString(), h.value(1).toString());
            read = true;
        }
        const auto it = notes.constFind(host);
        return it == notes.cend() ? std::optional<QString>() : std::optional<QString>(*it);
    }

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

} // namespace

Status saveRows(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    return db.writeTransaction([&] {
        if (const Status stored = requireTreeRow(db, subnet); !stored.ok())
            return stored;
        const Result<QString> name = changeLog::rowName(db, subnet);
        if (!name.ok())
            return Status(name);
        NotesBefore before(db, subnet);
        QVector<changeLog::Entry> entries;
        entries.reserve(rows.size());
        StatementBatch insert(db, insertHostStatement());
        StatementBatch update(db, updateNoteStatement());
        for (const SavedRow& row : rows) {
            // The subnet's row was checked in this transaction, so a constraint here is the
            // address stored already.
            Status written = insert.attempt({ subnet, row.host, row.note });
            if (written.ok())
                entries << changeLog::Entry { What::HostAdded, subnet, name.value, row.host, {}, row.note };
            else if (written.isConstraint())
                written = row.replaceNote ? updated(db, update, row, before,
                              { What::NoteChanged, subnet, name.value, row.host, {}, {} }, entries)
                                          : Status();
            if (!written.ok())
                return written;
        }
        return changeLog::record(db, entries);
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
