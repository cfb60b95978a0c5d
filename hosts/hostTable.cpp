#include "hosts/hostTable.h"

#include "db/DB.h"
#include "db/statementBatch.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace hostTable {

namespace {

QString pairs(const QJsonArray& rows)
{
    return QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact));
}

// One statement per row, each insert allowed to fail on an address stored already.
Status saveEach(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    StatementBatch insert(db, insertHostStatement());
    StatementBatch update(db, updateNoteStatement());
    for (const SavedRow& row : rows) {
        // The subnet's row was checked in this transaction, so a constraint here is the
        // address stored already.
        Status written = insert.attempt({ subnet, row.host, row.note });
        if (written.isConstraint())
            written = row.replaceNote ? update.attempt({ row.note, row.host }) : Status();
        if (!written.ok())
            return written;
    }
    return {};
}

// The same outcome in three statements, whatever the number of rows: the stored addresses are
// read first (the write transaction keeps other writers out until the commit), so no insert
// fails and no savepoint is needed. New rows go in the list's order, which gives their ids.
Status saveTogether(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    const QString table = db.engine().text(EngineSql::PairTable);
    QJsonArray all;
    for (const SavedRow& row : rows)
        all.append(QJsonArray { row.host, row.note.isNull() ? QStringLiteral("") : row.note });
    SqlResult r = db.run(
        QStringLiteral("SELECT host FROM hosts WHERE host IN (SELECT first FROM %1)").arg(table), { pairs(all) });
    if (!r.ok())
        return r;
    QSet<QString> stored;
    for (const QVariantList& row : qAsConst(r.rows))
        stored.insert(row.value(0).toString());
    QJsonArray added;
    QHash<QString, int> placeOfAdded;
    QHash<QString, QString> notes; // of stored addresses: the last typed one wins
    for (int i = 0; i < rows.size(); ++i) {
        const QString& host = rows.at(i).host;
        if (stored.contains(host)) {
            if (rows.at(i).replaceNote)
                notes.insert(host, all.at(i).toArray().at(1).toString());
        } else if (!placeOfAdded.contains(host)) {
            placeOfAdded.insert(host, added.size());
            added.append(all.at(i));
        } else if (rows.at(i).replaceNote) {
            added[placeOfAdded.value(host)] = all.at(i);
        }
    }
    if (!added.isEmpty())
        r = db.run(QStringLiteral("INSERT INTO hosts (subnet, host, note) SELECT ?, first, second FROM %1 ORDER BY n")
                       .arg(table),
            { subnet, pairs(added) });
    if (r.ok() && !notes.isEmpty()) {
        QJsonArray noted;
        for (auto it = notes.cbegin(); it != notes.cend(); ++it)
            noted.append(QJsonArray { it.key(), it.value() });
        r = db.run(QStringLiteral("UPDATE hosts SET note = j.second FROM %1 WHERE host = j.first").arg(table),
            { pairs(noted) });
    }
    return r;
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
    // Kept as written, no blanks around "=": statement texts stay as they have always been.
    return db.run(QStringLiteral("DELETE FROM hosts WHERE subnet=?"), { subnet });
}

Result<bool> hasTreeRow(DB& db, const QString& subnet)
{
    const SqlResult row = db.run(QStringLiteral("SELECT 1 FROM subnets WHERE subnet = ?"), { subnet });
    if (!row.ok())
        return Status(row);
    return !row.rows.isEmpty();
}

Status requireTreeRow(DB& db, const QString& subnet)
{
    const Result<bool> there = hasTreeRow(db, subnet);
    if (!there.ok() || there.value)
        return Status(there);
    return Status::failure(QStringLiteral("Подсеть ") + subnet
        + QStringLiteral(" удалена из базы данных другим пользователем или в другом окне."));
}

Status saveRows(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    return db.writeTransaction([&] {
        if (const Status stored = requireTreeRow(db, subnet); !stored.ok())
            return stored;
        return db.engine().writesRowsTogether() ? saveTogether(db, subnet, rows) : saveEach(db, subnet, rows);
    });
}

Status deleteHosts(DB& db, const QVariantList& hosts)
{
    return db.writeTransaction([&] {
        StatementBatch remove(db, deleteHostStatement());
        Status done;
        for (int i = 0; i < hosts.size() && done.ok(); ++i)
            done = remove.run({ hosts.at(i) });
        return done;
    });
}

} // namespace hostTable
