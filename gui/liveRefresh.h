#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class ChangeWatcher;
class QWidget;

// Runs a window's `refresh` after the data of its database changed, whoever changed it, once
// nothing holds the window: no modal dialog or box and no open menu anywhere in the program, and
// nothing the window itself reports through `busy` (an edit, a scan). A refresh that has to wait
// is made once, as soon as it may.
class LiveRefresh : public QObject {
    Q_OBJECT
public:
    LiveRefresh(QWidget* window, std::function<bool()> busy, std::function<void()> refresh);
    ~LiveRefresh() override;

    // How often a refresh that had to wait looks again.
    static constexpr int retryMs = 250;

private:
    void due();

    std::shared_ptr<ChangeWatcher> watcher;
    std::function<bool()> busy;
    std::function<void()> refresh;
    QTimer retry;
};
