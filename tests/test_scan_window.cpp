// Scanning from the hosts window and the scan dialog, driven as a user would. Loopback only.
#include "hosts/hostsWindow.h"
#include "hosts/scanSubnetWindow.h"
#include "net/ipv4.h"
#include "tests/support/loopback.h"
#include "tests/support/testSupport.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

const QString doneTitle = QStringLiteral("Выполнено!");
const QString doneText = QStringLiteral("Сканирование завершено!");

QStandardItemModel* tableOf(hostsWindow& w)
{
    return qobject_cast<QStandardItemModel*>(w.findChild<QTableView*>(QStringLiteral("tableView"))->model());
}

QStringList addresses(hostsWindow& w)
{
    QStringList out;
    QStandardItemModel* model = tableOf(w);
    for (int row = 0; row < model->rowCount(); ++row)
        out << model->index(row, 0).data().toString();
    return out;
}

QStringList sortedAddresses(hostsWindow& w)
{
    QStringList out = addresses(w);
    std::sort(out.begin(), out.end(),
        [](const QString& a, const QString& b) { return *net::parseAddress(a) < *net::parseAddress(b); });
    return out;
}

QLabel* portLabel(hostsWindow& w)
{
    return w.findChild<QLabel*>(QStringLiteral("labelPort"));
}
QProgressBar* bar(hostsWindow& w)
{
    return w.findChild<QProgressBar*>(QStringLiteral("progressBar"));
}

template <typename T> T* part(QWidget* dialog, const char* name)
{
    T* widget = dialog->findChild<T*>(QLatin1String(name));
    Q_ASSERT(widget);
    return widget;
}

void chooseTcp(QWidget* dialog, const QString& port)
{
    QTest::keyClick(part<QRadioButton>(dialog, "rbTCP"), Qt::Key_Space);
    QTest::keyClicks(part<QLineEdit>(dialog, "port"), port);
}

void press(QWidget* dialog, QDialogButtonBox::StandardButton which)
{
    QTest::mouseClick(part<QDialogButtonBox>(dialog, "buttonBox")->button(which), Qt::LeftButton);
}

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void icmpScanFindsTheLoopbackHosts();
    void tcpScanFindsExactlyTheListenersInOrder();
    void tcpScanOfA31ProbesBothAddresses();
    void tcpScanOfA32ProbesNothing();
    void cancellingKeepsTheTable_data();
    void cancellingKeepsTheTable();
    void secondScanReplacesTheFirst();
    void refusedPortTouchesNothing();
    void invalidWindowSubnetIsRefused_data();
    void invalidWindowSubnetIsRefused();
    void portField_data();
    void portField();
    void radioButtonsShowAndHideThePort();

private:
    // Answers the scan dialog: TCP on `port`, or ICMP when `port` is null; then the box.
    void scan(hostsWindow& w, const QString& port = QString());

    std::unique_ptr<TempDataDir> dataDir;
    std::unique_ptr<ModalAnswerer> answerer;
};

void TestScanWindow::init()
{
    dataDir = std::make_unique<TempDataDir>();
    answerer = std::make_unique<ModalAnswerer>();
}

void TestScanWindow::cleanup()
{
    QVERIFY2(answerer->unexpected.isEmpty(), qPrintable(answerer->unexpected.join(QLatin1Char('\n'))));
    answerer.reset();
    dataDir.reset();
}

void TestScanWindow::scan(hostsWindow& w, const QString& port)
{
    answerer->then([port](QWidget* dialog) {
        if (!port.isNull())
            chooseTcp(dialog, port);
        press(dialog, QDialogButtonBox::Ok);
    });
    answerer->thenBox(QMessageBox::Ok);
    w.scanWindow();
}

void TestScanWindow::icmpScanFindsTheLoopbackHosts()
{
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    QString title;
    QSize size;
    answerer->then([&](QWidget* dialog) {
        title = dialog->windowTitle();
        size = dialog->size();
        press(dialog, QDialogButtonBox::Ok);
    });
    answerer->thenBox(QMessageBox::Ok);
    w.scanWindow();

    QCOMPARE(title, QStringLiteral("Параметры сканирования"));
    QCOMPARE(size, QSize(320, 166));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Information);
    QCOMPARE(answerer->boxes[0].title, doneTitle);
    QCOMPARE(answerer->boxes[0].text, doneText);
    QCOMPARE(sortedAddresses(w),
        (QStringList { "127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6" }));
    for (int row = 0; row < 6; ++row)
        QVERIFY(!tableOf(w)->item(row, 1)); // a scanned row has no note item
    QVERIFY(portLabel(w)->isHidden());
    QVERIFY(bar(w)->isHidden());
}

