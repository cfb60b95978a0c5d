// Scanning from the hosts window and the scan dialog, driven as a user would. Loopback only.
#include "hosts/hostsWindow.h"
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
}

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private slots:
    void doneWhenRoad();
    void tcpScan_data();
    void tcpScan();
};

// By ICMP, six rows saved with empty notes; by TCP, the listeners; an empty port refused; 8080 cancelled.
void TestScanWindow::doneWhenRoad()
{
    TempDataDir dataDir;
    ModalAnswerer answerer;
    LoopbackListeners listeners;
    QVERIFY(listeners.listen({ "127.0.0.5", "127.0.0.2" }, { "127.0.0.1", "127.0.0.4" }));
    const QString port = QString::number(listeners.port());
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

QTEST_MAIN(TestScanWindow)
#include "test_scan_window.moc"
