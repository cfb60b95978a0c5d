#pragma once

#include <QString>
#include <QVariantList>
#include <QVector>

#include <utility>

// SQLite primary result codes that callers tell apart; a server's failures are mapped onto them.
namespace sqlite {
enum Code {
    Ok = 0,
    Error = 1,
    Abort = 4,
    Busy = 5,
    Locked = 6,
    ReadOnly = 8,
    Corrupt = 11,
    Full = 13,
    Constraint = 19,
    NotADatabase = 26,
    // The program's own, beyond SQLite's range: the database server cannot be reached (the
    // connection is opened again at the next statement), and a server transaction that lost a
    // serialization race or a deadlock (run again whole; reported as Busy when that keeps failing).
    Unreachable = 1001,
    Retry = 1002
};
// ERROR, PERM, ABORT, BUSY, LOCKED, READONLY, INTERRUPT, IOERR, FULL, CANTOPEN, PROTOCOL, EMPTY, SCHEMA.
bool isOperational(int code);
// The file is in use (BUSY, LOCKED) or cannot be written (READONLY): a step that may be put off
// to a later construction is skipped rather than waited for.
inline bool cannotWriteNow(int code)
{
    return code == Busy || code == Locked || code == ReadOnly;
}
} // namespace sqlite

// How an operation that can fail ended: Ok, or the SQLite primary result code with the
// database's (or the system's) text. Every failing operation of the program reports this way.
struct [[nodiscard]] Status {
    int code = sqlite::Ok;
    QString errorText;

    bool ok() const { return code == sqlite::Ok; }
    bool isConstraint() const { return code == sqlite::Constraint; }
    static Status failure(const QString& text, int code = sqlite::Error) { return { code, text }; }
};

// The outcome of one statement: every row already read, so no read lock is left behind.
struct [[nodiscard]] SqlResult : Status {
    QVector<QVariantList> rows;

    SqlResult() = default;
    SqlResult(const Status& status)
        : Status(status)
    { }
};

// The outcome of any other operation that can fail: its value when ok().
template <class T> struct [[nodiscard]] Result : Status {
    T value {};

    Result(T v)
        : value(std::move(v))
    { }
    Result(const Status& status)
        : Status(status)
    { }
};
