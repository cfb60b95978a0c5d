// Scanning from the hosts window and the scan dialog, driven as a user would. Loopback only.
#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "tests/support/loopback.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString done = QStringLiteral("Information Выполнено!: Сканирование завершено!");
using Steps = QList<QVariantList>; // of the bar, as its valueChanged signal tells them

QStringList addresses(QWidget* w)
{
    return columnTexts(hostRows(w));
}

// Open sockets of this process, as the kernel sees them.

int socketCount()
{
    int n = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += fd.symLinkTarget().contains(QStringLiteral("socket:"));
    return n;
}

// A directory whose only command is a `ping` that fails as one without its capability does.
QString brokenPingDir(QTemporaryDir& dir)
{
    if (!writeScript(dir.filePath(QStringLiteral("ping")),
            "#!/bin/sh\necho 'ping: socket: Operation not permitted' >&2\nexit 2\n"))
        qWarning("cannot write the broken ping");
    return dir.path();
}

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<TempDataDir>();
        answerer = std::make_unique<ModalAnswerer>();
    }
    void cleanup()
    {
        const QString problems = answerer->problems();
        answerer.reset();
        dir.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }
    void icmpScanSavedWithEmptyNotes();
    void scanDialogAndPortField();
    void refusedOrCancelledScanKeepsTheLast();
    void tcpScan_data();
    void tcpScan();
    void pingCannotRun_data();
    void pingCannotRun();
    void hugeSubnetAsksFirst_data();
    void hugeSubnetAsksFirst();
    void windowGoneDuringScan_data();
    void windowGoneDuringScan();

private:
    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
};

// By ICMP, the six hosts of a /29; saved with empty notes, not NULL.
void TestScanWindow::icmpScanSavedWithEmptyNotes()
{
    DB {};
    DbProbe probe(dir->dbPath());
    probe.exec("INSERT INTO subnets (subnet, name) VALUES ('127.0.0.0/29', 'Филиал')");
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    scanFromWindow(*answerer, &w);
    QStringList found = addresses(&w);
    found.sort(); // in the order the probes ended
    QCOMPARE(found, (QStringList { "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6" }));
    QVERIFY(w.findChild<QLabel*>("labelPort")->isHidden() && w.findChild<QProgressBar*>("progressBar")->isHidden());
    answerer->thenBox(QMessageBox::Ok); // the save notice
    QTest::mouseClick(w.findChild<QPushButton*>("pbSave"), Qt::LeftButton);
    QCOMPARE(probe.rows("SELECT count(*) FROM hosts WHERE subnet = '127.0.0.0/29' AND note = ''"),
        QVector<QVariantList> { { 6 } });
    QCOMPARE(boxTexts(*answerer),
        (QStringList { done,
            "Warning Внимание!: Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание" }));
}

// The dialog as it opens, and its port field: exactly 1 to 65535.
void TestScanWindow::scanDialogAndPortField()
{
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    QStringList shown;
    answerer->then([&shown](QWidget* dialog) {
        const auto sizeText = [](QSize s) { return QStringLiteral("%1x%2").arg(s.width()).arg(s.height()); };
        shown << dialog->windowTitle() << dialog->findChild<QRadioButton*>("rbICMP")->text()
              << sizeText(dialog->minimumSize()) + " " + sizeText(dialog->maximumSize()) + " "
                + sizeText(dialog->size());
        QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
        shown << dialog->findChild<QLabel*>("label")->text();
        auto* field = dialog->findChild<QLineEdit*>("port");
        for (const char* text : { "80", "65535", "0", "65536", "6,", "8080" }) {
            field->clear();
            QTest::keyClicks(field, text);
            shown << field->text();
        }
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    });
    QTest::mouseClick(w.findChild<QPushButton*>("pbScan"), Qt::LeftButton);
    QCOMPARE(shown,
        (QStringList { "Параметры сканирования", "Сканировать по ICMP\n(дождитесь уведомления о завершени)",
            "320x166 316x166 320x166", "Порт: ", "80", "65535", "", "6553", "6", "8080" }));
}

