#pragma once

#include <QObject>

#include <functional>

class QAbstractItemView;
class QModelIndex;

// Tooltips read when asked for, not before: `text` of the index under the mouse, or the view's
// own tooltip when it gives none. Lives as long as the view.
class lazyToolTips : public QObject {
public:
    lazyToolTips(QAbstractItemView* view, std::function<QString(const QModelIndex&)> text);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* view;
    std::function<QString(const QModelIndex&)> text;
};
