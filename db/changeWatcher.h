#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QTimer>

#include <memory>

class Engine;
template <class T> struct Result;

// Tells the windows of this process that the data of the configured database changed, whoever
// changed it (another program, another user, another window of this one). A server says so
// itself (Engine::listen); the file is asked for its data version a few times
// a second. Either way on a connection of the watcher's own, so no window's statement waits for
// it, and a lost server connection is opened again every few seconds.
class ChangeWatcher : public QObject {
    Q_OBJECT
public:
    // The watcher of the configured database, shared by every window that follows it: made at
    // the first request, gone with its last holder.
    static std::shared_ptr<ChangeWatcher> ofConfiguredDatabase();
    ~ChangeWatcher() override;

    ChangeWatcher(const ChangeWatcher&) = delete;
    ChangeWatcher& operator=(const ChangeWatcher&) = delete;

    // Whether its connection is open (and on a server, listening) now.
    bool isWatching() const { return watching; }

    // How often the file's data version is read, and a lost server connection opened again.
    static constexpr int filePollMs = 400;
    static constexpr int reconnectMs = 2000;
    // Changes that come close together are told once.
    static constexpr int settleMs = 150;

signals:
    // Data changed since the last signal (or the connection came back, and it may have).
    void changed();

private:
    explicit ChangeWatcher(std::unique_ptr<Engine> engine);
    bool openConnection();
    void closeConnection();
    void lose();
    // Opens a lost connection again, or on the file, reads its data version; a change is told.
    void check();
    Result<qint64> readVersion();
    void noteChange();

    std::unique_ptr<Engine> engine;
    QString connectionName;
    QSqlDatabase conn;
    QSqlQuery versionQuery;
    QObject* listener = nullptr; // a server's, while it listens
    QTimer ticker, settle;
    qint64 version = -1;
    bool watching = false;
};
