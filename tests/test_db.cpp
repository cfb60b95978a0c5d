#include "db/DB.h"
#include "tests/support/dataSupport.h"
#include "tests/support/readOnlyFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

QStringList columnsOf(DbProbe& probe, const QString& table)
{
    QStringList names;
    for (const QVariantList& row : probe.rows(QStringLiteral("PRAGMA table_info(%1)").arg(table)))
        names << row.value(1).toString();
    return names;
}

// Another connection, on a thread of its own, holds the write lock until its timer commits.
void holdWriteLock(const QString& file, int ms, bool* taken, QSemaphore* locked)
{
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(file);
        holder.open();
        QSqlQuery q(holder);
        *taken = q.exec(QStringLiteral("BEGIN IMMEDIATE"));
        locked->release();
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, [&] {
            q.exec(QStringLiteral("COMMIT"));
            loop.quit();
        });
        if (*taken)
            loop.exec();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
}

} // namespace

class TestDb : public QObject {
    Q_OBJECT

private slots:
    void init() { dir = std::make_unique<TempDataDir>(); }
    void cleanup() { dir.reset(); }

    // A new file gets both tables; a second object on it, beside the first, changes nothing;
    // each object's connection goes with it.
    void newFileAndSecondObject()
    {
        const int connections = QSqlDatabase::connectionNames().size();
        {
            DB first;
            QVERIFY(first
                        .run("INSERT INTO subnets (subnet, parent_id, parent_subnet, name) VALUES (?, ?, ?, ?)",
                            { "10.0.0.0/8", QVariant(), QVariant(), "Org" })
                        .ok());
            DB second;
            QCOMPARE(QSqlDatabase::connectionNames().size(), connections + 2);
            QCOMPARE(second.run("SELECT name, subnet FROM subnets").rows,
                QVector<QVariantList>({ { "Org", "10.0.0.0/8" } }));
        }
        QCOMPARE(QSqlDatabase::connectionNames().size(), connections);
        DbProbe probe(dir->dbPath());
        QCOMPARE(columnsOf(probe, "subnets"), QStringList({ "id", "subnet", "parent_id", "parent_subnet", "name" }));
        QCOMPARE(columnsOf(probe, "hosts"), QStringList({ "id", "subnet", "host", "note" }));
    }

