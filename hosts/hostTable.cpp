#include "hosts/hostTable.h"

#include "db/DB.h"

namespace hostTable {

SqlResult hostsOfSubnet(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("SELECT host, note FROM hosts WHERE subnet=?"), { subnet });
}

SqlResult insertHost(DB& db, const QString& subnet, const QString& host, const QString& note)
{
    return db.run(QStringLiteral("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)"), { subnet, host, note });
}

SqlResult updateNote(DB& db, const QString& note, const QString& host)
{
    return db.run(QStringLiteral("UPDATE hosts SET note=? WHERE host=?"), { note, host });
}

SqlResult deleteHost(DB& db, const QVariant& host)
{
    // Kept as is: the address alone picks the row, whatever subnet stores it.
    return db.run(QStringLiteral("DELETE FROM hosts WHERE host=?"), { host });
}

SqlResult deleteSubnet(DB& db, const QString& subnet)
{
    // Kept as written, no blanks around "=": statement texts stay as they have always been.
    return db.run(QStringLiteral("DELETE FROM hosts WHERE subnet=?"), { subnet });
}

SqlResult saveHost(DB& db, const QString& subnet, const QString& host, const QString& note, bool replaceNote)
{
    const SqlResult inserted = insertHost(db, subnet, host, note);
    if (!inserted.isConstraint())
        return inserted;
    return replaceNote ? updateNote(db, note, host) : SqlResult {};
}

SqlResult treeRowOf(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("SELECT 1 FROM subnets WHERE subnet = ?"), { subnet });
}

} // namespace hostTable
