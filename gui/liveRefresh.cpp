#include "gui/liveRefresh.h"

#include "db/changeWatcher.h"

#include <QApplication>
#include <QWidget>

LiveRefresh::LiveRefresh(QWidget* window, std::function<bool()> busy_, std::function<void()> refresh_)
    : QObject(window)
    , watcher(ChangeWatcher::ofConfiguredDatabase())
    , busy(std::move(busy_))
    , refresh(std::move(refresh_))
{
    retry.setSingleShot(true);
    retry.setInterval(retryMs);
    connect(&retry, &QTimer::timeout, this, &LiveRefresh::due);
    connect(watcher.get(), &ChangeWatcher::changed, this, &LiveRefresh::due);
}

LiveRefresh::~LiveRefresh() = default;

// Under a dialog the user is answering, the rows it was opened for must stay where they are.
void LiveRefresh::due()
{
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget() || (busy && busy())) {
        retry.start();
        return;
    }
    retry.stop();
    refresh();
}
