// Scanning from the hosts window and the scan dialog, driven as a user would. Loopback only.
#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "tests/support/loopback.h"
#include "tests/support/testSupport.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

// As boxes() shows them: 1 is the information icon, 3 the critical one.
const QString done = QStringLiteral("1 Выполнено!: Сканирование завершено!");
using Steps = QList<QVariantList>; // of the bar, as its valueChanged signal tells them

QStringList addresses(QWidget* w)
{
    const QAbstractItemModel* table = w->findChild<QTableView*>("tableView")->model();
    QStringList out;
    for (int row = 0; row < table->rowCount(); ++row)
        out << table->index(row, 0).data().toString();
    return out;
}

// The boxes answered so far, as "icon title: text".
QStringList boxes(const ModalAnswerer& answerer)
{
    QStringList out;
    for (const ModalAnswerer::Box& box : answerer.boxes)
        out << QStringLiteral("%1 %2: %3").arg(box.icon).arg(box.title, box.text);
    return out;
}

// Presses "Сканировать" and accepts its dialog: TCP on `port` ("" included), ICMP when `port` is null;
// then answers the box that follows.
void scan(ModalAnswerer& answerer, QWidget* w, const QString& port = QString())
{
    answerer.then([port](QWidget* dialog) {
        if (!port.isNull()) {
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("port"), port);
        }
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    answerer.thenBox(QMessageBox::Ok);
    QTest::mouseClick(w->findChild<QPushButton*>("pbScan"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(answerer.pending(), 0, 30000);
}

// Children of this process not yet reaped, and its open sockets, as the kernel sees them.
int childCount()
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(getpid()));
    return file.open(QIODevice::ReadOnly) ? QString(file.readAll()).split(' ', Qt::SkipEmptyParts).size() : -1;
}

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
    const QString path = dir.filePath(QStringLiteral("ping"));
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\necho 'ping: socket: Operation not permitted' >&2\nexit 2\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir.path();
}

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private slots:
    void doneWhenRoad();
    void tcpScan_data();
    void tcpScan();
    void pingCannotRun_data();
    void pingCannotRun();
    void hugeSubnetAsksFirst_data();
    void hugeSubnetAsksFirst();
    void windowGoneDuringScan_data();
    void windowGoneDuringScan();
};

