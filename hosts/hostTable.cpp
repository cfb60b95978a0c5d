#include "hosts/hostTable.h"

#include <QStandardItemModel>

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
    return db.run(QStringLiteral("DELETE FROM hosts WHERE host=?"), { host });
}

SqlResult deleteSubnet(DB& db, const QString& subnet)
{
    return db.run(QStringLiteral("DELETE FROM hosts WHERE subnet=?"), { subnet });
}

SqlResult saveHost(DB& db, const QString& subnet, const QString& host, const QString& note)
{
    const SqlResult inserted = insertHost(db, subnet, host, note);
    if (!inserted.isConstraint())
        return inserted;
    return updateNote(db, note, host);
}

QStandardItemModel* newModel(QObject* parent)
{
    auto* model = new QStandardItemModel(0, 2, parent);
    model->setHorizontalHeaderLabels({ QStringLiteral("IP-адрес хоста"), QStringLiteral("Примечание") });
    return model;
}

void fill(QStandardItemModel& model, const QVector<QVariantList>& rows)
{
    for (int i = 0; i < rows.size(); ++i) {
        model.setItem(i, 0, new QStandardItem(rows.at(i).value(0).toString()));
        model.setItem(i, 1, new QStandardItem(rows.at(i).value(1).toString()));
    }
}

} // namespace hostTable
