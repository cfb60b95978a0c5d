// The CSV files without windows: the inventory round trip over hostile texts, the refusals of
// bad files, the one-transaction import, and the host list preview's counts and reasons.
#include "db/DB.h"
#include "db/changeLog.h"
#include "db/csv.h"
#include "hosts/hostListCsv.h"
#include "hosts/hostTable.h"
#include "tests/support/dataSupport.h"
#include "tree/inventoryCsv.h"
#include "tree/subnetTable.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

#include <memory>

namespace {

// A file of any size that is never held in memory: `head` once, then `line` over and over.
class EndlessFile : public QIODevice {
public:
    EndlessFile(QByteArray first, QByteArray repeated, qint64 lines)
        : head(std::move(first))
        , line(std::move(repeated))
        , left(lines)
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesServed = 0;

protected:
    qint64 readData(char* data, qint64 max) override
    {
        pending += head;
        head.clear();
        for (; pending.size() < max && left > 0; --left)
            pending += line;
        const qint64 n = std::min<qint64>(max, pending.size());
        memcpy(data, pending.constData(), size_t(n));
        pending.remove(0, int(n));
        bytesServed += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray head, line, pending;
    qint64 left;
};

const QByteArray header = "record;name;subnet;parent_subnet;host;note\r\n";

QString readError(const QByteArray& bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return inventoryCsv::read(buffer).errorText;
}

} // namespace

class TestCsvFiles : public QObject {
    Q_OBJECT
private slots:
    void init() { dir = std::make_unique<TempDataDir>(); }
    void cleanup() { dir.reset(); }

    void hostileTextsRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        const char* texts[] = { "Филиал «Север», Ёжкин-кот", "", " ", "  leading", "trailing  ", "a,b;c", "say \"hi\"",
            "\"", "\"\"", "line1\nline2", "line1\r\nline2\r\n", "\r", "\n", "=1+2", "+7 900", "-", "@x", "\tTab", "'",
            "'=x", "''", "''=x", "'+7", "=HYPERLINK(\"http://x\")", "a'", "x\"\ny\";z" };
        QStringList all;
        for (const char* t : texts)
            all << QString::fromUtf8(t);
        // Not spelled in UTF-8 above: fromUtf8 drops a leading byte-order mark.
        all << QChar(0xfeff) + QStringLiteral("bom") << QChar(0xfffe) + QStringLiteral("reversed bom");
        for (const QString& t : all)
            QTest::newRow(t.toUtf8().toPercentEncoding().constData()) << t;
    }

