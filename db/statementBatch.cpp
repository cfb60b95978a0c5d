#include "db/statementBatch.h"

#include "db/DB.h"

#include <QSqlError>

StatementBatch::StatementBatch(DB& db_, const QString& sql)
    : db(db_)
    , query(db_.newQuery())
{
    if (!query.prepare(sql))
        prepared = db.failure(query.lastError());
}

StatementBatch::~StatementBatch()
{
    query.finish();
}

Status StatementBatch::run(const QVariantList& values)
{
    if (failed.ok())
        failed = once(values);
    return failed;
}

Status StatementBatch::once(const QVariantList& values)
{
    if (!prepared.ok())
        return prepared;
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, db.bound(values.at(i)));
    if (!query.exec())
        return db.failure(query.lastError());
    returned = query.isSelect() && query.next() ? query.value(0) : QVariant();
    return {};
}

// A server ends the whole transaction at a failed statement: there the attempt runs inside a
// savepoint, so that only its own statement is undone.
Status StatementBatch::attempt(const QVariantList& values)
{
    if (!db.engine().needsSavepoints())
        return once(values);
    if (const SqlResult saved = db.run(QStringLiteral("SAVEPOINT zarvin_attempt")); !saved.ok())
        return saved;
    const Status done = once(values);
    const SqlResult ended = db.run(done.ok() ? QStringLiteral("RELEASE SAVEPOINT zarvin_attempt")
                                             : QStringLiteral("ROLLBACK TO SAVEPOINT zarvin_attempt"));
    return done.ok() ? Status(ended) : done;
}

QVariant StatementBatch::lastInsertId() const
{
    return db.engine().reportsInsertedId() ? query.lastInsertId() : returned;
}
