#include "hosts/hostTable.h"

#include "db/DB.h"
#include "db/statementBatch.h"

namespace hostTable {

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

Status requireTreeRow(DB& db, const QString& subnet)
{
    const SqlResult row = db.run(QStringLiteral("SELECT 1 FROM subnets WHERE subnet = ?"), { subnet });
    if (!row.ok() || !row.rows.isEmpty())
        return row;
    return Status::failure(QStringLiteral("Подсеть ") + subnet
        + QStringLiteral(" удалена из базы данных другим пользователем или в другом окне."));
}

Status saveRows(DB& db, const QString& subnet, const QVector<SavedRow>& rows)
{
    return db.writeTransaction([&] {
        if (const Status stored = requireTreeRow(db, subnet); !stored.ok())
            return stored;
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
        return Status();
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
