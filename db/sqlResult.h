#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

// SQLite primary result codes that callers tell apart.
namespace sqlite {
enum Code { Ok = 0, Error = 1, Constraint = 19 };
// ERROR, PERM, ABORT, BUSY, LOCKED, READONLY, INTERRUPT, IOERR, FULL, CANTOPEN, PROTOCOL, EMPTY, SCHEMA.
bool isOperational(int code);
} // namespace sqlite

// The outcome of one statement: every row already read, so no read lock is left behind.
struct SqlResult {
    QVector<QVariantList> rows;
    int code = sqlite::Ok; // SQLite primary result code; Ok on success
    QString errorText;

    bool ok() const { return code == sqlite::Ok; }
    bool isConstraint() const { return code == sqlite::Constraint; }
};
