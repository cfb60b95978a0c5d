#include "tests/support/pgServer.h"

#include <QAtomicInt>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pgServer {

namespace {

const QString bin = QStringLiteral("/usr/lib/postgresql/15/bin/");

// initdb and the server refuse to run as root: then they run as the package's own user.
QStringList asServerUser(const QStringList& command)
{
    return geteuid() == 0 ? QStringList { QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"),
        QStringLiteral("--") }
            + command
                          : command;
}

bool run(const QStringList& command)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(command.first(), command.mid(1));
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning("pgServer: %s: %s", qPrintable(command.join(QLatin1Char(' '))), p.readAll().constData());
    return ok;
}

class Server {
public:
    Server()
        : dir(QStringLiteral("/tmp/zarvin-pg-XXXXXX"))
    {
        const passwd* pw = getpwnam("postgres");
        if (geteuid() == 0 && (!pw || chown(QFile::encodeName(dir.path()).constData(), pw->pw_uid, pw->pw_gid) != 0))
            return;
        ready = dir.isValid()
            && run(asServerUser({ bin + QStringLiteral("initdb"), QStringLiteral("-D"), data(), QStringLiteral("-A"),
                QStringLiteral("trust"), QStringLiteral("-U"), QStringLiteral("postgres"), QStringLiteral("-E"),
                QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync") }))
            && startServer();
    }
    ~Server()
    {
        if (running)
            run(control(QStringLiteral("stop"), { QStringLiteral("-m"), QStringLiteral("immediate") }));
    }

    bool startServer()
    {
        // Durability is of no use to a test's throw-away data.
        running = run(control(QStringLiteral("start"),
            { QStringLiteral("-l"), dir.filePath(QStringLiteral("log")), QStringLiteral("-o"),
                QStringLiteral("-c listen_addresses='' -k %1 -c fsync=off -c synchronous_commit=off "
                               "-c full_page_writes=off")
                    .arg(dir.path()) }));
        if (running && watchdog < 0)
            watchdog = startWatchdog();
        return running;
    }
    // Cuts every connection off at once, but shuts down cleanly: commits made without waiting for
    // the disk stay.
    bool stopServer()
    {
        running = !run(control(QStringLiteral("stop"), { QStringLiteral("-m"), QStringLiteral("fast") }));
        return !running;
    }

    QTemporaryDir dir;
    bool ready = false;
    bool running = false;

private:
    // A process of its own (in a session of its own, out of reach of signals to the tests' group)
    // that stops the server and removes its directory once this process has gone, however it
    // ended: a test killed at its time-out leaves nothing running either. It waits for the end
    // of a pipe whose other end only this process holds.
    int startWatchdog() const
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0)
            return -1;
        const QByteArray script = "cat >/dev/null; "
            + control(QStringLiteral("stop"), { QStringLiteral("-m"), QStringLiteral("immediate") })
                  .join(QLatin1Char(' '))
                  .toLocal8Bit()
            + " >/dev/null 2>&1; rm -rf " + QFile::encodeName(dir.path());
        const char* argv[] = { "/bin/sh", "-c", script.constData(), nullptr };
        // Forked twice, so that it is no child of this process (tests count their children).
        const pid_t pid = fork();
        if (pid == 0) {
            if (fork() == 0) {
                setsid();
                dup2(ends[0], 0);
                execv(argv[0], const_cast<char* const*>(argv));
            }
            _exit(0);
        }
        close(ends[0]);
        if (pid > 0)
            waitpid(pid, nullptr, 0);
        return pid > 0 ? ends[1] : -1;
    }

    int watchdog = -1; // the write end of its pipe
    QString data() const { return dir.filePath(QStringLiteral("data")); }
    QStringList control(const QString& action, const QStringList& options) const
    {
        return asServerUser(QStringList { bin + QStringLiteral("pg_ctl"), QStringLiteral("-D"), data(),
                                QStringLiteral("-w"), QStringLiteral("-s") }
            + options + QStringList { action });
    }
};

// Built at the first use, gone (and the server stopped) when the process ends.
Server& server()
{
    static Server instance;
    return instance;
}

} // namespace

bool wanted()
{
    return qEnvironmentVariable("ZARVIN_TEST_ENGINE") == QLatin1String("postgresql");
}

QString uri(const QString& database, const QString& user)
{
    return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user, database, server().dir.path());
}

bool exec(const QString& database, const QString& sql)
{
    return server().ready
        && run({ QStringLiteral("psql"), QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
            QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), server().dir.path(), QStringLiteral("-U"),
            QStringLiteral("postgres"), QStringLiteral("-d"), database, QStringLiteral("-c"), sql });
}

QString newDatabase()
{
    static QAtomicInt counter;
    const QString name = QStringLiteral("test%1").arg(counter.fetchAndAddRelaxed(1));
    if (!exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE %1 TEMPLATE template0").arg(name)))
        return {};
    return uri(name);
}

bool stop()
{
    return server().stopServer();
}

bool start()
{
    return server().startServer();
}

} // namespace pgServer
