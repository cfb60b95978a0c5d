#include "db/statementBatch.h"

#include "db/DB.h"

#include <QSqlError>

StatementBatch::StatementBatch(DB& db, const QString& sql)
    : query(db.newQuery())
{
    if (!query.prepare(sql))
        prepared = statusOf(query.lastError());
}

StatementBatch::~StatementBatch()
{
    query.finish();
}

Status StatementBatch::run(const QVariantList& values)
{
    if (failed.ok())
        failed = attempt(values);
    return failed;
}

Status StatementBatch::attempt(const QVariantList& values)
{
    if (!prepared.ok())
        return prepared;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, boundValue(values.at(i)));
    if (!query.exec())
        return statusOf(query.lastError());
    return {};
}
