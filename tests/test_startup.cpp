#include "app/agreementWindow.h"
#include "app/settings.h"
#include "app/startup.h"
#include "db/DB.h"
#include "db/dataDir.h"
#include "gui/desktop.h"
#include "tests/support/pgServer.h"
#include "tests/support/testSupport.h"
#include "tree/ZarvinWindow.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <memory>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

uid_t nobodyUid()
{
    const passwd* pw = getpwnam("nobody");
    return pw ? pw->pw_uid : 65534;
}

// Sets the data directory up for one start-up failure; returns the database file's bytes
// beforehand (null when there is none).
QByteArray arrange(const QString& situation)
{
    const QString data = dataDir();
    if (situation == "damaged") {
        const QByteArray garbage = QByteArray("not a database at all\n").repeated(100);
        writeFile(data + "subnets.db", garbage);
        return garbage;
    }
    if (situation == "unmakeable") {
        writeFile(data + "plain-file", "x");
        qputenv("ZARVIN_SUBNETS_DIR", (data + "plain-file/subnets").toUtf8());
        return QByteArray();
    }
    if (situation == "unreachable") {
        qputenv("ZARVIN_DATABASE", ("postgresql://x@/nothing?host=" + data + "gone").toUtf8());
        return QByteArray();
    }
    // Directories and files of root, which the start that follows runs as the user nobody: the
    // database of one user, readable by others or not.
    const QByteArray path = QFile::encodeName(data);
    if (situation == "foreign" || situation == "private") {
        chmod(path.constData(), 0777);
        if (!QFile::exists(data + "subnets.db"))
            writeFile(data + "subnets.db", "not for everyone");
        chmod(QFile::encodeName(data + "subnets.db").constData(), situation == "private" ? 0600 : 0644);
        return fileBytes(data + "subnets.db");
    }
    const group* gr = getgrnam(situation.toLatin1().constData());
    if (!gr || chown(path.constData(), 0, gr->gr_gid) != 0 || chmod(path.constData(), 02775) != 0)
        qWarning("cannot give the directory to group %s", qPrintable(situation));
    return QByteArray();
}

QString programPath()
{
    return QString::fromUtf8(ZARVIN_PROGRAM);
}

QProcessEnvironment programEnvironment(const QString& platform)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVIN_SUBNETS_DIR", dataDir());
    env.insert("QT_QPA_PLATFORM", platform);
    return env;
}

// Everything written to standard error while it lives goes to a file instead.
class StderrCapture {
public:
    StderrCapture()
    {
        file.open();
        std::fflush(stderr);
        saved = dup(STDERR_FILENO);
        dup2(file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { restore(); }
    QString text()
    {
        restore();
        file.seek(0);
        return QString::fromLocal8Bit(file.readAll());
    }

private:
    void restore()
    {
        if (saved < 0)
            return;
        std::fflush(stderr);
        dup2(saved, STDERR_FILENO);
        close(saved);
        saved = -1;
    }
    QTemporaryFile file;
    int saved = -1;
};

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void init() { dir = std::make_unique<TempDataDir>(); }

    void cleanup()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->close();
        QTRY_VERIFY(visibleWindows<QWidget>().isEmpty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        dir.reset();
    }

    void floorDivision_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("minus three rounds down") << -3 << -2;
        QTest::newRow("minus one") << -1 << -1;
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
            QVERIFY(writeFile(dir->settingsPath(), settings));
        auto install = openSettings();
        QCOMPARE(isAgreementAccepted(*install), accepted);

        QWidget* first = openFirstWindow(*install).value;
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
        QWidget* first = openFirstWindow(*install).value;
        QPointer<QWidget> agreement = first;
        QVERIFY(qobject_cast<agreementWindow*>(first));
        QTest::mouseClick(first->findChild<QPushButton*>("pbYes"), Qt::LeftButton);

        auto* main = visibleWindows<ZarvinWindow>().value(0);
        QVERIFY(main);
        QCOMPARE(main->pos(), centredPosition(desktopSize(), main->size()));
        QTRY_VERIFY(agreement.isNull() || !agreement->isVisible());

        QSettings written(dir->settingsPath(), QSettings::IniFormat);
        QCOMPARE(written.childGroups(), QStringList({ "Installed" }));
        QCOMPARE(written.value("Installed/agreement").toString(), QString("true"));

        // The next start goes straight to the main window.
        auto again = openSettings();
        QVERIFY(qobject_cast<ZarvinWindow*>(openFirstWindow(*again).value));
    }

