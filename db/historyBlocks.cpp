#include "db/historyBlocks.h"

#include "db/DB.h"

namespace historyBlocks {

namespace {

const QString bit = QStringLiteral("(CAST(B'1' AS bit(256)) >> CAST(address & 255 AS integer))");
const QString none = QStringLiteral("CAST(0 AS bit(256))");
const QString sightingColumns
    = QStringLiteral("first_seen, first_method, first_port, last_seen, last_method, last_port");

// Rows of one an address (columns scan, address) packed into blocks.
QString packedAnswers(const QString& rows)
{
    return QStringLiteral("INSERT INTO scan_answer_blocks (scan, block, bits) SELECT scan, address >> 8, bit_or(%1) "
                          "FROM (SELECT DISTINCT scan, address FROM %2) AS r GROUP BY 1, 2")
        .arg(bit, rows);
}

// Rows of one an address packed into blocks; of an address given twice, the last answer kept.
QString packedSightings(const QString& rows)
{
    return QStringLiteral("INSERT INTO sighting_blocks (block, bits, %1) SELECT address >> 8, bit_or(%2), %1 FROM "
                          "(SELECT DISTINCT ON (address) * FROM %3 ORDER BY address, last_seen DESC NULLS LAST) AS r "
                          "GROUP BY address >> 8, %1")
        .arg(sightingColumns, bit, rows);
}

QString jsonRows(const QString& view)
{
    return QStringLiteral("json_populate_recordset(CAST(NULL AS %1), CAST(? AS json))").arg(view);
}

// "block:xHEX;..." of the addresses, for string_to_table() and a cast to bit(256).
QString packed(const QVector<quint32>& ascending)
{
    QByteArray out;
    out.reserve(ascending.size() / 4 + 64);
    int i = 0;
    while (i < ascending.size()) {
        const quint32 block = ascending.at(i) >> 8;
        QByteArray bits(32, '\0');
        for (; i < ascending.size() && ascending.at(i) >> 8 == block; ++i) {
            const quint32 place = ascending.at(i) & 255;
            bits[int(place / 8)] = char(uchar(bits.at(int(place / 8))) | (0x80 >> (place % 8)));
        }
        if (!out.isEmpty())
            out += ';';
        out += QByteArray::number(block) + ":x" + bits.toHex();
    }
    return QString::fromLatin1(out);
}

// The addresses of a block's bit string as the server writes it ("0101...").
template <typename Each> void eachAddress(const QVariant& block, const QVariant& bits, Each each)
{
    const quint32 base = quint32(block.toLongLong()) << 8;
    const QString text = bits.toString();
    for (int i = 0; i < text.size() && i < 256; ++i)
        if (text.at(i) == QLatin1Char('1'))
            each(base + quint32(i));
}

} // namespace

QStringList createStatements()
{
    const QString earlier = QStringLiteral("EXISTS (SELECT 1 FROM pg_tables WHERE schemaname = current_schema() AND "
                                           "tablename = '%1')");
    return { QStringLiteral(
        "DO $$ BEGIN "
        "CREATE TABLE IF NOT EXISTS scan_answer_blocks (scan int, block bigint, bits bit(256) NOT NULL, "
        "PRIMARY KEY (scan, block)); "
        "CREATE TABLE IF NOT EXISTS sighting_blocks (block bigint NOT NULL, bits bit(256) NOT NULL, first_seen text, "
        "first_method text, first_port int, last_seen text, last_method text, last_port int); "
        "CREATE INDEX IF NOT EXISTS sighting_blocks_by_block ON sighting_blocks (block); "
        "IF %1 THEN %2; DROP TABLE scan_answers; END IF; "
        "IF %3 THEN %4; DROP TABLE sightings; END IF; "
        "CREATE OR REPLACE VIEW scan_answers AS SELECT b.scan, (b.block << 8) + i AS address FROM scan_answer_blocks "
        "AS b, generate_series(0, 255) AS i WHERE get_bit(b.bits, i) = 1; "
        "CREATE OR REPLACE VIEW sightings AS SELECT (b.block << 8) + i AS address, b.first_seen, b.first_method, "
        "b.first_port, b.last_seen, b.last_method, b.last_port FROM sighting_blocks AS b, generate_series(0, 255) "
        "AS i WHERE get_bit(b.bits, i) = 1; "
        "END $$")
                 .arg(earlier.arg(QStringLiteral("scan_answers")), packedAnswers(QStringLiteral("scan_answers")),
                     earlier.arg(QStringLiteral("sightings")), packedSightings(QStringLiteral("sightings"))) };
}

QString layoutQuery()
{
    return QStringLiteral(
        "SELECT count(*) FILTER (WHERE relkind = 'r' AND relname IN ('scans', 'scan_answer_blocks', "
        "'sighting_blocks')) = 3 AND count(*) FILTER (WHERE relkind = 'v' AND relname IN ('scan_answers', "
        "'sightings')) = 2, count(*) FILTER (WHERE relkind = 'r' AND relname IN ('scans', 'scan_answers', "
        "'sightings')) = 3 FROM pg_class WHERE relnamespace = CAST(current_schema() AS regnamespace)");
}

SqlResult addAnswers(DB& db, qint64 scan, const QVector<quint32>& ascending)
{
    return db.run(QStringLiteral("INSERT INTO scan_answer_blocks (scan, block, bits) SELECT CAST(? AS integer), "
                                 "CAST(split_part(e, ':', 1) AS bigint), CAST(split_part(e, ':', 2) AS bit(256)) "
                                 "FROM string_to_table(CAST(? AS text), ';') AS e WHERE e <> ''"),
        { scan, packed(ascending) });
}

// The stored rows that share a block with the answers and are not newer are taken out, and come
// back split: their bits that answered, with this answer as their last; their others, as they
// were. The block's bits that no row held come as new rows. The new rows of one block with the
// same answers are one row. Writers of the program hold the writers' lock, so that none changes
// a block in between.
SqlResult addSightings(DB& db, qint64 scan, const QString& seen, const QString& method, int port)
{
    return db.run(QStringLiteral(
                      "WITH v (seen, method, port) AS (VALUES (CAST(? AS text), CAST(? AS text), CAST(? AS integer))), "
                      "a AS MATERIALIZED (SELECT block, bits FROM scan_answer_blocks WHERE scan = CAST(? AS integer)), "
                      "hit AS (DELETE FROM sighting_blocks AS s USING a, v WHERE s.block = a.block AND (s.bits & "
                      "a.bits) <> %1 AND v.seen >= s.last_seen RETURNING s.*, a.bits AS answered), "
                      "known AS (SELECT s.block, bit_or(s.bits) AS bits FROM sighting_blocks AS s JOIN a USING (block) "
                      "GROUP BY s.block), "
                      "fresh AS (SELECT block, bits & ~answered AS bits, %2 FROM hit "
                      "UNION ALL SELECT block, bits & answered, first_seen, first_method, first_port, v.seen, "
                      "v.method, v.port FROM hit, v "
                      "UNION ALL SELECT a.block, a.bits & ~coalesce(k.bits, %1), v.seen, v.method, v.port, v.seen, "
                      "v.method, v.port FROM v, a LEFT JOIN known AS k USING (block)) "
                      "INSERT INTO sighting_blocks (block, bits, %2) SELECT block, bit_or(bits), %2 FROM fresh "
                      "WHERE bits <> %1 GROUP BY block, %2")
                      .arg(none, sightingColumns),
        { seen, method, port, scan });
}

SqlResult dropAnswers(DB& db, const QString& subnet, qint64 kept)
{
    return db.run(QStringLiteral("DELETE FROM scan_answer_blocks WHERE scan IN (SELECT id FROM scans WHERE subnet = "
                                 "? AND id <> ?)"),
        { subnet, kept });
}

Result<QVector<quint32>> answers(DB& db, qint64 scan)
{
    const SqlResult r = db.run(QStringLiteral("SELECT block, CAST(bits AS text) FROM scan_answer_blocks WHERE scan "
                                              "= ? ORDER BY block"),
        { scan });
    if (!r.ok())
        return Status(r);
    QVector<quint32> out;
    for (const QVariantList& row : r.rows)
        eachAddress(row.value(0), row.value(1), [&](quint32 address) { out << address; });
    return out;
}

Status sightings(
    DB& db, quint32 first, quint32 last, const std::function<void(const QVariantList& answer, quint32 address)>& each)
{
    const SqlResult r = db.run(QStringLiteral("SELECT last_seen, last_method, last_port, block, CAST(bits AS text) "
                                              "FROM sighting_blocks WHERE block BETWEEN ? AND ?"),
        { qint64(first >> 8), qint64(last >> 8) });
    for (const QVariantList& row : r.rows)
        eachAddress(row.value(3), row.value(4), [&](quint32 address) {
            if (address >= first && address <= last)
                each(row, address);
        });
    return Status(r);
}

QString sightingOfAddress()
{
    return QStringLiteral("SELECT 2, last_seen, last_method, CAST(last_port AS TEXT) FROM sighting_blocks, (SELECT "
                          "CAST(? AS bigint) AS a) AS q WHERE block = q.a >> 8 AND get_bit(bits, CAST(q.a & 255 AS "
                          "integer)) = 1");
}

QString insertRows(const QString& table)
{
    if (table == QLatin1String("scan_answers"))
        return packedAnswers(jsonRows(table));
    if (table == QLatin1String("sightings"))
        return packedSightings(jsonRows(table));
    return {};
}

QString deleteRows(const QString& table)
{
    if (table == QLatin1String("scan_answers"))
        return QStringLiteral("DELETE FROM scan_answer_blocks");
    if (table == QLatin1String("sightings"))
        return QStringLiteral("DELETE FROM sighting_blocks");
    return {};
}

} // namespace historyBlocks
