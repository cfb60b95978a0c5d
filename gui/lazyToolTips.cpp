#include "gui/lazyToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

lazyToolTips::lazyToolTips(QAbstractItemView* view_, std::function<QString(const QModelIndex&)> text_)
    : QObject(view_)
    , view(view_)
    , text(std::move(text_))
{
    view->viewport()->installEventFilter(this);
}

bool lazyToolTips::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || watched != view->viewport())
        return false;
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = view->indexAt(help->pos());
    const QString tip = index.isValid() ? text(index) : QString();
    if (tip.isEmpty())
        return false;
    QToolTip::showText(help->globalPos(), tip, view->viewport(), view->visualRect(index));
    return true;
}
