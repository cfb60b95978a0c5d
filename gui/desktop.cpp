#include "gui/desktop.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QWidget>

int floorDiv(int value, int divisor)
{
    const int q = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? q - 1 : q;
}

QPoint centredPosition(QSize desktop, QSize window, int raise)
{
    return QPoint(
        floorDiv(desktop.width() - window.width(), 2), floorDiv(desktop.height() - window.height(), 2) - raise);
}

QSize desktopSize()
{
    const QWidget* desktop = QApplication::desktop();
    return QSize(desktop->width(), desktop->height());
}

void centre(QWidget* window, int raise)
{
    window->move(centredPosition(desktopSize(), window->size(), raise));
}
