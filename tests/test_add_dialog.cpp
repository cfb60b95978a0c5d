#include "db/DB.h"
#include "tests/support/testSupport.h"
#include "tree/addSubnetsWindow.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegExpValidator>
#include <QtTest>

#include <memory>

using Result = std::optional<QStringList>;

class TestAddDialog : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opensEmptyWithTheFullMaskList();
    void addressFieldKeepsOnlyWhatThePatternAllows_data();
    void addressFieldKeepsOnlyWhatThePatternAllows();
    void organisationPair_data();
    void organisationPair();
    void addressRefusal_data();
    void addressRefusal();
    void branchRules_data();
    void branchRules();
    void checkSubnet_data();
    void checkSubnet();
    void overlapQueryThatFailsIsReported();

private:
    // Types into the dialog as a user would; the mask is chosen with the arrow keys.
    void fill(addSubnetsWindow& dialog, const QString& name, const QString& address, int prefix);
    // Seeds `parent` as an organisation and each of `branches` as its direct branch.
    void seed(const QString& parent, const QStringList& branches);
    Result runAdd(const std::optional<QString>& value, const QString& address, int prefix,
                  const QString& name = QStringLiteral("Филиал"));

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
};

void TestAddDialog::init()
{
    dir.reset(); // the previous directory restores the environment before the next one sets it
    dir = std::make_unique<TempDataDir>();
    answerer = std::make_unique<ModalAnswerer>();
}

void TestAddDialog::cleanup()
{
    const QStringList unexpected = answerer->unexpected;
    const int pending = answerer->pending();
    answerer.reset();
    dir.reset();
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join("; ")));
    QCOMPARE(pending, 0);
}

void TestAddDialog::fill(addSubnetsWindow& dialog, const QString& name, const QString& address, int prefix)
{
    typeText(dialog.first, name);
    typeText(dialog.second, address);
    for (int p = 32; p > prefix; --p)
        QTest::keyClick(dialog.masks, Qt::Key_Down);
    QCOMPARE(net::prefixPart(dialog.masks->currentText()), QStringLiteral("/") + QString::number(prefix));
}

void TestAddDialog::seed(const QString& parent, const QStringList& branches)
{
    DB schema; // creates the tables
    DbProbe probe(dir->dbPath());
    QVERIFY(probe.exec("INSERT INTO subnets (subnet, name) VALUES (?, ?)", {parent, "Org"}));
    for (const QString& b : branches)
        QVERIFY(probe.exec("INSERT INTO subnets (name, subnet, parent_id, parent_subnet) VALUES (?, ?, 1, ?)",
                           {"B", b, parent}));
}

Result TestAddDialog::runAdd(const std::optional<QString>& value, const QString& address, int prefix,
                             const QString& name)
{
    addSubnetsWindow dialog(value);
    fill(dialog, name, address, prefix);
    return dialog.add(value);
}

void TestAddDialog::opensEmptyWithTheFullMaskList()
{
    addSubnetsWindow dialog(std::nullopt);
    QVERIFY(dialog.first->text().isEmpty());
    QVERIFY(dialog.second->text().isEmpty());
    QCOMPARE(dialog.masks->count(), 33);
    QCOMPARE(dialog.masks->currentIndex(), 0);
    QCOMPARE(dialog.masks->itemText(0), QStringLiteral("255.255.255.255 /32"));
    QCOMPARE(dialog.masks->itemText(32), QStringLiteral("000.000.000.000 /0"));
    QCOMPARE(dialog.masks->sizeAdjustPolicy(), QComboBox::AdjustToContents);
    auto* validator = qobject_cast<const QRegExpValidator*>(dialog.second->validator());
    QVERIFY(validator);
    QCOMPARE(validator->regExp().pattern(),
             QStringLiteral("^(([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5])\\.){3}"
                            "([0-9]|[1-9][0-9]|1[0-9]{2}|2[0-4][0-9]|25[0-5 ])$"));
    auto* form = qobject_cast<QFormLayout*>(dialog.layout());
    QVERIFY(form);
    const auto labelOf = [form](QWidget* field) { return qobject_cast<QLabel*>(form->labelForField(field))->text(); };
    QCOMPARE(labelOf(dialog.first), QStringLiteral("Наименование"));
    QCOMPARE(labelOf(dialog.second), QStringLiteral("Подсеть"));
    QCOMPARE(labelOf(dialog.masks), QStringLiteral("Маска подсети"));
}

