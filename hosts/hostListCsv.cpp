#include "hosts/hostListCsv.h"

#include "db/DB.h"
#include "db/changeLog.h"
#include "hosts/hostCheck.h"
#include "hosts/hostTable.h"

#include <QHash>
#include <QSqlError>

#include <algorithm>

namespace hostListCsv {

namespace {

const QChar separator = QLatin1Char(';');

int columnOf(const QStringList& cells, const QStringList& titles)
{
    for (int i = 0; i < cells.size(); ++i)
        if (titles.contains(cells.at(i).trimmed().toLower()))
            return i;
    return -1;
}

QString missingColumn(const QString& what, const QStringList& titles)
{
    return QStringLiteral("В первой строке файла нет столбца ") + what + QStringLiteral(" (подходят заголовки: ")
        + titles.join(QStringLiteral(", ")) + QStringLiteral(").");
}

struct Candidate {
    int line;
    QString address;
    QString note;
};

// The reason an address cell cannot be imported into `subnet`; empty when it can.
QString refusalOf(const QString& address, const QString& subnet)
{
    const hostCheck::Verdict verdict = hostCheck::check(address, subnet);
    if (verdict.kind == hostCheck::Verdict::Refuse)
        return verdict.message;
    if (verdict.kind == hostCheck::Verdict::Keep)
        return {};
    return address.isEmpty() ? QStringLiteral("адрес не указан") : QStringLiteral("не IPv4-адрес");
}

// The rows whose address may go into `subnet`, the last of repeated addresses winning in the place of
// the first; the others into `refused`.
QVector<Candidate> collect(
    csv::Reader& reader, int addressAt, int noteAt, const QString& subnet, QVector<Refused>& refused)
{
    QVector<Candidate> candidates;
    QHash<QString, int> candidateOf; // address -> index in candidates
    QStringList cells;
    while (reader.next(cells)) {
        const Candidate c { reader.line(), cells.value(addressAt).trimmed(), cells.value(noteAt) };
        const QString refusal = refusalOf(c.address, subnet);
        if (!refusal.isEmpty()) {
            refused << Refused { c.line, c.address, refusal };
            continue;
        }
        const auto earlier = candidateOf.constFind(c.address);
        if (earlier == candidateOf.constEnd()) {
            candidateOf.insert(c.address, candidates.size());
            candidates << c;
            continue;
        }
        // As a save of two equal addresses keeps the later note.
        Candidate& kept = candidates[*earlier];
        refused << Refused { kept.line, kept.address,
            QStringLiteral("адрес повторяется в строке %1, записывается последняя строка").arg(c.line) };
        kept = c;
    }
    return candidates;
}

// Sorts the candidates into new, changed and unchanged by what is stored.
Status compareWithStored(DB& db, const QString& subnet, const QVector<Candidate>& candidates, Preview& out)
{
    const SqlResult stored = db.run(QStringLiteral("SELECT host, subnet, note FROM hosts"));
    if (!stored.ok())
        return Status(stored);
    QHash<QString, QPair<QString, QString>> storedHost; // address -> subnet, note
    for (const QVariantList& r : stored.rows)
        storedHost.insert(r.at(0).toString(), { r.at(1).toString(), r.at(2).toString() });
    for (const Candidate& c : candidates) {
        const auto found = storedHost.constFind(c.address);
        if (found == storedHost.constEnd())
            out.fresh << HostNote { c.address, c.note };
        else if (found->first != subnet)
            out.refused << Refused { c.line, c.address, QStringLiteral("записан в подсети ") + found->first };
        else if (c.note.isEmpty() || c.note == found->second)
            ++out.unchanged; // an empty cell never erases a stored note
        else
            out.changed << HostNote { c.address, c.note };
    }
    return {};
}

} // namespace

QStringList header()
{
    return { QStringLiteral("IP-адрес хоста"), QStringLiteral("Примечание") };
}

QStringList addressTitles()
{
    return { QStringLiteral("ip-адрес хоста"), QStringLiteral("ip-адрес"), QStringLiteral("ip адрес"),
        QStringLiteral("ip"), QStringLiteral("адрес"), QStringLiteral("хост"), QStringLiteral("host"),
        QStringLiteral("address"), QStringLiteral("ip address") };
}

QStringList noteTitles()
{
    return { QStringLiteral("примечание"), QStringLiteral("комментарий"), QStringLiteral("описание"),
        QStringLiteral("note"), QStringLiteral("comment"), QStringLiteral("description") };
}

Status exportTo(const QVector<HostNote>& rows, const QString& path)
{
    csv::Writer file(path, header(), separator);
    for (const HostNote& row : rows)
        if (!row.first.isEmpty() || !row.second.isEmpty())
            file.write({ row.first, row.second });
    return file.commit();
}

Result<Preview> preview(DB& db, const QString& subnet, QIODevice& device, csv::Limits limits)
{
    csv::Reader reader(device, QChar(), limits);
    QStringList cells;
    if (!reader.next(cells))
        return reader.status().ok() ? Status::failure(QStringLiteral("Файл пуст.")) : reader.status();
    const int addressAt = columnOf(cells, addressTitles());
    const int noteAt = columnOf(cells, noteTitles());
    if (addressAt < 0 || noteAt < 0)
        return Status::failure(addressAt < 0 ? missingColumn(QStringLiteral("адреса"), addressTitles())
                                             : missingColumn(QStringLiteral("примечания"), noteTitles()));
    Preview out;
    const QVector<Candidate> candidates = collect(reader, addressAt, noteAt, subnet, out.refused);
    if (!reader.status().ok())
        return reader.status();
    if (candidates.isEmpty() && out.refused.isEmpty())
        return Status::failure(QStringLiteral("В файле нет ни одной строки с адресом, кроме заголовка."));
    if (const Status compared = compareWithStored(db, subnet, candidates, out); !compared.ok())
        return compared;
    std::stable_sort(
        out.refused.begin(), out.refused.end(), [](const Refused& a, const Refused& b) { return a.line < b.line; });
    return out;
}

namespace {

// Read before the notes change: a changed note's entry keeps the note it replaced.
Result<QVector<changeLog::Entry>> importEntries(
    DB& db, const QString& subnet, const QString& name, const Preview& preview)
{
    const Result<QHash<QString, QString>> notes = hostTable::notesOf(db, subnet);
    if (!notes.ok())
        return Status(notes);
    QVector<changeLog::Entry> entries;
    for (const HostNote& row : preview.fresh)
        entries << changeLog::Entry { changeLog::What::Imported, subnet, name, row.first, {}, row.second };
    for (const HostNote& row : preview.changed)
        entries << changeLog::Entry { changeLog::What::Imported, subnet, name, row.first, notes.value.value(row.first),
            row.second };
    return entries;
}

} // namespace

Status write(DB& db, const QString& subnet, const Preview& preview)
{
    // Whatever goes in must not land in a file damaged since it was opened.
    if (const Status sound = db.checkIntegrity(); !sound.ok())
        return sound;
    return db.writeTransaction([&] {
        const Result<QString> name = hostTable::requireTreeRow(db, subnet);
        Status written = name.ok() ? hostTable::insertRows(db, subnet, preview.fresh) : Status(name);
        const Result<QVector<changeLog::Entry>> entries = written.ok() ? importEntries(db, subnet, name.value, preview)
                                                                       : Result<QVector<changeLog::Entry>>(written);
        written = entries.ok() ? hostTable::updateNotes(db, preview.changed) : Status(entries);
        return written.ok() ? changeLog::record(db, entries.value) : written;
    });
}

} // namespace hostListCsv
