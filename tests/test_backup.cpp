// Backup and restore without windows: copies taken while another connection writes, restore of
// every shared table in one step, and each bad copy refused with the live file unchanged.
#include "db/DB.h"
#include "db/backup.h"
#include "tests/support/dataSupport.h"
#include "tree/inventoryCsv.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <QScopeGuard>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

const backup::RowCheck check = inventoryCsv::checkStoredRows;
// Far above what a small file takes, far below what a file built to be slow would.
constexpr int bound = 2000;

QStringList dump(const QString& file)
{
    DbProbe probe(file);
    return probe.lines("SELECT id, subnet, parent_id, parent_subnet, name FROM subnets ORDER BY id")
        + probe.lines("SELECT id, subnet, host, note FROM hosts ORDER BY id");
}

// Another program's file, or this program's tables with the wrong columns: written without the
// rules this program puts into its files.
void makeDatabase(const QString& path, const QStringList& statements)
{
    DbProbe probe(path);
    for (const QString& trigger : probe.lines("SELECT name FROM sqlite_master WHERE type = 'trigger'"))
        QVERIFY(probe.exec("DROP TRIGGER " + trigger));
    for (const QString& sql : statements)
        QVERIFY(probe.exec(sql));
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<TempDataDir>();
        db = std::make_unique<DB>();
        DbProbe probe(dir->dbPath());
        probe.exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('Орг', '10.0.0.0/8', NULL, "
                   "NULL), ('Север', '10.1.0.0/16', 1, '10.0.0.0/8')");
        probe.exec("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.0.0/16', '10.1.0.5', 'принтер')");
    }
    void cleanup()
    {
        db.reset();
        dir.reset();
    }

    void copyWhileAnotherConnectionWrites();
    void copyRefusals();
    void restoreReplacesSharedTables();
    void badCopiesRefused_data();
    void badCopiesRefused();
    void walAndOlderCopiesRestored_data();
    void walAndOlderCopiesRestored();

private:
    QString path(const QString& name) const { return dir->path() + '/' + name; }
    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<DB> db;
};

// Each copy holds whole transactions of the writer only (a subnet always with its host) and passes
// the integrity check; the last replaces the earlier ones under the same name.
void TestBackup::copyWhileAnotherConnectionWrites()
{
    std::atomic<bool> stop { false };
    std::atomic<int> committed { 0 };
    const QString file = dir->dbPath();
    std::thread writer([&] {
        {
            QSqlDatabase conn = QSqlDatabase::addDatabase("QSQLITE", "writer");
            conn.setDatabaseName(file);
            conn.setConnectOptions("QSQLITE_BUSY_TIMEOUT=5000");
            conn.open();
            QSqlQuery q(conn);
            for (int i = 0; !stop && i < 60000; ++i) {
                conn.transaction();
                q.exec(QString("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('w', "
                               "'11.%1.%2.0/24', 1, '10.0.0.0/8')")
                           .arg(i / 256)
                           .arg(i % 256));
                q.exec(QString("INSERT INTO hosts (subnet, host, note) VALUES ('11.%1.%2.0/24', '11.%1.%2.1', 'w')")
                           .arg(i / 256)
                           .arg(i % 256));
                if (conn.commit())
                    ++committed;
                // Between commits the file is free for a moment, as between a user's saves; a writer
                // that never lets go would starve every reader of a rollback journal.
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        QSqlDatabase::removeDatabase("writer");
    });
    const auto joined = qScopeGuard([&] {
        stop = true;
        writer.join();
    });
    QVector<int> seen;
    for (int i = 0; i < 5; ++i) {
        QTRY_VERIFY(committed > (i + 1) * 20);
        QCOMPARE(backup::makeCopy(*db, path("copy.db")).errorText, QString());
        DbProbe copy(path("copy.db"));
        const auto counts = copy.rows("SELECT (SELECT COUNT(*) FROM subnets), (SELECT COUNT(*) FROM hosts), "
                                      "(SELECT integrity_check FROM pragma_integrity_check)");
        QCOMPARE(counts.size(), 1); // no tables: the copy is not a copy
        QCOMPARE(counts[0][0].toInt(), counts[0][1].toInt() + 1);
        QCOMPARE(counts[0][2].toString(), QString("ok"));
        seen << counts[0][1].toInt();
    }
    QVERIFY2(seen.first() < seen.last(), "the copies were taken while the writer went on");
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden).filter(".zarvin-copy"), QStringList());
}

