#pragma once

#include "db/csv.h"
#include "db/sqlResult.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class DB;
class QIODevice;

// One subnet's host list as CSV: a header row, then address and note, one host per record.
namespace hostListCsv {

using HostNote = QPair<QString, QString>; // address, note

QStringList header(); // the host table's own column titles
// Header titles (compared without case and surrounding blanks) taken for each column on import.
QStringList addressTitles();
QStringList noteTitles();

// Writes the rows (address, note) to `path`, replaced only once the whole file is written.
// Rows with both cells empty carry nothing and are left out.
Status exportTo(const QVector<HostNote>& rows, const QString& path);

struct Refused {
    int line = 0;
    QString address;
    QString reason;
};

// What an import would do, decided before anything is written.
struct Preview {
    QVector<HostNote> fresh; // inserted
    QVector<HostNote> changed; // stored here already: their note becomes the imported one
    int unchanged = 0; // stored here with the same note, or imported with an empty note
    QVector<Refused> refused; // in line order
};

// Reads the file (comma or semicolon, from the header row), checks every address against the
// window subnet as an edited cell is checked, and compares with what is stored. Writes nothing.
// Fails on a fault of the whole file (in Russian) or of the database.
Result<Preview> preview(DB& db, const QString& subnet, QIODevice& device, csv::Limits limits = {});

// Inserts the fresh rows and updates the changed notes in one transaction, with the check that
// the subnet is still a row of the tree: all, or nothing.
Status write(DB& db, const QString& subnet, const Preview& preview);

} // namespace hostListCsv