    void oldHostsTableGainsNoteAndKeepsRows()
    {
        {
            DbProbe old(dir->dbPath());
            QVERIFY(old.exec("CREATE TABLE hosts (id integer primary key, subnet text, host text UNIQUE)"));
            QVERIFY(old.exec("INSERT INTO hosts (subnet, host) VALUES ('10.0.0.0/24', '10.0.0.5')"));
        }
        DB db;
        DbProbe probe(dir->dbPath());
        QCOMPARE(columnsOf(probe, "hosts"), QStringList({ "id", "subnet", "host", "note" }));
        const auto rows = probe.rows("SELECT subnet, host, note FROM hosts");
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).value(1).toString(), QString("10.0.0.5"));
        QVERIFY(rows.at(0).value(2).isNull());

        // The failures that the migration lets pass: the file is fine, only the column is there already.
        QList<int> passed;
        for (int code = 0; code <= 28; ++code)
            if (sqlite::isOperational(code))
                passed << code;
        QCOMPARE(passed, (QList<int> { 1, 3, 4, 5, 6, 8, 9, 10, 13, 14, 15, 16, 17 }));
    }

    void duplicatesAreConstraintFailures()
    {
        DB db;
        const QString insertSubnet = "INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES (?, ?, ?, ?)";
        QVERIFY(db.run(insertSubnet, { "Org", "10.0.0.0/8", QVariant(), QVariant() }).ok());
        const SqlResult dupSubnet = db.run(insertSubnet, { "Other", "10.0.0.0/8", 1, "10.0.0.0/8" });
        QVERIFY(dupSubnet.isConstraint());
        QVERIFY(!dupSubnet.errorText.isEmpty());

        const QString insertHost = "INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)";
        QVERIFY(db.run(insertHost, { "10.0.0.0/24", "10.0.0.5", "" }).ok());
        QVERIFY(db.run(insertHost, { "10.1.0.0/24", "10.0.0.5", "elsewhere" }).isConstraint());
        QVERIFY(!db.run("SELEC nonsense").isConstraint());
    }

    // A read left unfinished would hold a lock that makes other connections' writes wait out
    // the busy time-out and fail. A lock that another connection holds briefly is waited for.
    void readsLeaveNoLockBehind()
    {
        DB reader;
        for (int i = 0; i < 50; ++i)
            QVERIFY(reader
                        .run("INSERT INTO hosts (subnet, host, note) VALUES (?, ?, ?)",
                            { "10.0.0.0/24", QString("10.0.0.%1").arg(i), "" })
                        .ok());
        QVERIFY(reader.run("SELECT host FROM hosts").ok());
        QVERIFY(reader.run("SELECT host, note FROM hosts WHERE subnet=?", { "10.0.0.0/24" }).ok());

        QElapsedTimer timer;
        timer.start();
        DB writer; // compacts the file: needs every other connection idle
        QVERIFY(writer.run("DELETE FROM hosts WHERE host=?", { "10.0.0.1" }).ok());
        QVERIFY2(timer.elapsed() < 4000, "a finished read must not make a writer wait for the busy time-out");

        bool taken = false;
        QSemaphore locked;
        std::thread holder(holdWriteLock, dir->dbPath(), 300, &taken, &locked);
        locked.acquire();
        const SqlResult waited = writer.run("DELETE FROM hosts WHERE host=?", { "10.0.0.2" });
        holder.join();
        QVERIFY(taken);
        QVERIFY2(waited.ok(), qPrintable(waited.errorText));
    }

    void notADatabaseIsRefusedAndLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("text file") << QByteArray("these are not the droids\n").repeated(200);
        QByteArray header("SQLite format 3");
        header.append('\0');
        QTest::newRow("header then garbage") << header + QByteArray(4096, '\x5a');
    }

    void notADatabaseIsRefusedAndLeftAlone()
    {
        QFETCH(QByteArray, contents);
        QVERIFY(writeFile(dir->dbPath(), contents));
        const QByteArray before = fileHash(dir->dbPath());
        {
            DB db;
            QVERIFY(!db.status().ok());
            QVERIFY(!db.status().errorText.isEmpty());
            QCOMPARE(db.fileName(), dir->dbPath());
            QCOMPARE(db.run(QStringLiteral("SELECT 1")).errorText, db.status().errorText);
        }
        QCOMPARE(fileHash(dir->dbPath()), before);
        QVERIFY(!QFile::exists(dir->dbPath() + "-journal"));
    }

    // Damage that only the full check sees (the quick one passes it): refused before anything
    // is written, with the first problem, and the file left as it was.
    void damagedFileIsRefusedUnchanged_data()
    {
        QTest::addColumn<bool>("truncate");
        QTest::newRow("last byte missing") << true;
        QTest::newRow("an address flipped in the index") << false;
    }

    void damagedFileIsRefusedUnchanged()
    {
        QFETCH(bool, truncate);
        {
            // A file of the two original tables alone, compacted: the index of the addresses is its last page.
            DbProbe old(dir->dbPath());
            QVERIFY(old.exec("CREATE TABLE subnets (id integer primary key, subnet text UNIQUE, parent_id int, "
                             "parent_subnet text, name text)"));
            QVERIFY(old.exec("CREATE TABLE hosts (id integer primary key, subnet text, host text UNIQUE, note text)"));
            for (int i = 1; i <= 20; ++i)
                QVERIFY(old.addHosts({ { "10.0.0.0/24", QString("10.0.0.%1").arg(i), QString("note %1").arg(i) } }));
            QVERIFY(old.exec("VACUUM"));
        }
        QByteArray data = fileBytes(dir->dbPath());
        if (truncate)
            data.chop(1);
        else
            data[data.lastIndexOf("10.0.0.7") + 7] = '8';
        QVERIFY(writeFile(dir->dbPath(), data));
        QCOMPARE(DbProbe(dir->dbPath()).rows("PRAGMA quick_check"), QVector<QVariantList>({ { "ok" } }));
        const QByteArray before = fileHash(dir->dbPath());
        const QString text = DB().status().errorText;
        QVERIFY2(
            text.startsWith("файл базы данных поврежден: ") && text.contains("missing from index"), qPrintable(text));
        QCOMPARE(fileHash(dir->dbPath()), before);
    }

    // Compacting is put off while another program reads the file, or when it cannot be written;
    // a file that cannot be written opens for reading, and every write fails.
    void compactionPutOff_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("another connection holds a read transaction") << false;
        QTest::newRow("file that cannot be written") << true;
    }

    void compactionPutOff()
    {
        QFETCH(bool, readOnly);
        DB {};
        DbProbe reader(dir->dbPath());
        QVERIFY(reader.exec("BEGIN"));
        QCOMPARE(reader.rows("SELECT count(*) FROM hosts").size(), 1);
        std::unique_ptr<ReadOnlyFile> guard;
        if (readOnly) {
            reader.exec("COMMIT");
            guard = std::make_unique<ReadOnlyFile>(dir->dbPath());
        }
        DB db;
        QCOMPARE(db.isReadOnly(), readOnly);
        QCOMPARE(db.run("SELECT count(*) FROM subnets").rows, QVector<QVariantList>({ { 0 } }));
        if (!readOnly)
            QVERIFY(reader.exec("COMMIT"));
        const SqlResult write = db.run("INSERT INTO hosts (subnet, host, note) VALUES ('10.0.0.0/24', '10.0.0.1', '')");
        QCOMPARE(write.code, readOnly ? 8 : 0);
    }

    void missingDirectoryIsRefused()
    {
        DB db(dir->path() + "/no/such/dir/subnets.db");
        QVERIFY(!db.status().ok());
    }

    // Whatever a member of the group puts under the database's name is refused, named, and
    // nothing is opened or created through it.
    void plantedNamesAreRefused_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("expected");
        QTest::newRow("link to another database") << "link"
                                                  << " — символическая ссылка.";
        QTest::newRow("link to nothing yet") << "dangling link"
                                             << " — символическая ссылка.";
        QTest::newRow("directory") << "directory"
                                   << " — не обычный файл.";
    }

    void plantedNamesAreRefused()
    {
        QFETCH(QString, planted);
        QFETCH(QString, expected);
        const QString target = dir->path() + "/elsewhere.db";
        if (planted == "link")
            QVERIFY(DB(target).status().ok());
        const QByteArray before = fileHash(target);
        QVERIFY(planted == "directory" ? QDir().mkdir(dir->dbPath()) : QFile::link(target, dir->dbPath()));
        const QString text = DB().status().errorText;
        QVERIFY2(text.startsWith(dir->dbPath() + expected), qPrintable(text));
        QCOMPARE(QFile::exists(target), planted == "link");
        QCOMPARE(fileHash(target), before);
    }

private:
    std::unique_ptr<TempDataDir> dir;
};

QTEST_MAIN(TestDb)
#include "test_db.moc"
