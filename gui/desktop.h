#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

// Division rounded toward negative infinity: -3 / 2 gives -2.
int floorDiv(int value, int divisor);
// Top-left corner that centres a window of `window` size on a desktop of `desktop` size,
// raised by `raise` pixels.
QPoint centredPosition(QSize desktop, QSize window, int raise = 0);
// The whole desktop, all screens together.
QSize desktopSize();
// Moves a not yet shown window to the centre of the desktop, raised by `raise` pixels.
void centre(QWidget* window, int raise = 0);