    // The text as organisation name, branch name and host note: stored exactly by the program's saves,
    // export, an empty database, import, and every row with its links back as it was; a /32 branch
    // holds its one address. No cell of the file starts a spreadsheet formula.
    void hostileTextsRoundTrip()
    {
        QFETCH(QString, text);
        const QString file = dir->path() + "/inventory.csv";
        QStringList before;
        {
            DB db;
            DbProbe probe(dir->dbPath());
            QVERIFY(subnetTable::insertOrganisation(db, text, "10.0.0.0/8").ok());
            QVERIFY(subnetTable::insertBranch(db, text + "2", "10.2.0.9/32", 1, "10.0.0.0/8").ok());
            QVERIFY(subnetTable::insertBranch(db, text, "10.1.0.0/16", 1, "10.0.0.0/8").ok());
            for (const QStringList& h : { QStringList { "10.1.0.0/16", "10.1.0.5", "" },
                     QStringList { "10.0.0.0/8", "10.0.0.1", "x" }, QStringList { "10.2.0.9/32", "10.2.0.9", "" } })
                QVERIFY(hostTable::insertHost(db, h[0], h[1], h[2]).ok());
            // Typed later: the export keeps the rows in the order they were added all the same.
            QVERIFY(hostTable::saveRows(db, "10.1.0.0/16", { { "10.1.0.5", text, true } }).ok());
            const QString hex = text.toUtf8().toHex().toUpper();
            QCOMPARE(probe.rows(QString(onServer() ? "SELECT upper(encode(convert_to(name, 'UTF8'), 'hex')), "
                                                     "upper(encode(convert_to(note, 'UTF8'), 'hex'))"
                                                   : "SELECT hex(name), hex(note)")
                         + " FROM subnets, hosts WHERE subnets.id = 1 AND host = '10.1.0.5'"),
                QVector<QVariantList>({ { hex, hex } }));
            before = probe.inventory();
            QCOMPARE(inventoryCsv::exportTo(db, file).errorText, QString());
            QVERIFY(probe.exec("DELETE FROM subnets") && probe.exec("DELETE FROM hosts"));
        }
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QVERIFY(in.peek(10).startsWith("\xEF\xBB\xBF"
                                       "record;"));
        // What a spreadsheet sees of the cell: RFC 4180 quotes off, the apostrophe still on.
        QByteArray cell = csv::record({ text }, ';').chopped(2);
        if (cell.startsWith('"'))
            cell = cell.mid(1);
        QVERIFY(cell.isEmpty() || !QByteArray("=+-@\t\r").contains(cell.at(0)));
        in.seek(0);
        const auto loaded = inventoryCsv::read(in);
        QVERIFY2(loaded.ok(), qPrintable(loaded.errorText));
        DB db;
        QVERIFY(inventoryCsv::write(db, loaded.value).ok());
        DbProbe probe(dir->dbPath());
        QCOMPARE(probe.inventory(), before);

        // The change log's export, by the same rules: the note before (as the program reads it: SQLite
        // reads U+FFFE as U+FFFD) and after come back as they were.
        const QString stored
            = db.run("SELECT note FROM hosts WHERE host = '10.1.0.5'").rows.value(0).value(0).toString();
        QVERIFY(hostTable::saveRows(db, "10.1.0.0/16", { { "10.1.0.5", text + "!", true } }).ok());
        const auto lines = changeLog::page(db, {}, 0, 1);
        QVERIFY(lines.ok() && changeLog::exportTo(lines.value, file).ok());
        QFile log(file);
        QVERIFY(log.open(QIODevice::ReadOnly) && log.peek(3) == "\xEF\xBB\xBF");
        csv::Reader reader(log, ';');
        QStringList header, cells, after;
        QVERIFY(reader.next(header) && reader.next(cells) && !reader.next(after));
        QCOMPARE(cells.mid(5), QStringList({ "10.1.0.5", stored, text + "!" }));
    }