void TestAddDialog::addressFieldKeepsOnlyWhatThePatternAllows_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    QTest::newRow("complete address") << "192.168.10.77" << "192.168.10.77";
    QTest::newRow("25 and a blank") << "10.0.0.25 " << "10.0.0.25 ";
    QTest::newRow("blank after 1 is refused") << "10.0.0.1 " << "10.0.0.1";
    QTest::newRow("256 loses its last digit") << "10.0.0.256" << "10.0.0.25";
    QTest::newRow("leading zero loses the digit") << "01.2.3.4" << "0.2.3.4";
    QTest::newRow("letters refused") << "ab" << "";
    QTest::newRow("fifth octet dot refused") << "1.2.3.4.5" << "1.2.3.45";
    QTest::newRow("incomplete kept") << "10.0." << "10.0.";
}

void TestAddDialog::addressFieldKeepsOnlyWhatThePatternAllows()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    addSubnetsWindow dialog(std::nullopt);
    QTest::keyClicks(dialog.second, typed);
    QCOMPARE(dialog.second->text(), kept);
}

void TestAddDialog::organisationPair_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("subnet");
    QTest::newRow("/24 drops host bits") << "Office" << "192.168.10.77" << 24 << "192.168.10.0/24";
    QTest::newRow("/8 drops host bits") << "Office" << "10.1.2.3" << 8 << "10.0.0.0/8";
    QTest::newRow("untouched mask is /32") << "Office" << "10.0.0.5" << 32 << "10.0.0.5/32";
    QTest::newRow("/0") << "Office" << "0.0.0.0" << 0 << "0.0.0.0/0";
    QTest::newRow("/0 from the top address") << "Office" << "255.255.255.255" << 0 << "0.0.0.0/0";
    QTest::newRow("/1") << "Office" << "255.255.255.255" << 1 << "128.0.0.0/1";
    QTest::newRow("/31") << "Office" << "255.255.255.255" << 31 << "255.255.255.254/31";
    QTest::newRow("name kept untrimmed") << "  Головной офис " << "10.0.0.0" << 8 << "10.0.0.0/8";
    QTest::newRow("empty name") << "" << "10.0.0.0" << 8 << "10.0.0.0/8";
}

void TestAddDialog::organisationPair()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, subnet);
    // Organisations are compared with nothing, not even a row with the same subnet.
    seed(subnet, {});
    const Result r = runAdd(std::nullopt, address, prefix, name);
    QVERIFY(r);
    QCOMPARE(*r, (QStringList{name, subnet}));
    QVERIFY(answerer->boxes.isEmpty());
}

void TestAddDialog::addressRefusal_data()
{
    QTest::addColumn<QString>("parent"); // empty: an organisation
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("text");
    const QString none;
    const QString parent = QStringLiteral("10.0.0.0/8");
    QTest::newRow("empty, untouched mask") << none << "" << 32 << "/32 - это не подсеть и не IP-адрес!";
    QTest::newRow("three octets") << none << "10.0.0" << 24 << "10.0.0/24 - это не подсеть и не IP-адрес!";
    QTest::newRow("trailing dot") << none << "10.0.0." << 16 << "10.0.0./16 - это не подсеть и не IP-адрес!";
    QTest::newRow("25 and a blank") << none << "10.0.0.25 " << 24 << "10.0.0.25 /24 - это не подсеть и не IP-адрес!";
    QTest::newRow("branch, empty") << parent << "" << 32 << "/32 - это не подсеть и не IP-адрес!";
    QTest::newRow("branch, 25 and a blank")
        << parent << "10.0.0.25 " << 24 << "10.0.0.25 /24 - это не подсеть и не IP-адрес!";
}

void TestAddDialog::addressRefusal()
{
    QFETCH(QString, parent);
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, text);
    std::optional<QString> value;
    if (!parent.isEmpty()) {
        seed(parent, {});
        value = parent;
    }
    answerer->thenBox();
    QVERIFY(!runAdd(value, address, prefix));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(answerer->boxes[0].text, text);
}

