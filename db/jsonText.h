#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// JSON texts that statements unpack (SQLite's json_each, a server's json functions), written by
// hand: Qt's JSON classes took longer than the statements that read them.
namespace jsonText {

// `text` as a JSON string, appended to `out`.
void appendString(QString& out, const QString& text);

// [["first","second"],...]: the rows of EngineSql::PairTable.
QString pairs(const QVector<QPair<QString, QString>>& rows);

} // namespace jsonText