// By ICMP, six rows saved with empty notes; by TCP, the listeners; an empty port refused; 8080 cancelled.
void TestScanWindow::doneWhenRoad()
{
    TempDataDir dataDir;
    ModalAnswerer answerer;
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.2" }, { "127.0.0.1", "127.0.0.4" }));
    const QString port = QString::number(listeners.port());
    DB {};
    DbProbe(dataDir.dbPath()).exec("INSERT INTO subnets (subnet, name) VALUES ('127.0.0.0/29', 'Филиал')");
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    auto* label = w.findChild<QLabel*>("labelPort");
    auto* bar = w.findChild<QProgressBar*>("progressBar");
    scan(answerer, &w);
    QStringList found = addresses(&w);
    found.sort(); // in the order the probes ended
    QCOMPARE(found, (QStringList { "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6" }));
    QVERIFY(label->isHidden() && bar->isHidden());
    answerer.thenBox(QMessageBox::Ok); // the save notice
    QTest::mouseClick(w.findChild<QPushButton*>("pbSave"), Qt::LeftButton);
    const QString stored = QStringLiteral("SELECT count(*) FROM hosts WHERE subnet = '127.0.0.0/29' AND note = ''");
    QCOMPARE(DbProbe(dataDir.dbPath()).rows(stored).value(0).value(0).toInt(), 6); // empty text, not NULL

    scan(answerer, &w, port);
    const QStringList listening { "127.0.0.2", "127.0.0.5" };
    QCOMPARE(addresses(&w), listening);
    const QString caption = QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту");
    QCOMPARE(label->text(), caption);
    QVERIFY(label->isVisible() && bar->isVisible());
    QCOMPARE(bar->value(), 100);

    // Refused (an empty port) or cancelled (its port field takes exactly 1 to 65535), a scan leaves the
    // table, the label and the bar as they were.
    scan(answerer, &w, QStringLiteral(""));
    QStringList shown;
    answerer.then([&shown](QWidget* dialog) {
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
    QCOMPARE(addresses(&w), listening);
    QCOMPARE(label->text(), caption);
    QCOMPARE(bar->value(), 100);
    QCOMPARE(boxes(answerer),
        (QStringList { done,
            "2 Внимание!: Если IP-адрес уже существует в базе данных,\nбудет обновлено только Примечание", done,
            "3 Ошибка: Не указан порт для сканирования по TCP: введите число от 1 до 65535" }));
    QCOMPARE(answerer.unexpected, QStringList());
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
        << "3 Ошибка: Подсеть 127.0.0.1/29 не является сетью IPv4 в записи CIDR: сканирование невозможно";
}

void TestScanWindow::tcpScan()
{
    QFETCH(QString, subnet);
    QFETCH(QStringList, found);
    QFETCH(Steps, steps);
    QFETCH(QString, box);
    TempDataDir dataDir;
    ModalAnswerer answerer;
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.2", "127.0.0.3", "127.0.0.9" }));
    hostsWindow w(subnet);
    w.show();
    qobject_cast<QStandardItemModel*>(w.findChild<QTableView*>("tableView")->model())
        ->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
    QSignalSpy values(w.findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged);
    scan(answerer, &w, QString::number(listeners.port()));

    QCOMPARE(addresses(&w), found);
    QCOMPARE(Steps(values), steps);
    QCOMPARE(w.findChild<QLabel*>("labelPort")->isVisible(), !steps.isEmpty());
    QCOMPARE(w.findChild<QProgressBar*>("progressBar")->isVisible(), !steps.isEmpty());
    QCOMPARE(boxes(answerer), QStringList { box });
    QCOMPARE(answerer.unexpected, QStringList());
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
    TempDataDir dataDir;
    ModalAnswerer answerer;
    QTemporaryDir bin;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", standIn ? brokenPingDir(bin).toUtf8() : bin.path().toUtf8());
    hostsWindow w(QStringLiteral("127.0.0.0/30"));
    w.show();
    scan(answerer, &w);
    qputenv("PATH", path);
    QCOMPARE(boxes(answerer),
        QStringList { "3 Ошибка: Сканирование по ICMP не выполнено: команду ping не удалось выполнить " + quoted });
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
    TempDataDir dataDir;
    ModalAnswerer answerer;
    hostsWindow w(subnet);
    w.show();
    qobject_cast<QStandardItemModel*>(w.findChild<QTableView*>("tableView")->model())
        ->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
    answerer.then([port](QWidget* dialog) {
        if (!port.isNull()) {
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("port"), port);
        }
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
    QMessageBox::StandardButton preset = QMessageBox::NoButton;
    answerer.then([&](QWidget* box) {
        answerer.boxes << ModalAnswerer::Box { qobject_cast<QMessageBox*>(box)->icon(), box->windowTitle(),
            qobject_cast<QMessageBox*>(box)->text() };
        preset = qobject_cast<QMessageBox*>(box)->standardButton(qobject_cast<QMessageBox*>(box)->defaultButton());
        pressBoxButton(qobject_cast<QMessageBox*>(box), QMessageBox::No);
    });
    QTest::mouseClick(w.findChild<QPushButton*>("pbScan"), Qt::LeftButton);
    QTRY_COMPARE(answerer.pending(), 0);
    QCOMPARE(boxes(answerer),
        QStringList { "4 Внимание!: Подсеть " + subnet + " содержит адресов хостов: 16777214" + ".\nСканирование по "
            + question + ", и все это время окно будет занято.\nНачать сканирование?" });
    QCOMPARE(preset, QMessageBox::No);
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
    TempDataDir dataDir;
    ModalAnswerer answerer;
    const int sockets = socketCount();
    QPointer<hostsWindow> w = new hostsWindow(port.isNull() ? "127.0.0.0/24" : "127.0.0.0/16");
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
    answerer.then([port](QWidget* dialog) {
        if (!port.isNull()) {
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
            QTest::keyClicks(dialog->findChild<QLineEdit*>("port"), port);
        }
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    });
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
    QCOMPARE(answerer.unexpected, QStringList());
}

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
