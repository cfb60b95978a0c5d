#include "db/DB.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"
#include "tree/addSubnetsWindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QtTest>

static const QString org = QStringLiteral("10.0.0.0/8");

class TestAddDialog : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir.reset(); // the previous directory restores the environment before the next one sets it
        dir = std::make_unique<TempDataDir>();
        answerer = std::make_unique<ModalAnswerer>();
    }
    void cleanup()
    {
        const QString problems = answerer->problems();
        dialog.reset();
        answerer.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // Accepted: the name, the subnet and the parent handed back; refused: a critical box, nothing handed back.
    void add_data()
    {
        QTest::addColumn<bool>("branch"); // of 10.0.0.0/8 with two branches; else an organisation
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("subnet"); // handed back; none when refused
        QTest::addColumn<QString>("refusal"); // the refusal the opener shows; none when accepted
        const QString in = QStringLiteral(" входит в существующую подсеть");
        const QString none;
        QTest::newRow("organisation: host bits dropped") << false << "10.1.2.3" << 8 << org << none;
        QTest::newRow("/32 untouched; field drops a blank after 1")
            << false << "10.0.0.1 " << 32 << "10.0.0.1/32" << none;
        QTest::newRow("25 and a blank") << false << "10.0.0.25 " << 24 << none
                                        << "10.0.0.25 /24 - это не подсеть и не IP-адрес!";
        QTest::newRow("wider than the parent, which has branches")
            << true << "10.0.0.0" << 7 << none << "10.0.0.0/7 не принадлежит подсети 10.0.0.0/8";
        QTest::newRow("touching branches on both sides") << true << "10.0.1.0" << 24 << "10.0.1.0/24" << none;
        QTest::newRow("parent's own network holds the branches") << true << "10.0.0.0" << 8 << none << org + in;
    }

    void add()
    {
        QFETCH(bool, branch);
        QFETCH(QString, address);
        QFETCH(int, prefix);
        QFETCH(QString, subnet);
        QFETCH(QString, refusal);
        const std::optional<QString> value = branch ? std::optional<QString>(org) : std::nullopt;
        open({ "10.0.0.0/24", "10.0.2.0/24" }, address, prefix, value);
        const Result<QStringList> r = dialog->add(value);
        QVERIFY(answerer->boxes.isEmpty()); // the opener shows the refusal
        const QStringList accepted = QStringList { " Склад ", subnet } + (branch ? QStringList { org } : QStringList());
        QCOMPARE(r.ok() ? r.value : QStringList(), subnet.isNull() ? QStringList() : accepted);
        QCOMPARE(r.ok() ? QString() : r.errorText, refusal);
    }

    // Another program holding the file locked beyond the busy time-out: the user is told why.
    void overlapQueryThatFailsIsReported()
    {
        ShortBusyTimeout shortWait;
        open({}, QStringLiteral("10.1.0.0"), 16, org);
        DbProbe locker(dir->dbPath());
        QVERIFY(locker.exec("BEGIN EXCLUSIVE"));
        const Result<QStringList> added = dialog->add(org);
        QVERIFY(locker.exec("ROLLBACK"));
        QVERIFY(!added.ok());
        QVERIFY2(added.errorText.contains("locked"), qPrintable(added.errorText));
    }

private:
    // Stores the organisation 10.0.0.0/8 with `branches` below it, opens the dialog for a branch of
    // it or for an organisation, and types into it as a user would; the mask is chosen with the arrow keys.
    void open(const QStringList& branches, const QString& address, int prefix, const std::optional<QString>& value)
    {
        DB schema; // creates the tables
        DbProbe probe(dir->dbPath());
        QVERIFY(probe.exec("INSERT INTO subnets (subnet, name) VALUES (?, 'Org')", { org }));
        for (const QString& b : branches)
            QVERIFY(probe.exec(
                "INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES ('B', ?, 1, ?)", { b, org }));
        dialog = std::make_unique<addSubnetsWindow>(value);
        typeText(dialog->nameEdit, QStringLiteral(" Склад "));
        QTest::keyClicks(dialog->addressEdit, address);
        for (int p = 32; p > prefix; --p)
            QTest::keyClick(dialog->maskBox, Qt::Key_Down);
    }

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<addSubnetsWindow> dialog;
};

QTEST_MAIN(TestAddDialog)
#include "test_add_dialog.moc"
