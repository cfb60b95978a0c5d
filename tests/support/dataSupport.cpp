#include "tests/support/dataSupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

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