void TestScanWindow::tcpScanFindsExactlyTheListenersInOrder()
{
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.2" }, { "127.0.0.1", "127.0.0.4" }));
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    w.show();
    QSignalSpy values(bar(w), &QProgressBar::valueChanged);
    const QString port = QString::number(listeners.port());
    scan(w, port);

    QCOMPARE(addresses(w), (QStringList { "127.0.0.2", "127.0.0.5" }));
    QCOMPARE(portLabel(w)->text(), QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту"));
    QVERIFY(portLabel(w)->isVisible());
    QVERIFY(bar(w)->isVisible());
    QCOMPARE(bar(w)->value(), 100);
    QVERIFY(values.size() >= 5); // one step per address
    for (int i = 1; i < values.size(); ++i)
        QVERIFY(values[i - 1].at(0).toInt() < values[i].at(0).toInt());
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].title, doneTitle);
    QCOMPARE(answerer->boxes[0].text, doneText);
}

void TestScanWindow::tcpScanOfA31ProbesBothAddresses()
{
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.3", "127.0.0.2" }));
    hostsWindow w(QStringLiteral("127.0.0.2/31"));
    QSignalSpy values(bar(w), &QProgressBar::valueChanged);
    scan(w, QString::number(listeners.port()));

    QCOMPARE(addresses(w), (QStringList { "127.0.0.2", "127.0.0.3" }));
    QCOMPARE(values.size(), 2);
    QCOMPARE(values[0].at(0).toInt(), 50);
    QCOMPARE(bar(w)->value(), 100);
    QCOMPARE(answerer->boxes.size(), 1);
}

void TestScanWindow::tcpScanOfA32ProbesNothing()
{
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.9" }));
    hostsWindow w(QStringLiteral("127.0.0.9/32"));
    scan(w, QString::number(listeners.port()));

    QVERIFY(addresses(w).isEmpty());
    QVERIFY(!portLabel(w)->isHidden());
    QCOMPARE(bar(w)->value(), 100);
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].text, doneText);
}

void TestScanWindow::cancellingKeepsTheTable_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel button") << 0;
    QTest::newRow("Escape key") << 1;
    QTest::newRow("window closed") << 2;
}

