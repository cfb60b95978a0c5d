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

    // Binds the values in order (through DB::bound, as DB::run does) and runs the
    // statement; once any run has failed, every later one reports that failure.
    Status run(const QVariantList& values);
    // The same for one run alone, for a caller that goes on after a failure it expects (a UNIQUE
    // conflict undoes only its own statement; the transaction stays open).
    Status attempt(const QVariantList& values);
    // The id the last run assigned: the driver's, or the one the statement returned (an INSERT
    // ending in EngineSql::ReturningId).
    QVariant lastInsertId() const;

private:
    Status once(const QVariantList& values);

    DB& db;
    QSqlQuery query;
    QVariant returned;
    Status prepared;
    Status failed;
};
