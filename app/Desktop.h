#ifndef DESKTOP_H
#define DESKTOP_H

#include <QPoint>
#include <QSize>

// Size of the whole virtual desktop; needs the application object.
QSize desktopSize();

// Top-left corner that centres a window on the desktop, with integer halves.
QPoint centredPosition(const QSize &desktop, const QSize &window);

#endif // DESKTOP_H