void TestScanWindow::cancellingKeepsTheTable()
{
    QFETCH(int, how);
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.2", "127.0.0.5" }));
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    const QString port = QString::number(listeners.port());
    scan(w, port);
    QCOMPARE(addresses(w), (QStringList { "127.0.0.2", "127.0.0.5" }));

    answerer->then([how](QWidget* dialog) {
        chooseTcp(dialog, QStringLiteral("22"));
        if (how == 0)
            press(dialog, QDialogButtonBox::Cancel);
        else if (how == 1)
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    w.scanWindow();

    QCOMPARE(addresses(w), (QStringList { "127.0.0.2", "127.0.0.5" }));
    QCOMPARE(portLabel(w)->text(), QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту"));
    QCOMPARE(answerer->boxes.size(), 1); // the first scan's only
    QCOMPARE(answerer->pending(), 0);
}

void TestScanWindow::secondScanReplacesTheFirst()
{
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    {
        LoopbackListeners first;
        QVERIFY(first.listen({ "127.0.0.2", "127.0.0.5" }));
        scan(w, QString::number(first.port()));
    }
    QCOMPARE(addresses(w), (QStringList { "127.0.0.2", "127.0.0.5" }));

    LoopbackListeners second;
    QVERIFY(second.listen({ "127.0.0.3" }));
    const QString port = QString::number(second.port());
    scan(w, port);

    QCOMPARE(addresses(w), QStringList { "127.0.0.3" });
    QCOMPARE(portLabel(w)->text(), QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту"));
    QCOMPARE(answerer->boxes.size(), 2);
}

void TestScanWindow::refusedPortTouchesNothing()
{
    hostsWindow w(QStringLiteral("127.0.0.0/29"));
    answerer->then([](QWidget* dialog) {
        chooseTcp(dialog, QString());
        press(dialog, QDialogButtonBox::Ok);
    });
    answerer->thenBox(QMessageBox::Ok);
    w.scanWindow();
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QCOMPARE(answerer->boxes[0].title, QStringLiteral("Ошибка"));
    QVERIFY2(answerer->boxes[0].text.contains(QStringLiteral("Не указан порт")), qPrintable(answerer->boxes[0].text));
    QVERIFY(portLabel(w)->isHidden());
    QVERIFY(bar(w)->isHidden());

    // After a scan: its rows, label and bar stay as they were.
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.2", "127.0.0.5" }));
    const QString port = QString::number(listeners.port());
    scan(w, port);
    tableOf(w)->item(0, 0)->setText(QStringLiteral("127.0.0.4")); // an unsaved edit
    answerer->then([](QWidget* dialog) {
        chooseTcp(dialog, QString());
        press(dialog, QDialogButtonBox::Ok);
    });
    answerer->thenBox(QMessageBox::Ok);
    w.scanWindow();

    QCOMPARE(answerer->boxes.size(), 3);
    QCOMPARE(answerer->boxes[2].icon, QMessageBox::Critical);
    QCOMPARE(addresses(w), (QStringList { "127.0.0.4", "127.0.0.5" }));
    QCOMPARE(portLabel(w)->text(), QStringLiteral("Сканирование подсети по ") + port + QStringLiteral(" порту"));
    QCOMPARE(bar(w)->value(), 100);
}

void TestScanWindow::invalidWindowSubnetIsRefused_data()
{
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("port"); // null: ICMP
    QTest::newRow("host bits set, ICMP") << "127.0.0.1/29" << QString();
    QTest::newRow("host bits set, TCP") << "127.0.0.1/29"
                                        << "80";
    QTest::newRow("no prefix") << "127.0.0.0" << QString();
    QTest::newRow("prefix 33") << "127.0.0.0/33"
                               << "80";
}

void TestScanWindow::invalidWindowSubnetIsRefused()
{
    QFETCH(QString, subnet);
    QFETCH(QString, port);
    hostsWindow w(subnet);
    tableOf(w)->appendRow(
        { new QStandardItem(QStringLiteral("127.0.0.7")), new QStandardItem(QStringLiteral("kept")) });
    scan(w, port);

    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes[0].icon, QMessageBox::Critical);
    QVERIFY2(answerer->boxes[0].text.contains(subnet), qPrintable(answerer->boxes[0].text));
    QCOMPARE(tableOf(w)->rowCount(), 1);
    QCOMPARE(tableOf(w)->item(0, 1)->text(), QStringLiteral("kept"));
    QVERIFY(portLabel(w)->isHidden());
    QVERIFY(bar(w)->isHidden());
}

void TestScanWindow::portField_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    for (const char* port : { "1", "22", "80", "443", "8080", "8443", "9100", "65535" })
        QTest::addRow("port %s", port) << port << port;
    QTest::newRow("0 refused") << "0"
                               << "";
    QTest::newRow("leading zero refused") << "080"
                                          << "80";
    QTest::newRow("65536: the last digit refused") << "65536"
                                                   << "6553";
    QTest::newRow("99999: the fifth digit refused") << "99999"
                                                    << "9999";
    QTest::newRow("comma refused") << "6,"
                                   << "6";
    QTest::newRow("sign and blanks refused") << "-1 2"
                                             << "12";
    QTest::newRow("letters refused") << "http"
                                     << "";
}

void TestScanWindow::portField()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    scanSubnetWindow dialog;
    dialog.show();
    chooseTcp(&dialog, typed);

    QCOMPARE(part<QLineEdit>(&dialog, "port")->text(), shown);
    const auto request = dialog.scanParameter();
    QVERIFY(request);
    QCOMPARE(request->method, QStringLiteral("TCP"));
    QCOMPARE(request->port, shown);
}

void TestScanWindow::radioButtonsShowAndHideThePort()
{
    scanSubnetWindow dialog;
    dialog.show();
    auto* label = part<QLabel>(&dialog, "label");
    auto* port = part<QLineEdit>(&dialog, "port");
    QVERIFY(part<QRadioButton>(&dialog, "rbICMP")->isChecked());
    QVERIFY(label->isHidden() && port->isHidden());
    QCOMPARE(dialog.scanParameter()->method, QStringLiteral("ICMP"));

    chooseTcp(&dialog, QStringLiteral("443"));
    QVERIFY(label->isVisible() && port->isVisible());
    QCOMPARE(label->text(), QStringLiteral("Порт: "));

    QTest::keyClick(part<QRadioButton>(&dialog, "rbICMP"), Qt::Key_Space);
    QVERIFY(label->isHidden() && port->isHidden());
    QCOMPARE(port->text(), QStringLiteral("443")); // kept while hidden
    QCOMPARE(dialog.scanParameter()->method, QStringLiteral("ICMP"));
}

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
