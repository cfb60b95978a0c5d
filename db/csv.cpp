#include "db/csv.h"

#include <QIODevice>
#include <QTextCodec>

#include <algorithm>

namespace csv {

namespace {

const QChar apostrophe = QLatin1Char('\'');
const QChar quote = QLatin1Char('"');
constexpr int chunkBytes = 1 << 16;

// Apostrophes followed by a formula start: the cells that guard and unguard touch.
bool startsGuarded(const QString& text, int minApostrophes)
{
    int i = 0;
    while (i < text.size() && text.at(i) == apostrophe)
        ++i;
    return i >= minApostrophes && i < text.size() && isFormulaStart(text.at(i));
}

bool needsQuotes(const QString& cell, QChar separator)
{
    if (cell.isEmpty())
        return false;
    if (cell.front().isSpace() || cell.back().isSpace())
        return true;
    for (const QChar ch : cell)
        if (ch == separator || ch == quote || ch == QLatin1Char('\n') || ch == QLatin1Char('\r'))
            return true;
    return false;
}

} // namespace

bool isFormulaStart(QChar ch)
{
    switch (ch.unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

QString guard(const QString& text)
{
    return startsGuarded(text, 0) ? apostrophe + text : text;
}

QString unguard(const QString& text)
{
    return startsGuarded(text, 1) ? text.mid(1) : text;
}

Writer::Writer(const QString& path, const QStringList& header, QChar separator)
    : file(path)
    , sep(separator)
{
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArrayLiteral("\xEF\xBB\xBF") + record(header, sep));
}

void Writer::write(const QStringList& cells)
{
    if (file.isOpen())
        file.write(record(cells, sep));
}

Status Writer::commit()
{
    // A failed open or write is told here, with the reason the file keeps.
    if (!file.isOpen() || !file.commit())
        return Status::failure(file.errorString());
    return {};
}

QByteArray record(const QStringList& cells, QChar separator)
{
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line += separator;
        const QString cell = guard(cells.at(i));
        if (!needsQuotes(cell, separator)) {
            line += cell;
            continue;
        }
        line += quote;
        line += QString(cell).replace(quote, QStringLiteral("\"\""));
        line += quote;
    }
    line += QLatin1String("\r\n");
    return line.toUtf8();
}

Reader::Reader(QIODevice& source, QChar separator, Limits bounds)
    : device(source)
    , decoder(std::make_unique<QTextDecoder>(QTextCodec::codecForName("UTF-8")))
    , limits(bounds)
    , sep(separator)
{ }

Reader::~Reader() = default;

bool Reader::fail(const QString& text)
{
    if (fault.ok())
        fault = Status::failure(text);
    atEnd = true;
    return false;
}

// Appends the next chunk to the unread text; false at the end of the file or on a fault.
bool Reader::fill()
{
    if (atEnd)
        return false;
    const QByteArray bytes = device.read(chunkBytes);
    if (bytes.isEmpty()) {
        atEnd = true;
        if (decoder->needsMoreData())
            return fail(QStringLiteral("Файл не в кодировке UTF-8: он обрывается посреди символа."));
        return false;
    }
    if (bytes.contains('\0'))
        return fail(QStringLiteral("Файл не текстовый (в нём есть нулевые байты): это не CSV."));
    const QString text = decoder->toUnicode(bytes);
    if (decoder->hasFailure())
        return fail(QStringLiteral("Файл не в кодировке UTF-8 (ошибка около строки %1).").arg(physicalLine));
    buffer = buffer.mid(pos) + text;
    pos = 0;
    if (!started) {
        started = true;
        if (buffer.startsWith(QChar(0xFEFF)))
            pos = 1;
    }
    return true;
}

int Reader::peek()
{
    while (pos >= buffer.size())
        if (!fill())
            return -1;
    return buffer.at(pos).unicode();
}

int Reader::take()
{
    const int ch = peek();
    if (ch >= 0)
        ++pos;
    return ch;
}

// The character `i` places ahead of the unread text, reading on as far as it needs; -1 past the end.
int Reader::ahead(int i)
{
    while (pos + i >= buffer.size())
        if (!fill())
            return -1;
    return buffer.at(pos + i).unicode();
}

// How often `candidate` separates cells of the record starting `from` places ahead, quotes taken as
// readRecord takes them when `candidate` is the separator.
int Reader::separatorsInRecord(int from, QChar candidate)
{
    int count = 0;
    bool quoted = false, cellStart = true;
    for (int i = from; i - from < limits.maxRecordChars; ++i) {
        const int ch = ahead(i);
        if (ch < 0 || (!quoted && (ch == '\n' || ch == '\r')))
            break;
        if (quoted && ch == '"' && ahead(i + 1) == '"')
            ++i;
        else if (ch == '"' && (quoted || cellStart))
            quoted = !quoted;
        else if (!quoted && ch == candidate.unicode())
            ++count;
        cellStart = !quoted && ch == candidate.unicode();
    }
    return count;
}

// Counts the separators of the first record that is not a blank line.
void Reader::detectSeparator()
{
    int from = 0;
    while (ahead(from) == '\n' || ahead(from) == '\r')
        ++from;
    const int commas = separatorsInRecord(from, QLatin1Char(','));
    const int semicolons = separatorsInRecord(from, QLatin1Char(';'));
    // A tie goes to the semicolon: what spreadsheets with Russian settings write.
    sep = semicolons > 0 && semicolons >= commas ? QLatin1Char(';') : QLatin1Char(',');
}

bool Reader::next(QStringList& cells)
{
    if (sep.isNull())
        detectSeparator();
    bool blank = true;
    while (readRecord(cells, blank)) {
        if (blank)
            continue;
        // The first record is the header, which the bound does not count.
        if (++records > limits.maxRecords + 1)
            return fail(QStringLiteral("В файле больше %1 записей: столько не загружается за один раз. "
                                       "Разделите файл на части.")
                            .arg(limits.maxRecords));
        return true;
    }
    return false;
}

// One record into `cells`; `blank` when the line held nothing at all. False at the end or on a fault.
// One character inside quotes: a doubled quote is a quote, a single one closes the cell.
void Reader::quotedChar(int ch, QString& cell, bool& quoted)
{
    if (ch == '"' && peek() == '"') {
        cell += QChar(take());
    } else if (ch == '"') {
        quoted = false;
    } else {
        cell += QChar(ch);
        // A lone CR ends a line as it does outside quotes; a CRLF counts once, at its LF.
        physicalLine += ch == '\n' || (ch == '\r' && peek() != '\n') ? 1 : 0;
    }
}

bool Reader::readRecord(QStringList& cells, bool& blank)
{
    cells.clear();
    if (peek() < 0)
        return false;
    recordLine = physicalLine;
    QString cell;
    bool quoted = false, wasQuoted = false;
    for (int length = 0;; ++length) {
        if (length > limits.maxRecordChars)
            return fail(QStringLiteral("Строка %1 длиннее %2 знаков: это не похоже на CSV-файл.")
                            .arg(recordLine)
                            .arg(limits.maxRecordChars));
        const int ch = take();
        if (ch < 0 && quoted)
            return fail(QStringLiteral("Строка %1: кавычка не закрыта до конца файла.").arg(recordLine));
        if (ch < 0)
            break;
        if (quoted) {
            quotedChar(ch, cell, quoted);
        } else if (ch == sep.unicode()) {
            cells << unguard(cell);
            cell.clear();
            wasQuoted = false;
        } else if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && peek() == '\n')
                take();
            ++physicalLine;
            break;
        } else if (ch == '"' && cell.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else {
            cell += QChar(ch);
        }
    }
    cells << unguard(cell);
    // An empty line, or only separators: what spreadsheets write for formatted empty rows.
    blank = std::all_of(cells.cbegin(), cells.cend(), [](const QString& c) { return c.isEmpty(); });
    return fault.ok();
}

} // namespace csv
