#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

// SQLite primary result codes that callers tell apart.
namespace sqlite {
enum Code { Ok = 0, Error = 1, Constraint = 19 };
}

// The outcome of one statement: every row already read, so no read lock is left behind.
struct SqlResult {
    QVector<QVariantList> rows;
    int code = sqlite::Ok; // SQLite primary result code; Ok on success
    QString errorText;

    bool ok() const { return code == sqlite::Ok; }
    bool isConstraint() const { return code == sqlite::Constraint; }
};
