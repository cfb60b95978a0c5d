#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

// What an install holds: paths under the prefix, and the two the program finds at fixed places.
const QMap<QString, int> installedFiles(const QString& prefix)
{
    return {
        { prefix + "/bin/zarvin-subnets", 0755 },
        { prefix + "/share/applications/zarvin-subnets.desktop", 0644 },
        { prefix + "/share/doc/zarvin-subnets/changelog.gz", 0644 },
        { prefix + "/share/doc/zarvin-subnets/copyright", 0644 },
        { prefix + "/share/icons/hicolor/256x256/apps/zarvin-subnets.png", 0644 },
        { prefix + "/share/man/man1/zarvin-subnets.1.gz", 0644 },
        { prefix + "/share/metainfo/ru.zarvin.subnets.metainfo.xml", 0644 },
        { "/usr/share/icons/hicolor/256x256/apps/zarvin-kelmora-gui", 0644 },
    };
}
const QString dataDirectory = "/usr/share/zarvin/subnets";

// "path mode" lines, so that a failed comparison names the first file that differs.
QStringList listing(const QMap<QString, int>& files)
{
    QStringList lines;
    for (auto it = files.begin(); it != files.end(); ++it)
        lines << it.key() + " " + QString::number(it.value(), 8);
    return lines;
}

QString buildDir()
{
    return QCoreApplication::applicationDirPath() + "/..";
}

// Runs a command to its end: true when it succeeded, with its standard output in `output`.
bool run(const QString& program, const QStringList& args, QString* output = nullptr,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning(
            "%s %s failed:\n%s", qPrintable(program), qPrintable(args.join(' ')), p.readAllStandardError().constData());
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    return ok;
}

QString output(const QString& program, const QStringList& args)
{
    QString out;
    run(program, args, &out);
    return out.trimmed();
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT

private slots:
    // `--prefix` moves every path but the two the program looks for; DESTDIR stages them all.
    void initTestCase()
    {
        QVERIFY(stage.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", stage.path());
        QVERIFY(run("cmake", { "--install", buildDir(), "--prefix", "/opt/zarvin" }, nullptr, env));
    }

    void stagingHoldsExactlyTheFilesWithTheirModes()
    {
        QMap<QString, int> found;
        QDirIterator it(stage.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            struct stat st { };
            QCOMPARE(lstat(QFile::encodeName(path).constData(), &st), 0);
            QVERIFY2(!(st.st_mode & S_IWOTH), qPrintable(path + " is world-writable"));
            const QString installed = path.mid(stage.path().size());
            if (S_ISDIR(st.st_mode) && installed == dataDirectory)
                QCOMPARE(st.st_mode & 07777, mode_t(02775));
            else if (!S_ISDIR(st.st_mode))
                found.insert(installed, st.st_mode & 07777);
        }
        QCOMPARE(listing(found), listing(installedFiles("/opt/zarvin")));
    }

    // The menu finds the entry's icon and command among the installed files; both files pass
    // the checks that desktops and software centres apply.
    void desktopEntryAndMetainfoAreValid()
    {
        const QString share = stage.path() + "/opt/zarvin/share/";
        QSettings entry(share + "applications/zarvin-subnets.desktop", QSettings::IniFormat);
        QVERIFY(QFile::exists(
            share + "icons/hicolor/256x256/apps/" + entry.value("Desktop Entry/Icon").toString() + ".png"));
        QVERIFY(QFile::exists(stage.path() + "/opt/zarvin/bin/" + entry.value("Desktop Entry/Exec").toString()));
        QVERIFY(run("desktop-file-validate", { share + "applications/zarvin-subnets.desktop" }));
        QVERIFY(run("appstreamcli", { "validate", "--no-net", share + "metainfo/ru.zarvin.subnets.metainfo.xml" }));
    }

    void packageHoldsFilesDependenciesAndScripts()
    {
        QVERIFY(out.isValid());
        QVERIFY(run("cpack", { "-G", "DEB", "--config", buildDir() + "/CPackConfig.cmake", "-B", out.path() }));
        const QStringList debs = QDir(out.path()).entryList({ "*.deb" });
        QCOMPARE(debs.size(), 1);
        const QString built = out.filePath(debs.first());
        auto field = [&](const char* name) { return output("dpkg-deb", { "-f", built, name }); };
        QCOMPARE(field("Package"), QString("zarvin-subnets"));
        QCOMPARE(debs.first(),
            "zarvin-subnets_" + field("Version") + "_" + output("dpkg", { "--print-architecture" }) + ".deb");
        const QString depends = field("Depends");
        for (const char* needed : { "adduser", "iputils-ping", "libqt5sql5-sqlite", "libqt5widgets5", "libc6" })
            QVERIFY2(depends.contains(QRegularExpression(QString("(^|, )") + needed + "( |,|$)")), needed);
        QCOMPARE(field("Recommends"), QString("qttranslations5-l10n"));

        QMap<QString, int> files;
        for (const QString& line : output("dpkg-deb", { "-c", built }).split('\n', Qt::SkipEmptyParts)) {
            const QStringList cols = line.split(' ', Qt::SkipEmptyParts);
            const QString mode = cols.first(), path = cols.last().mid(1).chopped(cols.last().endsWith('/') ? 1 : 0);
            QVERIFY2(mode[0] == 'l' || mode[8] != 'w', qPrintable(line));
            QVERIFY2(cols[1] == "root/root", qPrintable(line));
            if (path == dataDirectory)
                QCOMPARE(mode, QString("drwxrwsr-x"));
            if (mode[0] == '-')
                files.insert(path, mode == "-rwxr-xr-x" ? 0755 : mode == "-rw-r--r--" ? 0644 : -1);
        }
        QCOMPARE(listing(files), listing(installedFiles("/usr")));

        QVERIFY(run("dpkg-deb", { "-e", built, out.filePath("control") }));
        for (const char* script : { "postinst", "postrm" })
            QVERIFY2(QFileInfo(out.filePath("control/") + script).isExecutable(), script);
        deb = built;
    }

    // The one warning accepted: the data directory ships setgid, as the group shares it.
    void lintianFindsNoErrorAndOnlyTheAcceptedWarning()
    {
        QVERIFY2(!deb.isEmpty(), "no package was built");
        QProcess lintian;
        lintian.start("lintian", { deb });
        QVERIFY(lintian.waitForFinished(300000));
        QStringList findings;
        for (const QString& line : QString::fromUtf8(lintian.readAllStandardOutput()).split('\n'))
            if ((line.startsWith("E:") || line.startsWith("W:")) && !line.contains(" non-standard-dir-perm 2775 "))
                findings << line;
        QVERIFY2(findings.isEmpty(), qPrintable(findings.join('\n')));
        QVERIFY2(lintian.exitCode() == 0, lintian.readAllStandardError().constData());
    }

private:
    QTemporaryDir stage;
    QTemporaryDir out;
    QString deb;
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