    // Declining leaves nothing in the data directory and ends the run with 0 (accepting when the
    // database cannot be opened is one of the start-up failures below).
    void declineEndsTheRunWithZero()
    {
        auto install = openSettings();
        QTimer::singleShot(0, [] { clickButton(visibleWindows<agreementWindow>().value(0), "pbNo"); });
        QCOMPARE(runApplication(*install), 0);
        QVERIFY(visibleWindows<QWidget>().isEmpty());
        QCOMPARE(QDir(dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // A settings path that cannot be written still lets this run continue in the main window.
    void unwritableSettingsStillOpenMainWindow()
    {
        QVERIFY(QDir(dir->path()).mkdir("install"));
        auto install = openSettings();
        QWidget* first = openFirstWindow(*install).value;
        QVERIFY(qobject_cast<agreementWindow*>(first));
        QTest::mouseClick(first->findChild<QPushButton*>("pbYes"), Qt::LeftButton);
        QVERIFY(visibleWindows<ZarvinWindow>().value(0));
    }

    // Every start-up failure: a critical box (the user may have started from the menu), the same
    // text on standard error, status 1, and no database file changed or left behind. An agreement
    // accepted just before stays accepted.
    void startFailureIsShownAndEndsWithOne_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("expected"); // %1: the data directory, with its final '/'
        // clang-format off
        QTest::newRow("damaged database") << "damaged" << "Не удалось открыть базу данных %1subnets.db:\n";
        QTest::newRow("damaged database, agreement accepted now") << "damaged, accepting" << "Не удалось открыть базу данных %1subnets.db:\n";
        QTest::newRow("directory cannot be made") << "unmakeable" << "Каталог данных %1 не существует, и создать его не удалось";
        QTest::newRow("user outside the group") << "users" << "Нет права записи в каталог данных %1 у пользователя nobody.\n\nКаталогом пользуются участники группы users. Чтобы получить доступ, администратор выполняет команду\n\nsudo adduser nobody users\n\nзатем войдите в систему заново.";
        QTest::newRow("member not yet logged in again") << "nogroup" << "Нет права записи в каталог данных %1 у пользователя nobody.\n\nПользователь nobody уже включён в группу nogroup, но это";
        QTest::newRow("database the user cannot read") << "private" << "Нет права чтения файла базы данных %1subnets.db у пользователя nobody";
        QTest::newRow("server unreachable") << "unreachable" << "Не удалось открыть базу данных nothing на %1gone:\nСервер базы данных недоступен: ";
        // clang-format on
    }

    void startFailureIsShownAndEndsWithOne()
    {
        QFETCH(QString, situation);
        QFETCH(QString, expected);
        if (situation.endsWith(", accepting"))
            QTimer::singleShot(0, [] { clickButton(visibleWindows<agreementWindow>().value(0), "pbYes"); });
        else
            QVERIFY(writeFile(dir->settingsPath(), "[Installed]\nagreement=true\n"));
        const QByteArray before = arrange(situation.section(',', 0, 0));
        if (QTest::currentTestFailed())
            return;
        const bool asNobody
            = !situation.startsWith("damaged") && !QStringList { "unmakeable", "unreachable" }.contains(situation);
        if (asNobody && geteuid() != 0)
            QSKIP("acting as another user needs root");
        const QString data = dataDir();

        ModalAnswerer answerer;
        answerer.thenBox(QMessageBox::Ok);
        StderrCapture err;
        if (asNobody)
            QVERIFY(seteuid(nobodyUid()) == 0);
        auto install = openSettings();
        const int status = runApplication(*install);
        if (asNobody)
            QVERIFY(seteuid(0) == 0);

        QCOMPARE(status, 1);
        QVERIFY2(answerer.problems().isEmpty(), qPrintable(answerer.problems()));
        const ModalAnswerer::Box box = answerer.boxes.value(0);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, QString("Ошибка"));
        QVERIFY2(box.text.contains(expected.arg(data)), qPrintable(box.text));
        QVERIFY2(err.text().contains("zarvin-subnets: " + box.text), qPrintable(err.text()));
        QVERIFY(visibleWindows<QWidget>().isEmpty());
        QCOMPARE(QSettings(dir->settingsPath(), QSettings::IniFormat).value("Installed/agreement").toString(), "true");
        QCOMPARE(QFile::exists(databaseFilePath()), !before.isNull());
        QCOMPARE(fileBytes(databaseFilePath()), before);
    }

    // Where nothing can be written but the database can be read, it opens for viewing, and the
    // status line says why and what to do.
    void viewOnlyWithoutWriteAccess_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("expected"); // %1: the data directory, with its final '/'
        // clang-format off
        QTest::newRow("directory of another group") << "users" << "Только чтение. Нет права записи в каталог данных %1 у пользователя nobody. Каталогом пользуются участники группы users. Чтобы получить доступ, администратор выполняет команду sudo adduser nobody users затем войдите в систему заново.";
        QTest::newRow("database of another user") << "foreign" << "Только чтение. Нет права записи в файл базы данных %1subnets.db у пользователя nobody";
        QTest::newRow("role of the server that may only read") << "server viewer" << "Только чтение. Пользователь сервера может только читать базу данных test";
        // clang-format on
    }