void TestAddDialog::branchRules_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QStringList>("branches");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("prefix");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    const QString org = QStringLiteral("10.0.0.0/8");
    const QString overlap = QStringLiteral(" входит в существующую подсеть");
    QTest::newRow("inside, host bits dropped") << org << QStringList() << "10.1.2.3" << 16 << "";
    QTest::newRow("wider than the parent")
        << org << QStringList() << "10.0.0.0" << 7 << "10.0.0.0/7 не принадлежит подсети 10.0.0.0/8";
    QTest::newRow("outside the parent")
        << org << QStringList() << "11.0.0.0" << 16 << "11.0.0.0/16 не принадлежит подсети 10.0.0.0/8";
    QTest::newRow("lies in a branch") << org << QStringList{"10.1.0.0/16"} << "10.1.2.0" << 24 << "10.1.2.0/24" + overlap;
    QTest::newRow("contains a branch") << org << QStringList{"10.1.0.0/16"} << "10.0.0.0" << 15 << "10.0.0.0/15" + overlap;
    QTest::newRow("equals a branch") << org << QStringList{"10.1.0.0/16"} << "10.1.7.7" << 16 << "10.1.0.0/16" + overlap;
    QTest::newRow("beside a branch") << org << QStringList{"10.1.0.0/16"} << "10.2.0.0" << 16 << "";
    QTest::newRow("touching a branch") << org << QStringList{"10.0.0.0/24"} << "10.0.1.0" << 24 << "";
    QTest::newRow("touching a later branch") << org << QStringList{"10.0.0.0/24", "10.0.2.0/24"} << "10.0.1.0" << 24
                                             << "";
    QTest::newRow("overlaps the second branch")
        << org << QStringList{"10.0.0.0/24", "10.0.2.0/24"} << "10.0.2.128" << 25 << "10.0.2.128/25" + overlap;
    QTest::newRow("parent's own network, branches present")
        << org << QStringList{"10.1.0.0/16"} << "10.0.0.0" << 8 << "10.0.0.0/8" + overlap;
    QTest::newRow("parent's own network, no branches") << org << QStringList() << "10.0.0.0" << 8 << "";
    QTest::newRow("/0 parent takes the top address")
        << "0.0.0.0/0" << QStringList() << "255.255.255.255" << 32 << "";
    QTest::newRow("/32 parent refuses its neighbour")
        << "10.0.0.5/32" << QStringList() << "10.0.0.6" << 32 << "10.0.0.6/32 не принадлежит подсети 10.0.0.5/32";
}

void TestAddDialog::branchRules()
{
    QFETCH(QString, parent);
    QFETCH(QStringList, branches);
    QFETCH(QString, address);
    QFETCH(int, prefix);
    QFETCH(QString, refusal);
    seed(parent, branches);
    if (!refusal.isEmpty())
        answerer->thenBox();
    const Result r = runAdd(parent, address, prefix, QStringLiteral(" Склад "));
    if (refusal.isEmpty()) {
        QVERIFY(r);
        const net::Network expected = net::networkOf(*net::parseAddress(address), prefix);
        QCOMPARE(*r, (QStringList{" Склад ", net::toText(expected), parent}));
        QVERIFY(answerer->boxes.isEmpty());
    } else {
        QVERIFY(!r);
        QCOMPARE(answerer->boxes.size(), 1);
        QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(answerer->boxes[0].text, refusal);
    }
}

void TestAddDialog::checkSubnet_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("network");
    QTest::addColumn<bool>("overlaps");
    QTest::newRow("no rows") << QStringList() << "10.0.0.0/8" << false;
    QTest::newRow("only the last row overlaps") << QStringList{"10.0.0.0/24", "10.0.1.0/24", "10.0.2.0/24"}
                                                << "10.0.2.0/23" << true;
    QTest::newRow("first row contains") << QStringList{"10.0.0.0/16", "10.5.0.0/16"} << "10.0.3.0/24" << true;
    QTest::newRow("touching on both sides") << QStringList{"10.0.0.0/24", "10.0.2.0/24"} << "10.0.1.0/24" << false;
    QTest::newRow("/0 covers every row") << QStringList{"192.168.0.0/16"} << "0.0.0.0/0" << true;
}

void TestAddDialog::checkSubnet()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, network);
    QFETCH(bool, overlaps);
    QVector<QVariantList> result;
    for (const QString& r : rows)
        result << QVariantList{r};
    QCOMPARE(addSubnetsWindow::checkSubnet(result, *net::parseNetwork(network)), overlaps);
}

// Another program holding the file locked beyond the busy time-out: the user is told why,
// and nothing is returned to insert.
void TestAddDialog::overlapQueryThatFailsIsReported()
{
    seed(QStringLiteral("10.0.0.0/8"), {});
    addSubnetsWindow dialog(QStringLiteral("10.0.0.0/8"));
    fill(dialog, QStringLiteral("Склад"), QStringLiteral("10.1.0.0"), 16);
    DbProbe locker(dir->dbPath());
    QVERIFY(locker.exec("BEGIN EXCLUSIVE"));
    answerer->thenBox();
    const Result r = dialog.add(QStringLiteral("10.0.0.0/8"));
    QVERIFY(locker.exec("ROLLBACK"));
    QVERIFY(!r);
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY2(answerer->boxes[0].text.contains("locked"), qPrintable(answerer->boxes[0].text));
}

QTEST_MAIN(TestAddDialog)
#include "test_add_dialog.moc"
