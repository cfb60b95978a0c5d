#pragma once

#include "db/sqlResult.h"

#include <QSqlQuery>
#include <QString>
#include <QVariant>

class DB;

// One statement prepared once and run for many rows, inside a transaction the caller holds:
// imports write tens of thousands of rows, and preparing each again would cost most of the time.
class StatementBatch {
public:
    StatementBatch(DB& db, const QString& sql);
    ~StatementBatch();

    // Binds the values in order (through boundValue, as DB::run does) and runs the
    // statement; once any run has failed, every later one reports that failure.
    Status run(const QVariantList& values);
    QVariant lastInsertId() const { return query.lastInsertId(); }

private:
    QSqlQuery query;
    Status failed;
};
