#include "db/jsonText.h"

#include <algorithm>

namespace jsonText {

namespace {

bool plain(QChar c)
{
    // Byte-order marks go as escapes too: taken raw, SQLite changes a reversed one and a server
    // drops them.
    const ushort u = c.unicode();
    return u >= 0x20 && u != '"' && u != '\\' && u != 0xfeff && u != 0xfffe;
}

} // namespace

void appendString(QString& out, const QString& text)
{
    out += QLatin1Char('"');
    if (std::all_of(text.cbegin(), text.cend(), plain)) {
        out += text; // most texts, whole
    } else {
        for (const QChar c : text) {
            if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
                out += QLatin1Char('\\');
            if (c.unicode() < 0x20 || c.unicode() == 0xfeff || c.unicode() == 0xfffe)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
}

QString pairs(const QVector<QPair<QString, QString>>& rows)
{
    QString out;
    out.reserve(rows.size() * 40 + 2);
    out += QLatin1Char('[');
    for (const auto& row : rows) {
        if (out.size() > 1)
            out += QLatin1Char(',');
        out += QLatin1Char('[');
        appendString(out, row.first);
        out += QLatin1Char(',');
        appendString(out, row.second);
        out += QLatin1Char(']');
    }
    out += QLatin1Char(']');
    return out;
}

} // namespace jsonText
