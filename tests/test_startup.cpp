#include "app/agreementWindow.h"
#include "app/settings.h"
#include "app/startup.h"
#include "gui/desktop.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

void writeSettings(const QString& path, const QByteArray& text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QList<QWidget*> visibleWindows()
{
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow())
            out << w;
    return out;
}

template <typename T> T* visibleWindowOf()
{
    for (QWidget* w : visibleWindows())
        if (auto* t = qobject_cast<T*>(w))
            return t;
    return nullptr;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init() { dir = std::make_unique<TempDataDir>(); }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QTRY_VERIFY(visibleWindows().isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dir.reset();
    }

    void floorDivision_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("minus three rounds down") << -3 << -2;
        QTest::newRow("minus one") << -1 << -1;
        QTest::newRow("minus four") << -4 << -2;
        QTest::newRow("zero") << 0 << 0;
        QTest::newRow("odd positive") << 1121 << 560;
    }

    void floorDivision()
    {
        QFETCH(int, value);
        QFETCH(int, expected);
        QCOMPARE(floorDiv(value, 2), expected);
        QCOMPARE(centredPosition(QSize(1000, 1000), QSize(1000 - value, 1000 - 2 * value), 50),
            QPoint(expected, value - 50));
    }

    void onlyExactTrueIsAcceptance_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("true") << QByteArray("[Installed]\nagreement=true\n") << true;
        QTest::newRow("capital True") << QByteArray("[Installed]\nagreement=True\n") << false;
        QTest::newRow("upper TRUE") << QByteArray("[Installed]\nagreement=TRUE\n") << false;
        QTest::newRow("one") << QByteArray("[Installed]\nagreement=1\n") << false;
        QTest::newRow("empty value") << QByteArray("[Installed]\nagreement=\n") << false;
        QTest::newRow("other group") << QByteArray("[General]\nagreement=true\n") << false;
        QTest::newRow("no file") << QByteArray() << false;
    }

    void onlyExactTrueIsAcceptance()
    {
        QFETCH(QByteArray, settings);
        QFETCH(bool, accepted);
        if (!settings.isEmpty())
            writeSettings(dir->settingsPath(), settings);
        auto install = openSettings();
        QCOMPARE(isAgreementAccepted(*install), accepted);

        QWidget* first = openFirstWindow(*install, nullptr);
        QVERIFY(first);
        QCOMPARE(qobject_cast<ZarvinWindow*>(first) != nullptr, accepted);
        QCOMPARE(qobject_cast<agreementWindow*>(first) != nullptr, !accepted);
        QVERIFY(first->isVisible());
        QCOMPARE(first->pos(), centredPosition(desktopSize(), first->size()));
        if (!accepted)
            QCOMPARE(first->windowTitle(), QString("Лицензионное соглашение"));
    }

    void acceptingWritesTheFlagAndOpensMainWindow()
    {
        auto install = openSettings();
        QWidget* first = openFirstWindow(*install, nullptr);
        QPointer<QWidget> agreement = first;
        QVERIFY(qobject_cast<agreementWindow*>(first));
        QTest::mouseClick(first->findChild<QPushButton*>("pbYes"), Qt::LeftButton);

        auto* main = visibleWindowOf<ZarvinWindow>();
        QVERIFY(main);
        QCOMPARE(main->pos(), centredPosition(desktopSize(), main->size()));
        QTRY_VERIFY(agreement.isNull() || !agreement->isVisible());

        QSettings written(dir->settingsPath(), QSettings::IniFormat);
        QCOMPARE(written.childGroups(), QStringList({ "Installed" }));
        QCOMPARE(written.value("Installed/agreement").toString(), QString("true"));

        // The next start goes straight to the main window.
        auto again = openSettings();
        QVERIFY(qobject_cast<ZarvinWindow*>(openFirstWindow(*again, nullptr)));
    }

    // Declining writes nothing and ends the run with 0; accepting while the database cannot be
    // opened keeps the acceptance, says why in a box, and ends the run with 1.
    void agreementAnswerEndsTheRun_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("written");
        QTest::newRow("declined") << "pbNo" << 0 << QString();
        QTest::newRow("accepted, database unreadable") << "pbYes" << 1 << "true";
    }

    void agreementAnswerEndsTheRun()
    {
        QFETCH(QString, button);
        QFETCH(int, status);
        QFETCH(QString, written);
        const bool broken = status != 0;
        if (broken)
            writeSettings(dir->dbPath(), QByteArray("not a database at all\n").repeated(100));
        ModalAnswerer answerer;
        if (broken)
            answerer.thenBox();
        auto install = openSettings();
        QWidget* first = openFirstWindow(*install, nullptr);
        QVERIFY(first);
        QTimer::singleShot(0, first->findChild<QPushButton*>(button), &QPushButton::click);
        QCOMPARE(QApplication::exec(), status);
        QVERIFY(visibleWindows().isEmpty());
        QCOMPARE(answerer.problems(), QString());
        QCOMPARE(answerer.boxes.size(), int(broken));
        if (broken)
            QVERIFY2(answerer.boxes[0].icon == QMessageBox::Critical && answerer.boxes[0].text.contains(dir->dbPath()),
                qPrintable(answerer.boxes[0].text));
        QCOMPARE(QFile::exists(dir->settingsPath()), broken);
        QCOMPARE(QSettings(dir->settingsPath(), QSettings::IniFormat).value("Installed/agreement").toString(), written);
    }

    // A settings path that cannot be written still lets this run continue in the main window.
    void unwritableSettingsStillOpenMainWindow()
    {
        QVERIFY(QDir(dir->path()).mkdir("install"));
        auto install = openSettings();
        QWidget* first = openFirstWindow(*install, nullptr);
        QVERIFY(qobject_cast<agreementWindow*>(first));
        QTest::mouseClick(first->findChild<QPushButton*>("pbYes"), Qt::LeftButton);
        QVERIFY(visibleWindowOf<ZarvinWindow>());
    }

    void brokenDatabaseEndsStartWithStatusOneAndKeepsTheFile()
    {
        writeSettings(dir->settingsPath(), "[Installed]\nagreement=true\n");
        const QByteArray garbage = QByteArray("not a database at all\n").repeated(100);
        writeSettings(dir->dbPath(), garbage);

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ZARVIN_SUBNETS_DIR", dir->path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(QCoreApplication::applicationDirPath() + "/../zarvin-subnets", QStringList());
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(err.contains(dir->dbPath()), qPrintable(err));
        QFile f(dir->dbPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), garbage);
    }

private:
    std::unique_ptr<TempDataDir> dir;
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
