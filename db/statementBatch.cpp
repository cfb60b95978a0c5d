#include "db/statementBatch.h"

#include "db/DB.h"

#include <QSqlError>

StatementBatch::StatementBatch(DB& db, const QString& sql)
    : query(db.newQuery())
{
    ok = query.prepare(sql);
}

StatementBatch::~StatementBatch()
{
    query.finish();
}

bool StatementBatch::run(const QVariantList& values)
{
    if (!ok)
        return false;
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& value = values.at(i);
        query.bindValue(
            i, value.type() == QVariant::String && value.toString().isNull() ? QVariant(QStringLiteral("")) : value);
    }
    ok = query.exec();
    return ok;
}

QString StatementBatch::errorText() const
{
    return query.lastError().text();
}
