#pragma once

#include "db/sqlResult.h"

#include <QByteArray>
#include <QChar>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <memory>

class QIODevice;
class QTextDecoder;

// CSV as RFC 4180 reads it, in UTF-8, with cells a spreadsheet would run as formulas defused.
namespace csv {

// Cells starting with one of these are formulas (or become them) in common spreadsheets.
bool isFormulaStart(QChar ch);
// A cell that is apostrophes followed by a formula start gets one apostrophe more; unguard takes
// exactly one away from such a cell. Every text comes back from guard + unguard unchanged.
QString guard(const QString& text);
QString unguard(const QString& text);

// One record in UTF-8: guarded cells joined by `separator`, quoted when they hold the separator,
// a quote, a line break or a leading or trailing blank; CRLF at the end.
QByteArray record(const QStringList& cells, QChar separator);

// A file as every export writes it: the byte-order mark that makes spreadsheets read it as UTF-8,
// the header, then the records. The file at `path` is replaced only by commit(), once whole: a
// failure leaves the old one as it was and nothing beside it.
class Writer {
public:
    Writer(const QString& path, const QStringList& header, QChar separator);
    void write(const QStringList& cells);
    Status commit();

private:
    QSaveFile file;
    QChar sep;
};

// Bounds that keep a huge or foreign file from eating memory and time.
struct Limits {
    int maxRecordChars = 1 << 20;
    int maxRecords = 500000; // after the header
};

// Reads records one at a time from UTF-8 text (with or without a byte-order mark). Stops at the
// first fault with a Russian message: not UTF-8, binary, an unclosed quote, a record over the
// length bound, more records than the bound. Blank lines, and records of empty cells only, are
// skipped. Cells come back unguarded.
class Reader {
public:
    // A null separator: the one of ',' and ';' that occurs more often outside quotes in the first
    // line that is not blank (';' on a tie).
    explicit Reader(QIODevice& device, QChar separator = QChar(), Limits limits = {});
    ~Reader();

    // False at the end of the file or on a fault (then status() has failed).
    bool next(QStringList& cells);
    const Status& status() const { return fault; }
    int line() const { return recordLine; } // the line the last record began on, from 1
    QChar separator() const { return sep; }

private:
    bool fill();
    int peek();
    int take();
    bool fail(const QString& text);
    int ahead(int i);
    int separatorsInRecord(int from, QChar candidate);
    void detectSeparator();
    bool readRecord(QStringList& cells, bool& blank);
    void quotedChar(int ch, QString& cell, bool& quoted);

    QIODevice& device;
    std::unique_ptr<QTextDecoder> decoder;
    Limits limits;
    QString buffer;
    int pos = 0;
    bool atEnd = false;
    bool started = false;
    QChar sep;
    int physicalLine = 1;
    int recordLine = 0;
    int records = 0;
    Status fault;
};

} // namespace csv