    void badInventoryFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QByteArray org = "subnet;Орг;10.0.0.0/8;;;\r\n";
        QTest::newRow("empty") << QByteArray() << "Файл пуст.";
        QTest::newRow("header only") << header << "нет ни одной записи, кроме заголовка";
        QTest::newRow("image") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << "не текстовый";
        QTest::newRow("Windows-1251") << header + "subnet;\xce\xf0\xe3;10.0.0.0/8;;;\r\n"
                                      << "не в кодировке UTF-8";
        QTest::newRow("cut inside a character") << header + "subnet;\xd0"
                                                << "обрывается посреди символа";
        QTest::newRow("missing column") << QByteArray("record;name;subnet;host;note\r\n") + org
                                        << "нет столбца «parent_subnet»";
        QTest::newRow("unclosed quote") << header + org + "host;;10.0.0.0/8;;10.0.0.1;\"note\r\n"
                                        << "Строка 3: кавычка не закрыта";
        QTest::newRow("unknown record") << header + "branch;x;10.0.0.0/8;;;\r\n"
                                        << "Строка 2: в столбце record";
        QTest::newRow("not a subnet") << header + "subnet;x;10.0.0.1/8;;;\r\n"
                                      << "«10.0.0.1/8» — не подсеть";
        QTest::newRow("two organisations") << header + org + "subnet;B;11.0.0.0/8;;;\r\n"
                                           << "Строка 3: вторая организация (первая — в строке 2)";
        QTest::newRow("repeated subnet") << header + org + "subnet;x;10.0.0.0/8;;;\r\n"
                                         << "уже записана в строке 2";
        QTest::newRow("parent missing") << header + org + "subnet;x;10.1.0.0/16;10.2.0.0/16;;\r\n"
                                        << "Строка 3: родительской подсети «10.2.0.0/16» нет";
        QTest::newRow("parent outside") << header + org + "subnet;x;11.1.0.0/16;10.0.0.0/8;;\r\n"
                                        << "подсеть 11.1.0.0/16 не входит в подсеть родителя 10.0.0.0/8";
        QTest::newRow("siblings overlap")
            << header + org + "subnet;a;10.1.0.0/16;10.0.0.0/8;;\r\nsubnet;b;10.1.2.0/24;10.0.0.0/8;;\r\n"
            << "Строка 4: подсети 10.1.0.0/16 и 10.1.2.0/24 одного родителя пересекаются";
        QTest::newRow("host of no row") << header + org + "host;;10.1.0.0/16;;10.1.0.5;\r\n"
                                        << "Строка 3: подсети «10.1.0.0/16» хоста 10.1.0.5 нет";
        QTest::newRow("host outside") << header + org + "host;;10.0.0.0/8;;11.0.0.5;\r\n"
                                      << "Строка 3: Хост с адресом 11.0.0.5 не входит в подсеть 10.0.0.0/8";
        QTest::newRow("broadcast") << header + "host;;10.0.0.0/8;;10.255.255.255;\r\n" + org
                                   << "Строка 2: Адрес 10.255.255.255 является широковещательным";
        QTest::newRow("leading zero") << header + org + "host;;10.0.0.0/8;;10.0.0.01;\r\n"
                                      << "«10.0.0.01» — не IPv4-адрес";
        QTest::newRow("own parent") << header + org + "subnet;x;10.1.0.0/16;10.1.0.0/16;;\r\n"
                                    << "Строка 3: подсеть 10.1.0.0/16 указана родителем самой себя";
        QTest::newRow("cycle") << header + org
                + "subnet;a;10.1.0.0/16;10.2.0.0/16;;\r\nsubnet;b;10.2.0.0/16;10.1.0.0/16;;\r\n"
                               << "Строка 3: подсеть 10.1.0.0/16 не входит в подсеть родителя 10.2.0.0/16";
        QTest::newRow("no organisation") << header + "subnet;a;10.1.0.0/16;10.0.0.0/8;;\r\n"
                                         << "Строка 2: в файле нет организации";
        QTest::newRow("lone CR in quotes")
            << header + org + "host;;10.0.0.0/8;;10.0.0.1;\"a\rb\"\r\nhost;;10.0.0.0/8;;10.0.0.01;\r\n"
            << "Строка 5: «10.0.0.01»";
        // Accepted: an empty error.
        QTest::newRow("separator-only record") << header + org + ";;;;;\r\n"
                                               << "";
        QTest::newRow("blank first line") << "\r\n" + header + org << "";
        QTest::newRow("BOM, blank line") << "\xEF\xBB\xBF\n" + header + org << "";
        QTest::newRow("quote inside a header cell") << "x\"y;" + header + ";" + org << "";
    }

    void badInventoryFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        const QString got = readError(bytes);
        QVERIFY2(error.isEmpty() ? got.isEmpty() : got.contains(error), qPrintable(got));
    }

    // A line of 100 MB and one record too many: refused with the bound named, long before the end.
    // Exactly as many records as the bound after the header: read.
    void hugeFilesStopEarly()
    {
        EndlessFile longLine(header + "subnet;", "aaaaaaaaaa", 10'000'000);
        auto loaded = inventoryCsv::read(longLine);
        QVERIFY2(loaded.errorText.contains("Строка 2 длиннее 1048576 знаков"), qPrintable(loaded.errorText));
        QVERIFY(longLine.bytesServed < 3 * (1 << 20));
        for (const int hosts : { 499'999, 500'000, 1'000'000 }) {
            EndlessFile manyLines(header + "subnet;Орг;10.0.0.0/8;;;\r\n", "host;;10.0.0.0/8;;10.0.0.1;\r\n", hosts);
            loaded = inventoryCsv::read(manyLines);
            QCOMPARE(loaded.errorText.contains("больше 500000 записей"), hosts >= 500'000);
            QCOMPARE(loaded.ok(), hosts < 500'000);
            QVERIFY(manyLines.bytesServed < 20'000'000);
        }
    }

    // Repeated addresses: the last line wins. A write that fails half-way leaves both tables empty,
    // and a database with rows is refused.
    void importIsAllOrNothing()
    {
        QBuffer file;
        file.setData(header
            + "subnet;Орг;10.0.0.0/8;;;\r\nhost;;10.0.0.0/8;;10.0.0.1;first\r\nhost;;10.0.0.0/8;;10.0.0.2;\r\n"
              "host;;10.0.0.0/8;;10.0.0.1;last\r\n");
        file.open(QIODevice::ReadOnly);
        const auto loaded = inventoryCsv::read(file);
        QVERIFY2(loaded.ok(), qPrintable(loaded.errorText));
        QCOMPARE(loaded.value.repeatedHosts, 1);
        DB db;
        DbProbe probe(dir->dbPath());
        QVERIFY(
            probe.exec(onServer() ? "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
                                    "NEW.host = '10.0.0.2' THEN RAISE EXCEPTION 'refused by trigger'; END IF; RETURN "
                                    "NEW; END $$; CREATE TRIGGER refuse BEFORE INSERT ON hosts FOR EACH ROW EXECUTE "
                                    "FUNCTION refuse()"
                                  : "CREATE TRIGGER refuse BEFORE INSERT ON hosts WHEN NEW.host = '10.0.0.2' "
                                    "BEGIN SELECT RAISE(ABORT, 'refused by trigger'); END"));
        QVERIFY(inventoryCsv::write(db, loaded.value).errorText.contains("refused by trigger"));
        QCOMPARE(probe.inventory(), QStringList());
        QVERIFY(probe.exec(onServer() ? "DROP TRIGGER refuse ON hosts" : "DROP TRIGGER refuse"));
        QVERIFY(inventoryCsv::write(db, loaded.value).ok());
        QCOMPARE(probe.inventory(),
            QStringList({ "Орг|10.0.0.0/8|NULL|NULL|1", "10.0.0.0/8|10.0.0.1|last", "10.0.0.0/8|10.0.0.2|" }));
        QVERIFY(inventoryCsv::refusalUnlessEmpty(db).errorText.contains("Сначала очистите базу данных"));
        QVERIFY(inventoryCsv::write(db, loaded.value).errorText.contains("только в пустую базу"));
        QCOMPARE(probe.inventory().size(), 3);
    }

    void hostListPreview_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("preview"); // new | changed | unchanged | refused lines; null when refused whole
        // Part of the refusal of the whole file; with a preview, of the write after another user deleted the branch.
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QStringList>("stored"); // afterwards: subnet|host|note in id order
        const QStringList untouched { "192.168.1.0/24|192.168.1.5|old", "192.168.1.0/24|192.168.1.6|keep",
            "192.168.0.0/16|192.168.1.7|other" };
        QStringList renoted = untouched;
        renoted[0] = "192.168.1.0/24|192.168.1.5|new";
        QTest::newRow("semicolons with BOM, Russian header")
            << QByteArray(
                   "\xEF\xBB\xBFIP-адрес хоста;Примечание\r\n192.168.1.10;принтер; 3 этаж\r\n192.168.1.5;new\r\n"
                   "192.168.1.6;\r\n192.168.2.1;x\r\n192.168.1.255;\r\n192.168.1.0;\r\n192.168.1.7;y\r\n;z\r\nabc;\r\n"
                   "192.168.1.011;\r\n 192.168.1.11 ;'=1\r\n")
            << "192.168.1.10=принтер, 192.168.1.11==1 | 192.168.1.5=new | 1 | "
               "5:Хост с адресом 192.168.2.1 не входит в подсеть 192.168.1.0/24; "
               "6:Адрес 192.168.1.255 является широковещательным для подсети 192.168.1.0/24; "
               "7:Адрес 192.168.1.0 - адрес подсети 192.168.1.0/24; 8:записан в подсети 192.168.0.0/16; 9:адрес не "
               "указан; "
               "10:не IPv4-адрес; 11:не IPv4-адрес"
            << QString()
            << renoted + QStringList { "192.168.1.0/24|192.168.1.10|принтер", "192.168.1.0/24|192.168.1.11|=1" };
        QTest::newRow("commas without BOM, English header, repeats")
            << QByteArray("Note,Host\n\"a, b\",192.168.1.20\nfirst,192.168.1.21\n,192.168.1.20\nlast,192.168.1.21\n")
            << "192.168.1.20=, 192.168.1.21=last |  | 0 | "
               "2:адрес повторяется в строке 4, записывается последняя строка; "
               "3:адрес повторяется в строке 5, записывается последняя строка"
            << QString()
            << untouched + QStringList { "192.168.1.0/24|192.168.1.20|", "192.168.1.0/24|192.168.1.21|last" };
        QTest::newRow("branch deleted by another user before the write")
            << QByteArray("Note,Host\nfirst,192.168.1.21\nnew,192.168.1.5\n")
            << "192.168.1.21=first | 192.168.1.5=new | 0 | "
            << "Подсеть 192.168.1.0/24 удалена из базы данных другим пользователем или в другом окне." << untouched;
        QTest::newRow("BOM, blank line, commas; an empty record skipped")
            << QByteArray("\xEF\xBB\xBF\r\nIP,Примечание\r\n192.168.1.30,\"a; b\"\r\n,\r\n")
            << "192.168.1.30=a; b |  | 0 | " << QString()
            << untouched + QStringList { "192.168.1.0/24|192.168.1.30|a; b" };
        QTest::newRow("no address column")
            << QByteArray("name;Примечание\r\nx;y\r\n") << QString() << "нет столбца адреса" << untouched;
        QTest::newRow("no note column") << QByteArray("ip;name\r\n192.168.1.9;y\r\n") << QString()
                                        << "нет столбца примечания" << untouched;
        QTest::newRow("header only") << QByteArray("ip;note\r\n") << QString() << "нет ни одной строки с адресом"
                                     << untouched;
        QTest::newRow("/32: its one address") << QByteArray("ip;note\r\n10.0.0.7;one\r\n") << "10.0.0.7=one |  | 0 | "
                                              << QString() << untouched + QStringList { "10.0.0.7/32|10.0.0.7|one" };
    }

    // The preview's sorting into new, changed, unchanged and refused with line and reason; writing it.
    void hostListPreview()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, preview);
        QFETCH(QString, fault);
        QFETCH(QStringList, stored);
        DB db;
        DbProbe probe(dir->dbPath());
        QVERIFY(probe.addSubnets({ { 1, "Склад", "192.168.1.0/24", QVariant(), QVariant() },
            { 2, "Один адрес", "10.0.0.7/32", QVariant(), QVariant() } }));
        QVERIFY(probe.addHosts({ { "192.168.1.0/24", "192.168.1.5", "old" },
            { "192.168.1.0/24", "192.168.1.6", "keep" }, { "192.168.0.0/16", "192.168.1.7", "other" } }));
        QBuffer file;
        file.setData(bytes);
        file.open(QIODevice::ReadOnly);
        // The row named after a /32 imports into that branch, the others into the /24.
        const QString subnet = QTest::currentDataTag()[0] == '/' ? "10.0.0.7/32" : "192.168.1.0/24";
        const auto loaded = hostListCsv::preview(db, subnet, file);
        QCOMPARE(loaded.ok(), !preview.isNull());
        Status written;
        if (loaded.ok()) {
            const auto pairs = [](const QVector<hostListCsv::HostNote>& rows) {
                QStringList out;
                for (const auto& r : rows)
                    out << r.first + '=' + r.second;
                return out.join(", ");
            };
            QStringList refused;
            for (const auto& r : loaded.value.refused)
                refused << QString::number(r.line) + ':' + r.reason;
            const QString got = QStringList { pairs(loaded.value.fresh), pairs(loaded.value.changed),
                QString::number(loaded.value.unchanged), refused.join("; ") }
                                    .join(" | ");
            QCOMPARE(got, preview);
            if (!fault.isNull())
                QVERIFY(probe.exec("DELETE FROM subnets"));
            written = hostListCsv::write(db, subnet, loaded.value);
            QCOMPARE(written.ok(), fault.isNull());
        }
        const QString failure = loaded.errorText + written.errorText;
        QVERIFY2(failure.contains(fault), qPrintable(failure)); // an empty fault is in any text
        QCOMPARE(probe.lines("SELECT subnet, host, note FROM hosts ORDER BY id"), stored);
    }

private:
    std::unique_ptr<TempDataDir> dir;
};

QTEST_GUILESS_MAIN(TestCsvFiles)
#include "test_csv_files.moc"