// Not over the live file, not into a folder that cannot be written; the live file stays as it was.
void TestBackup::copyRefusals()
{
    const QByteArray before = fileHash(dir->dbPath());
    QVERIFY(backup::makeCopy(*db, dir->dbPath()).errorText.contains("поверх самой базы данных"));
    QVERIFY(backup::makeCopy(*db, dir->path() + "/./subnets.db").errorText.contains("поверх самой базы данных"));
    QVERIFY(backup::makeCopy(*db, "/proc/zarvin-copy.db").errorText.contains("Не удалось создать файл в папке /proc"));
    QVERIFY(backup::makeCopy(*db, path("missing/copy.db")).errorText.contains("Не удалось создать файл в папке"));
    QVERIFY(QFile::link(dir->path(), path("again")));
    for (const QString& name : { path("subnets.db-journal"), path("subnets.db-wal"), path("again/subnets.db-shm") }) {
        QVERIFY(backup::makeCopy(*db, name).errorText.contains("занято служебным файлом SQLite этой базы данных"));
        QVERIFY(!QFile::exists(name));
    }
    QVERIFY(backup::makeCopy(*db, path("again/subnets-changes.db")).errorText.contains("журналом изменений"));
    QCOMPARE(fileHash(dir->dbPath()), before);
}

// Every table the copy shares with the live file, with the same columns, takes the copy's rows;
// ids and links stay. A failure half-way leaves the live content as it was.
void TestBackup::restoreReplacesSharedTables()
{
    DbProbe live(dir->dbPath());
    QVERIFY(live.exec("CREATE TABLE scan_history (id integer primary key, host text, at text)"));
    QVERIFY(live.exec("CREATE TABLE live_only (x text)"));
    QVERIFY(live.exec("INSERT INTO live_only VALUES ('stays')"));
    QVERIFY(live.exec("INSERT INTO scan_history (host, at) VALUES ('10.1.0.5', 'before')"));
    QCOMPARE(backup::makeCopy(*db, path("copy.db")).errorText, QString());
    const QStringList copied = dump(path("copy.db"));
    QVERIFY(live.exec("DELETE FROM subnets WHERE subnet = '10.1.0.0/16'"));
    QVERIFY(live.exec("UPDATE hosts SET note = 'changed'"));
    QVERIFY(live.exec("INSERT INTO scan_history (host, at) VALUES ('10.1.0.6', 'after')"));
    QVERIFY(
        live.exec("CREATE TRIGGER refuse BEFORE INSERT ON hosts BEGIN SELECT RAISE(ABORT, 'refused by trigger'); END"));
    const QStringList changed = dump(dir->dbPath());
    QVERIFY(backup::restore(*db, path("copy.db"), check).errorText.contains("refused by trigger"));
    QCOMPARE(dump(dir->dbPath()), changed);
    QVERIFY(live.exec("DROP TRIGGER refuse"));
    const backup::Inspection counts = backup::inspect(*db, path("copy.db"), check).value;
    QCOMPARE(QVector<qint64>({ counts.subnetsNow, counts.hostsNow, counts.subnetsInCopy, counts.hostsInCopy }),
        QVector<qint64>({ 1, 1, 2, 1 }));
    QCOMPARE(backup::restore(*db, path("copy.db"), check).errorText, QString());
    QCOMPARE(dump(dir->dbPath()), copied);
    QCOMPARE(live.rows("SELECT at FROM scan_history"), QVector<QVariantList>({ { "before" } }));
    QCOMPARE(live.rows("SELECT x FROM live_only"), QVector<QVariantList>({ { "stays" } }));
}