// After a TCP scan, one refused (an empty port) and one cancelled leave the table, the label and
// the bar as the TCP scan left them.
void TestScanWindow::refusedOrCancelledScanKeepsTheLast()
{
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.2" }, { "127.0.0.1", "127.0.0.4" }));
    const QString port = QString::number(listeners.port());
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    auto* label = w.findChild<QLabel*>("labelPort");
    auto* bar = w.findChild<QProgressBar*>("progressBar");
    scanFromWindow(*answerer, &w, port);
    const QStringList listening { "127.0.0.2", "127.0.0.5" };
    const QString caption = QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту");
    for (const QString& refusedPort : { QStringLiteral(""), QString() }) {
        if (refusedPort.isNull()) { // cancelled
            answerer->then([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
            QTest::mouseClick(w.findChild<QPushButton*>("pbScan"), Qt::LeftButton);
            QTRY_COMPARE(answerer->pending(), 0);
        } else {
            scanFromWindow(*answerer, &w, refusedPort);
        }
        QCOMPARE(addresses(&w), listening);
        QCOMPARE(label->text(), caption);
        QVERIFY(label->isVisible() && bar->isVisible());
        QCOMPARE(bar->value(), 100);
    }
    QCOMPARE(boxTexts(*answerer),
        (QStringList { done, "Critical Ошибка: Не указан порт для сканирования по TCP: введите число от 1 до 65535" }));
}

void TestScanWindow::tcpScan_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<Steps>("steps"); // of the bar; none: label and bar stay hidden
    QTest::addColumn<QString>("box");
    QTest::newRow("/31 probes both: the bar at 50, then 100")
        << "127.0.0.2/31" << QStringList { "127.0.0.2", "127.0.0.3" } << Steps { { 50 }, { 100 } } << done;
    QTest::newRow("/29 steps of 16.67: the bar shows the whole part")
        << "127.0.0.0/29" << QStringList { "127.0.0.2", "127.0.0.3" }
        << Steps { { 16 }, { 33 }, { 50 }, { 66 }, { 83 }, { 100 } } << done;
    QTest::newRow("/32 probes none: the bar at 100 at once")
        << "127.0.0.9/32" << QStringList() << Steps { { 100 } } << done;
    QTest::newRow("window subnet with host bits: refused, the table kept")
        << "127.0.0.1/29" << QStringList { "127.0.0.7" } << Steps()
        << "Critical Ошибка: Подсеть 127.0.0.1/29 не является сетью IPv4 в записи CIDR: сканирование невозможно";
}

void TestScanWindow::tcpScan()
{
    QFETCH(QString, subnet);
    QFETCH(QStringList, found);
    QFETCH(Steps, steps);
    QFETCH(QString, box);
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.2", "127.0.0.3", "127.0.0.9" }));
    hostsWindow w(subnet);
    w.show();
    hostRows(&w)->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
    QSignalSpy values(w.findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged);
    scanFromWindow(*answerer, &w, QString::number(listeners.port()));

    QCOMPARE(addresses(&w), found);
    QCOMPARE(Steps(values), steps);
    QCOMPARE(w.findChild<QLabel*>("labelPort")->isVisible(), !steps.isEmpty());
    QCOMPARE(w.findChild<QProgressBar*>("progressBar")->isVisible(), !steps.isEmpty());
    QCOMPARE(boxTexts(*answerer), QStringList { box });
}

// A ping that cannot run (no capability: status 2; missing: the shell's 127) is reported as an
// error quoting it, not as a scan that found nothing.
void TestScanWindow::pingCannotRun_data()
{
    QTest::addColumn<bool>("standIn");
    QTest::addColumn<QString>("quoted");
    QTest::newRow("ping exits 2") << true << "(код завершения 2).\nping: socket: Operation not permitted";
    QTest::newRow("no ping on PATH") << false << "(код завершения 127).\n/bin/sh: 1: ping: not found";
}

void TestScanWindow::pingCannotRun()
{
    QFETCH(bool, standIn);
    QFETCH(QString, quoted);
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", standIn ? brokenPingDir(bin).toUtf8() : bin.path().toUtf8());
    hostsWindow w(QStringLiteral("127.0.0.0/30"));
    w.show();
    scanFromWindow(*answerer, &w);
    qputenv("PATH", path);
    QCOMPARE(boxTexts(*answerer),
        QStringList {
            "Critical Ошибка: Сканирование по ICMP не выполнено: команду ping не удалось выполнить " + quoted });
    QCOMPARE(addresses(&w), QStringList());
}

// Larger than a /16: asked first, with the count and the expected time; No changes nothing.
void TestScanWindow::hugeSubnetAsksFirst_data()
{
    QTest::addColumn<QString>("port"); // null: ICMP
    QTest::addColumn<QString>("question");
    QTest::newRow("ICMP /8") << QString() << "ICMP займет около 4 ч 34 мин";
    QTest::newRow("TCP /8") << "80"
                            << "TCP займет около 55 мин";
}

void TestScanWindow::hugeSubnetAsksFirst()
{
    QFETCH(QString, port);
    QFETCH(QString, question);
    const QString subnet = "127.0.0.0/8";
    hostsWindow w(subnet);
    w.show();
    hostRows(&w)->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
    thenScanDialog(*answerer, port);
    answerer->thenBox(QMessageBox::No);
    QTest::mouseClick(w.findChild<QPushButton*>("pbScan"), Qt::LeftButton);
    QTRY_COMPARE(answerer->pending(), 0);
    QCOMPARE(boxTexts(*answerer),
        QStringList { "Question Внимание!: Подсеть " + subnet + " содержит адресов хостов: 16777214"
            + ".\nСканирование по " + question + ", и все это время окно будет занято.\nНачать сканирование?" });
    QCOMPARE(answerer->boxes.value(0).defaultButton, QMessageBox::No);
    QCOMPARE(addresses(&w), QStringList { "127.0.0.7" });
    QVERIFY(w.findChild<QLabel*>("labelPort")->isHidden() && w.findChild<QProgressBar*>("progressBar")->isHidden());
    QCOMPARE(childCount(), 0);
    QVERIFY(w.findChild<QPushButton*>("pbScan")->isEnabled());
}

// Closed (and so deleted) or deleted while its probes run: the probes are stopped, children
// reaped and sockets closed, and nothing reaches the gone window.
void TestScanWindow::windowGoneDuringScan_data()
{
    QTest::addColumn<QString>("port"); // null: ICMP
    QTest::addColumn<bool>("close");
    QTest::newRow("TCP /16, closed") << "9" << true;
    QTest::newRow("TCP /16, deleted") << "9" << false;
    QTest::newRow("ICMP /24, closed") << QString() << true;
}

void TestScanWindow::windowGoneDuringScan()
{
    QFETCH(QString, port);
    QFETCH(bool, close);
    const int sockets = socketCount();
    QPointer<hostsWindow> w = new hostsWindow(port.isNull() ? "127.0.0.0/24" : "127.0.0.0/16");
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    thenScanDialog(*answerer, port);
    bool scanning = false;
    const auto end = [&] {
        scanning = w && !w->findChild<QPushButton*>("pbScan")->isEnabled();
        if (close)
            w->close();
        else
            delete w;
    };
    // From the event loop, not from inside the sweep's own signal: TCP once the bar moves, ICMP
    // while the first echoes are awaited (each probe takes a second).
    if (port.isNull())
        QTimer::singleShot(300, end);
    else
        connect(w->findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged, this,
            [&, armed = false]() mutable {
                if (!std::exchange(armed, true))
                    QTimer::singleShot(0, end);
            });
    QTest::mouseClick(w->findChild<QPushButton*>("pbScan"), Qt::LeftButton);
    QTRY_VERIFY(!w);
    QVERIFY(scanning);
    QCOMPARE(childCount(), 0);
    QCOMPARE(socketCount(), sockets);
}

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
