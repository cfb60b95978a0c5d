#include "tests/support/dataSupport.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

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
        for (const char* needed :
            { "adduser", "iputils-ping", "libqt5sql5-sqlite", "libqt5sql5-psql", "libqt5widgets5", "libc6" })
            QVERIFY2(depends.contains(QRegularExpression(QString("(^|, )") + needed + "( |,|$)")), needed);
        QCOMPARE(field("Recommends"), QString("qttranslations5-l10n, fping"));

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

    // The one warning accepted: the data directory ships setgid, as the group shares it. An
    // optimised build is hardened as Debian's own packages are: no hardening tag, not even as
    // information.
    void lintianFindsNoErrorAndOnlyTheAcceptedWarning()
    {
        QVERIFY2(!deb.isEmpty(), "no package was built");
        QProcess lintian;
        lintian.start("lintian", { "--display-info", deb });
        QVERIFY(lintian.waitForFinished(300000));
        QStringList findings;
        for (const QString& line : QString::fromUtf8(lintian.readAllStandardOutput()).split('\n'))
            if ((line.startsWith("E:") || line.startsWith("W:") || (ZARVIN_HARDENED && line.contains(": hardening-")))
                && !line.contains(" non-standard-dir-perm 2775 "))
                findings << line;
        QVERIFY2(findings.isEmpty(), qPrintable(findings.join('\n')));
        QVERIFY2(lintian.exitCode() == 0, lintian.readAllStandardError().constData());
    }

    // The package's postinst on the staged data directory, while a member of the group swaps the
    // database between a plain file and a link to a private file elsewhere: that file keeps its
    // mode, and the directory stays root's (or the administrator's choice), never the installer's.
    void postinstFollowsNoLinkAndKeepsTheDirectory()
    {
        QVERIFY2(!deb.isEmpty(), "no package was built");
        QTemporaryDir tools;
        const QString log = tools.filePath("log"), override = tools.filePath("override");
        // Stand-ins for what would change this machine, or needs the group zarvin to exist.
        for (const char* tool : { "getent", "addgroup", "adduser", "chgrp", "dpkg-statoverride" })
            QVERIFY(writeScript(tools.filePath(tool),
                "#!/bin/sh\necho \"${0##*/} $*\" >> \"$LOG\"\n"
                "[ \"$1\" != --list ] || { [ -f \"$OVERRIDE\" ] && cat \"$OVERRIDE\"; }\n"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", tools.path() + ":" + env.value("PATH"));
        env.insert("DPKG_ROOT", stage.path());
        env.insert("SUDO_USER", "nobody");
        env.insert("LOG", log);
        env.insert("OVERRIDE", override);
        const QString dir = stage.path() + dataDirectory;
        const QByteArray db = QFile::encodeName(dir + "/subnets.db"), victim = QFile::encodeName(tools.filePath("v"));
        QVERIFY(writeFile(tools.filePath("v"), "private") && chmod(victim.constData(), 0600) == 0);
        struct stat before { };
        QCOMPARE(stat(QFile::encodeName(dir).constData(), &before), 0);

        std::atomic<bool> stop { false };
        std::thread swapper([&] {
            const QByteArray link = db + ".l", plain = db + ".f";
            while (!stop) {
                if (symlink(victim.constData(), link.constData()) == 0)
                    rename(link.constData(), db.constData());
                close(open(plain.constData(), O_CREAT | O_WRONLY, 0644));
                rename(plain.constData(), db.constData());
            }
        });
        bool ran = true;
        for (int i = 0; i < 30 && ran; ++i)
            ran = run("sh", { out.filePath("control/postinst"), "configure" }, nullptr, env);
        stop = true;
        swapper.join();
        QVERIFY(ran);
        struct stat st { };
        QCOMPARE(stat(victim.constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0600));
        QCOMPARE(stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(st.st_uid, before.st_uid);
        QVERIFY(fileBytes(log).contains("adduser --quiet nobody zarvin"));

        // A reinstall applies the administrator's choice, whoever owned the directory.
        const QString owner = QString::fromLocal8Bit(getpwuid(getuid())->pw_name);
        QVERIFY(writeFile(override, (owner + " " + getgrgid(getgid())->gr_name + " 2770 " + dataDirectory).toUtf8()));
        QVERIFY(run("sh", { out.filePath("control/postinst"), "configure" }, nullptr, env));
        QCOMPARE(stat(QFile::encodeName(dir).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(02770));
    }

private:
    QTemporaryDir stage;
    QTemporaryDir out;
    QString deb;
};

QTEST_GUILESS_MAIN(TestInstall)
#include "test_install.moc"