void TestBackup::badCopiesRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QStringList>("sql"); // a new file of these statements ("new"), or run on a backup ("backup")
    QTest::addColumn<QString>("error");
    const QString live = "Это и есть открытая база данных", broken = "не является исправной базой данных SQLite";
    const QString subnets = "CREATE TABLE subnets (id integer primary key, subnet text UNIQUE, parent_id int, "
                            "parent_subnet text, name text)";
    QTest::newRow("the live file itself") << "live" << QStringList() << live;
    QTest::newRow("a link to the live file") << "link" << QStringList() << live;
    QTest::newRow("truncated copy") << "truncated" << QStringList() << broken;
    QTest::newRow("text file") << "text" << QStringList() << broken;
    QTest::newRow("another program's database")
        << "new" << QStringList { "CREATE TABLE notes (id integer primary key, body text)" }
        << "В файле нет таблицы subnets";
    QTest::newRow("right names, wrong columns")
        << "new" << QStringList { subnets, "CREATE TABLE hosts (id integer primary key, subnet text, comment text)" }
        << "Таблица hosts в файле имеет столбцы id, subnet, comment";
    QTest::newRow("missing file") << "missing" << QStringList() << "Файл не найден";
    QTest::newRow("a view without end named subnets")
        << "new"
        << QStringList { "CREATE VIEW subnets AS WITH RECURSIVE n(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM n) "
                         "SELECT id, '' AS subnet, NULL AS parent_id, '' AS parent_subnet, '' AS name FROM n",
               "CREATE TABLE hosts (id integer primary key, subnet text, host text UNIQUE, note text)" }
        << "В файле нет таблицы subnets";
    // Index entries that match the cheap expression, checked against a slow one: the whole check
    // would take minutes.
    QTest::newRow("slow expression index")
        << "backup"
        << QStringList { "CREATE TABLE t (x int)",
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
               "INSERT INTO t SELECT 100000 FROM n",
               "CREATE INDEX slow ON t (0 * x)", "PRAGMA writable_schema = ON",
               "UPDATE sqlite_master SET sql = 'CREATE INDEX slow ON t (instr(hex(zeroblob(x)), "
               "hex(zeroblob(x / 2)) || ''1''))' WHERE name = 'slow'" }
        << "Проверка файла прервана: длилось дольше 2 с";
    // The rows pass the inventory file's checks (tested with the file); here where each names its row.
    const QString tree = "Строка с id %1 таблицы subnets: ", hosts = "Строка с id 1 таблицы hosts: ";
    QTest::newRow("own parent") << "backup" << QStringList { "UPDATE subnets SET parent_id = 2 WHERE id = 2" }
                                << tree.arg(2) + "подсеть 10.1.0.0/16 указана родителем самой себя";
    QTest::newRow("parent missing") << "backup" << QStringList { "UPDATE subnets SET id = 3 WHERE id = 1" }
                                    << tree.arg(2) + "родительской строки с id 1 нет";
    QTest::newRow("parent stored later") << "backup"
                                         << QStringList { "UPDATE subnets SET id = 3 WHERE id = 1",
                                                "UPDATE subnets SET parent_id = 3 WHERE id = 2" }
                                         << tree.arg(2) + "родительская строка с id 3 записана позже этой";
    QTest::newRow("host outside its subnet") << "backup" << QStringList { "UPDATE hosts SET host = '10.2.0.5'" }
                                             << hosts + "Хост с адресом 10.2.0.5 не входит в подсеть 10.1.0.0/16";
}

