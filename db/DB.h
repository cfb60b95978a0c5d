#pragma once

#include "db/sqlResult.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <stdexcept>

// Thrown when a DB cannot be opened or its schema prepared.
class DbOpenError : public std::runtime_error {
public:
    DbOpenError(const QString& file, const QString& text);
    QString file;
    QString text;
};

// One connection to the database file, checked for damage, with the schema prepared and the
// file compacted (when it is free and writable).
// Every owner builds its own; the connection is removed when the object goes.
class DB {
public:
    explicit DB(const QString& file = QString()); // empty: the data directory's subnets.db
    ~DB();
    DB(const DB&) = delete;
    DB& operator=(const DB&) = delete;

    // Runs one statement with "?" values bound in order, reads all rows and finishes it.
    // A null text is bound as the empty text: the system never stores a typed text as NULL.
    SqlResult run(const QString& sql, const QVariantList& params = {});
    // Runs the statements with the same values in one transaction: all take effect, or none.
    SqlResult runTogether(const QStringList& statements, const QVariantList& params = {});

    bool transaction();
    bool commit();

    // The file could not be written when the object was built: every write will fail.
    bool isReadOnly() const { return readOnly; }

    QSqlDatabase conn;
    QSqlQuery c;

private:
    void prepareSchema();
    void checkIntegrity();
    QString connectionName;
    bool readOnly = false;
};
