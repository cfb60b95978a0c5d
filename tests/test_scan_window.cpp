// Scanning from the hosts window and the scan dialog, driven as a user would. Loopback only.
#include "db/DB.h"
#include "hosts/hostsWindow.h"
#include "hosts/scan/fpingSweep.h"
#include "tests/support/loopback.h"
#include "tests/support/modelText.h"
#include "tests/support/testSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

#include <memory>
#include <optional>

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

const QByteArray told = "printf '127.0.0.2 is alive\\n127.0.0.1 is unreachable\\n127.0.0.5 is alive\\n'\n"
                        "printf '127.0.0.3 is unreachable\\n127.0.0.4 is unreachable\\n127.0.0.6 is unreachable\\n'";

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        dir = std::make_unique<TempDataDir>();
        answerer = std::make_unique<ModalAnswerer>();
        QSettings(QStringLiteral("zarvin"), QStringLiteral("zarvin-subnets")).clear();
    }
    void cleanup()
    {
        const QString problems = answerer->problems();
        answerer.reset();
        dir.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems));
    }

    // A TCP scan replaces the rows; its bar steps by the whole part of 16.67 on a /29, and stands at
    // 100 at once on a /32 that probes none. One refused (an empty port) and one cancelled after it
    // leave the table, the label and the bar as the TCP scan left them.
    void tcpScanThenOneRefusedAndOneCancelled()
    {
        LoopbackListeners listeners;
        QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.2", "127.0.0.9" }, { "127.0.0.1", "127.0.0.4" }));
        const QString port = QString::number(listeners.port());
        hostsWindow single(QStringLiteral("127.0.0.9/32"));
        single.show();
        QSignalSpy singleSteps(single.findChild<QProgressBar*>("progressBar"), &QProgressBar::valueChanged);
        scanFromWindow(*answerer, &single, port);
        QCOMPARE(Steps(singleSteps), Steps { { 100 } });
        QCOMPARE(addresses(&single), QStringList());
        hostsWindow w(QStringLiteral("127.0.0.0/29"));
        w.show();
        hostRows(&w)->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
        auto* label = w.findChild<QLabel*>("labelPort");
        auto* bar = w.findChild<QProgressBar*>("progressBar");
        QSignalSpy steps(bar, &QProgressBar::valueChanged);
        scanFromWindow(*answerer, &w, port);
        QCOMPARE(Steps(steps), (Steps { { 16 }, { 33 }, { 50 }, { 66 }, { 83 }, { 100 } }));
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
            (QStringList {
                done, done, "Critical Ошибка: Не указан порт для сканирования по TCP: введите число от 1 до 65535" }));
    }

    // The box of fping: for ICMP only, this user's last choice, and without fping off with the package
    // named. The dialog's look and its port field are the same either way.
    void fastChoice_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("installed: ticked, then ticked at the next scan")
            << true << QStringList { "ICMP: on, unticked", "TCP: off, ticked", "next: on, ticked", "stored" };
        QTest::newRow("not installed") << false
                                       << QStringList { "ICMP: off, unticked", "TCP: off, unticked",
                                              "next: off, unticked",
                                              "Программа fping не установлена: установите пакет fping" };
    }

    void fastChoice()
    {
        QFETCH(bool, installed);
        QFETCH(QStringList, shown);
        CommandStandIn fping("fping", installed ? "exit 0" : "", !installed);
        hostsWindow w(QStringLiteral("127.0.0.9/32")); // nothing to probe: the scan ends at once
        w.show();
        QStringList seen;
        const auto state = [&seen](QWidget* dialog, const QString& when) {
            auto* box = dialog->findChild<QCheckBox*>("cbFast");
            seen << when + (box->isEnabled() ? ": on, " : ": off, ") + (box->isChecked() ? "ticked" : "unticked");
            return box;
        };
        answerer->then([&](QWidget* dialog) {
            QTest::keyClick(state(dialog, "ICMP"), Qt::Key_Space);
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
            state(dialog, "TCP");
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbICMP"), Qt::Key_Space);
            clickDialogButton(dialog);
        });
        answerer->thenBox();
        QStringList look; // the dialog as it opens; its port field takes exactly 1 to 65535
        answerer->then([&](QWidget* dialog) {
            QCheckBox* box = state(dialog, "next");
            if (!installed)
                seen << box->toolTip();
            const auto sizeText = [](QSize s) { return QStringLiteral("%1x%2").arg(s.width()).arg(s.height()); };
            look << dialog->windowTitle() << dialog->findChild<QRadioButton*>("rbICMP")->text()
                 << sizeText(dialog->minimumSize()) + " " + sizeText(dialog->maximumSize()) + " "
                    + sizeText(dialog->size());
            QTest::keyClick(dialog->findChild<QRadioButton*>("rbTCP"), Qt::Key_Space);
            look << dialog->findChild<QLabel*>("label")->text();
            auto* field = dialog->findChild<QLineEdit*>("port");
            for (const char* text : { "80", "65535", "0", "65536", "6,", "8080" }) {
                field->clear();
                QTest::keyClicks(field, text);
                look << field->text();
            }
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        clickButton(&w, "pbScan");
        QTRY_COMPARE(answerer->pending(), 1);
        clickButton(&w, "pbScan");
        QTRY_COMPARE(answerer->pending(), 0);
        // In the user's own settings, never in the data directory's shared file.
        if (QSettings(QStringLiteral("zarvin"), QStringLiteral("zarvin-subnets")).value("scan/fping").toBool()
            && !QFileInfo::exists(dir->settingsPath()))
            seen << "stored";
        QCOMPARE(seen, shown);
        QCOMPARE(look,
            (QStringList { "Параметры сканирования", "Сканировать по ICMP\n(дождитесь уведомления о завершени)",
                "320x166 316x166 320x166", "Порт: ", "80", "65535", "", "6553", "6", "8080" }));
        QCOMPARE(boxTexts(*answerer), QStringList { done });
    }

    // Ticked, fping sweeps: rows in ascending order, the bar and the label counting, the history naming
    // it. Unticked, ping sweeps as before and fping is never run.
    void fastScan_data()
    {
        QTest::addColumn<bool>("fast");
        QTest::addColumn<QByteArray>("standIn"); // the fping on PATH; empty: the system's
        QTest::addColumn<QString>("subnet");
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<Steps>("steps"); // of the bar
        QTest::addColumn<QString>("recorded"); // method|probed|answered, and the arguments fping got
        QTest::newRow("stand-in, /29") << true << told << "127.0.0.0/29" << QStringList { "127.0.0.2", "127.0.0.5" }
                                       << Steps { { 16 }, { 33 }, { 50 }, { 66 }, { 83 }, { 100 } }
                                       << "ICMP через fping|6|2 -i 1 -t 500 -r 1 -g 127.0.0.1 127.0.0.6\n";
        QTest::newRow("unticked: ping as before")
            << false << told << "127.0.0.0/29" << loopback(1, 6) << Steps() << "ICMP|6|6 ";
        QTest::newRow("the real fping, loopback /28")
            << true << QByteArray() << "127.0.0.0/28" << loopback(1, 14) << Steps() << "ICMP через fping|14|14 ";
    }

    void fastScan()
    {
        QFETCH(bool, fast);
        QFETCH(QByteArray, standIn);
        QFETCH(QString, subnet);
        QFETCH(QStringList, found);
        QFETCH(Steps, steps);
        QFETCH(QString, recorded);
        if (standIn.isEmpty() && FpingSweep::locate().isEmpty())
            QSKIP("fping is not installed (Debian package fping)");
        std::optional<CommandStandIn> fping;
        if (!standIn.isEmpty())
            fping.emplace("fping", standIn);
        DB {};
        DbProbe probe(dir->dbPath());
        hostsWindow w(subnet);
        w.show();
        auto* bar = w.findChild<QProgressBar*>("progressBar");
        QSignalSpy values(bar, &QProgressBar::valueChanged);
        thenScanDialog(*answerer, QString(), fast);
        answerer->thenBox();
        clickButton(&w, "pbScan");
        QTRY_COMPARE_WITH_TIMEOUT(answerer->pending(), 0, 30000);

        QStringList rows = addresses(&w);
        if (!fast) // in the order the probes ended
            rows.sort();
        QCOMPARE(rows, found);
        QCOMPARE(bar->isVisible(), fast);
        QCOMPARE(w.findChild<QLabel*>("labelPort")->isVisible(), fast);
        if (!standIn.isEmpty())
            QCOMPARE(Steps(values), steps);
        QCOMPARE(bar->value(), fast ? 100 : 0);
        QCOMPARE(w.findChild<QLabel*>("labelPort")->text(),
            fast ? QStringLiteral("Сканирование подсети по ICMP через fping: опрошено %1 из %1")
                       .arg(found.size() == 2 ? 6 : 14)
                 : QString());
        QCOMPARE(probe.lines("SELECT method, probed, answered FROM scans").join(QString()) + ' '
                + (fping ? fileBytes(fping->log()) : QByteArray()),
            recorded);
        QCOMPARE(boxTexts(*answerer), QStringList { done });
    }

    // A ping that cannot run (missing: the shell's 127; without its capability it ends with 2, the
    // same road) is reported as an error quoting it, not as a scan that found nothing.
    void pingCannotRun()
    {
        CommandStandIn noPing("ping", "", true);
        hostsWindow w(QStringLiteral("127.0.0.0/30"));
        w.show();
        thenScanDialog(*answerer);
        answerer->thenBox();
        clickButton(&w, "pbScan");
        QTRY_COMPARE_WITH_TIMEOUT(answerer->pending(), 0, 30000);
        QCOMPARE(boxTexts(*answerer),
            QStringList { "Critical Ошибка: Сканирование по ICMP не выполнено: команду ping не удалось выполнить (код "
                          "завершения 127).\n/bin/sh: 1: ping: not found" });
        QCOMPARE(addresses(&w), QStringList());
    }

    // Larger than a /16 (a /16 starts at once: see windowGoneDuringScan): asked first, with the
    // count and the expected time; No changes nothing.
    void hugeSubnetAsksFirst_data()
    {
        QTest::addColumn<QString>("subnet");
        QTest::addColumn<QString>("port"); // null: ICMP
        QTest::addColumn<QString>("question");
        QTest::newRow("ICMP /15") << "127.0.0.0/15" << QString() << "131070.\nСканирование по ICMP займет около 3 мин";
        QTest::newRow("ICMP /8") << "127.0.0.0/8" << QString()
                                 << "16777214.\nСканирование по ICMP займет около 4 ч 34 мин";
        QTest::newRow("TCP /8") << "127.0.0.0/8"
                                << "80"
                                << "16777214.\nСканирование по TCP займет около 55 мин";
    }

    void hugeSubnetAsksFirst()
    {
        QFETCH(QString, subnet);
        QFETCH(QString, port);
        QFETCH(QString, question);
        hostsWindow w(subnet);
        w.show();
        hostRows(&w)->appendRow(new QStandardItem(QStringLiteral("127.0.0.7"))); // a row from before
        thenScanDialog(*answerer, port);
        answerer->thenBox(QMessageBox::No);
        QTest::mouseClick(w.findChild<QPushButton*>("pbScan"), Qt::LeftButton);
        QTRY_COMPARE(answerer->pending(), 0);
        QCOMPARE(boxTexts(*answerer),
            QStringList { "Question Внимание!: Подсеть " + subnet + " содержит адресов хостов: " + question
                + ", и все это время окно будет занято.\nНачать сканирование?" });
        QCOMPARE(answerer->boxes.value(0).defaultButton, QMessageBox::No);
        QCOMPARE(addresses(&w), QStringList { "127.0.0.7" });
        QVERIFY(w.findChild<QLabel*>("labelPort")->isHidden() && w.findChild<QProgressBar*>("progressBar")->isHidden());
        QCOMPARE(childCount(), 0);
        QVERIFY(w.findChild<QPushButton*>("pbScan")->isEnabled());
    }

    // Closed (and so deleted) or deleted while its probes run: the probes are stopped, children
    // reaped and sockets closed, and nothing reaches the gone window.
    void windowGoneDuringScan_data()
    {
        QTest::addColumn<QString>("port"); // null: ICMP
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("fast");
        QTest::newRow("TCP /16, deleted") << "9" << false << false;
        QTest::newRow("ICMP /24, closed") << QString() << true << false;
        QTest::newRow("ICMP by fping /24, closed") << QString() << true << true;
    }

    void windowGoneDuringScan()
    {
        QFETCH(QString, port);
        QFETCH(bool, close);
        QFETCH(bool, fast);
        // Three addresses told (the bar moves), then it waits as a long sweep would; a kill must end it.
        CommandStandIn fping(
            "fping", "printf '127.0.0.1 is alive\\n127.0.0.2 is alive\\n127.0.0.3 is alive\\n'; exec sleep 60");
        const int sockets = socketCount();
        QPointer<hostsWindow> w = new hostsWindow(port.isNull() ? "127.0.0.0/24" : "127.0.0.0/16");
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        thenScanDialog(*answerer, port, fast);
        bool scanning = false;
        const auto end = [&] {
            scanning = w && !w->findChild<QPushButton*>("pbScan")->isEnabled();
            if (close)
                w->close();
            else
                delete w;
        };
        // From the event loop, not from inside the sweep's own signal: TCP and fping once the bar moves,
        // ICMP while the first echoes are awaited (each probe takes a second).
        if (port.isNull() && !fast)
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

private:
    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<ModalAnswerer> answerer;
};

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