// Refused by the check before the question, and by the restore itself; the live file's bytes unchanged.
void TestBackup::badCopiesRefused()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, sql);
    QFETCH(QString, error);
    QString source = path("bad.db");
    if (kind == "live")
        source = dir->dbPath();
    else if (kind == "link")
        QVERIFY(QFile::link(dir->dbPath(), source));
    else if (kind == "truncated") {
        QVERIFY(db->run("BEGIN").ok());
        for (int i = 0; i < 300; ++i)
            QVERIFY(db->run("INSERT INTO hosts (subnet, host, note) VALUES ('10.1.0.0/16', ?, ?)",
                          { QString("10.1.1.%1").arg(i), QString(500, 'n') })
                        .ok());
        QVERIFY(db->run("COMMIT").ok());
        QCOMPARE(backup::makeCopy(*db, source).errorText, QString());
        QFile f(source);
        QVERIFY(f.resize(f.size() / 2));
    } else if (kind == "text") {
        QVERIFY(writeFile(source, "record;name\r\n"));
    } else if (kind == "backup")
        QCOMPARE(backup::makeCopy(*db, source).errorText, QString());
    if (!sql.isEmpty())
        makeDatabase(source, sql);
    const QStringList before = dump(dir->dbPath());
    const QByteArray bytes = fileHash(dir->dbPath()), copyBytes = fileHash(source);
    const QString inspected = backup::inspect(*db, source, check, bound).errorText;
    QVERIFY2(inspected.contains(error), qPrintable(inspected));
    QCOMPARE(backup::restore(*db, source, check, bound).errorText, inspected);
    QCOMPARE(fileHash(dir->dbPath()), bytes);
    QCOMPARE(dump(dir->dbPath()), before);
    QCOMPARE(fileHash(source), copyBytes);
}

void TestBackup::walAndOlderCopiesRestored_data()
{
    QTest::addColumn<bool>("wal");
    QTest::newRow("WAL copy, rows in its -wal file") << true;
    QTest::newRow("copy from before notes") << false;
}

// Restored as they are; the copy's folder is left exactly as it was, no file changed or added.
void TestBackup::walAndOlderCopiesRestored()
{
    QFETCH(bool, wal);
    const QString folder = path("copies"), source = folder + "/copy.db";
    QVERIFY(QDir().mkpath(folder));
    {
        DbProbe made(path("made.db"));
        QVERIFY(made.exec("CREATE TABLE subnets (id integer primary key, subnet text UNIQUE, parent_id int, "
                          "parent_subnet text, name text)"));
        QVERIFY(made.exec(QString("CREATE TABLE hosts (id integer primary key, subnet text, host text UNIQUE%1)")
                              .arg(wal ? ", note text" : "")));
        if (wal)
            QVERIFY(made.exec("PRAGMA journal_mode = WAL") && made.exec("PRAGMA wal_autocheckpoint = 0"));
        QVERIFY(made.exec("INSERT INTO subnets VALUES (1, '10.0.0.0/8', NULL, NULL, 'Копия'), "
                          "(2, '10.2.0.0/16', 1, '10.0.0.0/8', 'Юг')"));
        QVERIFY(
            made.exec(QString("INSERT INTO hosts VALUES (1, '10.2.0.0/16', '10.2.0.9'%1)").arg(wal ? ", 'n'" : "")));
        // Copied while still open: the rows are in the -wal file alone.
        for (const char* suffix : { "", "-wal" })
            QVERIFY(!QFile::exists(path("made.db") + suffix) || QFile::copy(path("made.db") + suffix, source + suffix));
    }
    const auto state = [&] {
        QStringList files;
        for (const QString& f : QDir(folder).entryList(QDir::Files | QDir::Hidden))
            files << f + ' ' + fileHash(folder + '/' + f).toHex();
        return files;
    };
    const QStringList before = state();
    QCOMPARE(before.size(), wal ? 2 : 1);
    const auto inspected = backup::inspect(*db, source, check);
    QCOMPARE(inspected.errorText, QString());
    QCOMPARE(inspected.value.hostsInCopy, 1);
    QCOMPARE(backup::restore(*db, source, check).errorText, QString());
    QCOMPARE(state(), before);
    QCOMPARE(dump(dir->dbPath()),
        QStringList({ "1|10.0.0.0/8|NULL|NULL|Копия", "2|10.2.0.0/16|1|10.0.0.0/8|Юг",
            QString("1|10.2.0.0/16|10.2.0.9|") + (wal ? "n" : "NULL") }));
}

QTEST_GUILESS_MAIN(TestBackup)
#include "test_backup.moc"
