#ifndef DESKTOP_H
#define DESKTOP_H

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// The whole virtual desktop in device pixels, as the window system sees it:
// every monitor, whatever scale factor Qt applies. Needs the application object.
QRect desktopGeometry();
QSize desktopSize();

// Top-left corner that centres a window on the desktop, with integer halves.
QPoint centredPosition(const QSize &desktop, const QSize &window);

// The window system's own geometry of a top-level window, in device pixels;
// empty until the window has been created.
QRect deviceGeometry(const QWidget *window);

// Where the top-left pixel of a top-level window lies on the desktop, in
// device pixels: (0, 0) for a window that covers the desktop exactly.
QPoint desktopPosition(const QWidget *window, const QRect &desktop);

// Shows a top-level window over the given desktop: full screen where there is
// one monitor; over several, full screen across all of them where the window
// manager can do that, else placed over the desktop by its own geometry,
// reaching past it by a pixel where Qt's scale factor does not allow better.
void showOverDesktop(QWidget *window, const QRect &desktop);

#endif // DESKTOP_H