    void viewOnlyWithoutWriteAccess()
    {
        QFETCH(QString, situation);
        QFETCH(QString, expected);
        const bool server = situation.startsWith("server"); // nothing of the data directory's rights matters
        if (!server && geteuid() != 0)
            QSKIP("acting as another user needs root");
        QVERIFY(writeFile(dir->settingsPath(), "[Installed]\nagreement=true\n"));
        const QString url = server ? pgServer::newDatabase() : QString();
        qputenv("ZARVIN_DATABASE", url.toUtf8());
        QVERIFY(DB().status().ok());
        QVERIFY(DbProbe(dir->dbPath()).exec("INSERT INTO subnets (subnet, name) VALUES ('10.0.0.0/8', 'Орг')"));
        const std::unique_ptr<ServerRole> viewer(server ? new ServerRole(url, ServerRole::Viewer) : nullptr);
        if (!server)
            arrange(situation);
        const QByteArray before = fileBytes(dir->dbPath());
        QString title, reason;
        int rows = -1;
        QTimer::singleShot(0, [&] {
            if (auto* main = visibleWindows<ZarvinWindow>().value(0)) {
                title = main->windowTitle();
                rows = main->findChild<QTreeView*>()->model()->rowCount();
                auto* label = main->findChild<QLabel*>("readOnlyReason");
                reason = label && label->isVisible() ? label->text() : QString();
            }
            for (QWidget* w : QApplication::topLevelWidgets())
                w->close();
        });
        QVERIFY(server || seteuid(nobodyUid()) == 0);
        auto install = openSettings();
        const int status = runApplication(*install);
        QVERIFY(server || seteuid(0) == 0);

        QCOMPARE(status, 0);
        QVERIFY2(title.endsWith(" (только чтение)"), qPrintable(title));
        QCOMPARE(rows, 1);
        QVERIFY2(reason.startsWith(server ? expected : expected.arg(dataDir())), qPrintable(reason));
        QCOMPARE(fileBytes(dir->dbPath()), before);
        QCOMPARE(QFile::exists(dir->dbPath()), !server); // a server's user gets no file
    }

    // Tests keep Qt's own files (the file dialogs' history) out of the real home.
    void homeIsTheTestsOwn()
    {
        const passwd* pw = getpwuid(getuid());
        QVERIFY(pw);
        for (const auto location : { QStandardPaths::HomeLocation, QStandardPaths::GenericConfigLocation })
            QVERIFY(!QStandardPaths::writableLocation(location).startsWith(QString::fromLocal8Bit(pw->pw_dir)));
    }

    // The database that the program creates is group-writable whatever the umask it was started with.
    void programCreatesGroupWritableDatabase()
    {
        QVERIFY(writeFile(dir->settingsPath(), "[Installed]\nagreement=true\n"));
        QProcess program;
        program.setProcessEnvironment(programEnvironment("offscreen"));
        program.start(programPath(), QStringList());
        QVERIFY(program.waitForStarted());
        const auto stop = qScopeGuard([&] {
            program.kill();
            program.waitForFinished();
        });
        // Size above zero: the program's own connection has written the schema.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir->dbPath()).size() > 0, 20000);
        QCOMPARE(program.state(), QProcess::Running);
        struct stat st { };
        QCOMPARE(stat(QFile::encodeName(dir->dbPath()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0664));
    }

    // Without a display Qt would abort; the program explains and ends with 1.
    void withoutDisplaySaysSoAndEndsWithOne()
    {
        QProcess program;
        QProcessEnvironment env = programEnvironment("xcb");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        program.setProcessEnvironment(env);
        program.start(programPath(), QStringList());
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QString err = QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(err.contains("zarvin-subnets: нет графического дисплея"), qPrintable(err));
    }

private:
    std::unique_ptr<TempDataDir> dir;
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
