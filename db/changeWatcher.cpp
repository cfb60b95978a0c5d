#include "db/changeWatcher.h"

#include "db/dataDir.h"
#include "db/engine.h"

#include <QHash>
#include <QSqlError>

namespace {

// Keyed by where the data is: a window opened after the settings changed follows its own.
QHash<QString, std::weak_ptr<ChangeWatcher>>& watchers()
{
    static QHash<QString, std::weak_ptr<ChangeWatcher>> all;
    return all;
}

int watcherCounter = 0;

} // namespace

std::shared_ptr<ChangeWatcher> ChangeWatcher::ofConfiguredDatabase()
{
    const QString url = Engine::configuredUrl();
    const QString key = url.isEmpty() ? databaseFilePath() : url;
    if (std::shared_ptr<ChangeWatcher> there = watchers().value(key).lock())
        return there;
    std::shared_ptr<ChangeWatcher> made(new ChangeWatcher(Engine::chosen(QString())));
    for (auto it = watchers().begin(); it != watchers().end();)
        it = it->expired() ? watchers().erase(it) : std::next(it);
    watchers().insert(key, made);
    return made;
}

ChangeWatcher::ChangeWatcher(std::unique_ptr<Engine> engine_)
    : engine(std::move(engine_))
    , connectionName(QStringLiteral("zarvin-watcher-%1").arg(++watcherCounter))
{
    settle.setSingleShot(true);
    settle.setInterval(settleMs);
    connect(&settle, &QTimer::timeout, this, &ChangeWatcher::changed);
    // A server is asked nothing while it listens: the ticker only opens a lost connection again.
    ticker.setInterval(engine->notifies() ? reconnectMs : filePollMs);
    connect(&ticker, &QTimer::timeout, this, &ChangeWatcher::check);
    conn = QSqlDatabase::addDatabase(engine->driverName(), connectionName);
    ticker.start();
    (void)openConnection();
}

ChangeWatcher::~ChangeWatcher()
{
    closeConnection();
    conn = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

// Never waits for a lock: a look that finds the file busy is simply made again at the next tick.
bool ChangeWatcher::openConnection()
{
    if (!engine->open(conn, 0).ok()) {
        conn.close();
        return false;
    }
    if (engine->notifies()) {
        listener = new QObject(this);
        const auto changedNow = [this] { noteChange(); };
        const auto lostNow = [this] { lose(); };
        if (!engine->listen(conn, listener, changedNow, lostNow).ok()) {
            closeConnection();
            return false;
        }
        ticker.stop();
    } else {
        versionQuery = QSqlQuery(conn);
        versionQuery.setForwardOnly(true);
        versionQuery.prepare(engine->text(EngineSql::DataVersion));
        version = readVersion().value;
    }
    watching = true;
    return true;
}

void ChangeWatcher::closeConnection()
{
    watching = false;
    // It may be what called: it goes once its call has returned.
    if (listener)
        listener->deleteLater();
    listener = nullptr;
    versionQuery = QSqlQuery();
    conn.close();
}

void ChangeWatcher::lose()
{
    closeConnection();
    ticker.start();
}

void ChangeWatcher::check()
{
    if (!watching) {
        // What changed while the connection was gone is not known: the windows look again.
        if (openConnection())
            noteChange();
        return;
    }
    if (engine->notifies())
        return;
    const Result<qint64> now = readVersion();
    if (now.ok() && now.value != version) {
        version = now.value;
        noteChange();
    }
}

Result<qint64> ChangeWatcher::readVersion()
{
    const bool read = versionQuery.exec() && versionQuery.next();
    const Result<qint64> now = read ? Result<qint64>(versionQuery.value(0).toLongLong())
                                    : Result<qint64>(engine->failure(versionQuery.lastError()));
    versionQuery.finish();
    return now;
}

void ChangeWatcher::noteChange()
{
    if (!settle.isActive())
        settle.start();
}
