#ifndef FAKEDESKTOP_H
#define FAKEDESKTOP_H

#include <QList>
#include <QRect>

class QWindow;

namespace TestSupport {

// Replaces the desktop the test process sees by monitors of these device-pixel
// rectangles, the first one primary, as if they had been plugged in and the
// old ones unplugged. Qt's scale factor (QT_SCALE_FACTOR) applies to them as
// to real ones. Nothing changes when the desktop already has these monitors.
void useDesktop(const QList<QRect> &monitors);

// Gives one monitor of the desktop a new rectangle, as a resolution change does.
void changeMonitor(int index, const QRect &geometry);
// The same without telling Qt, as an X server whose root window or monitors
// change in a way Qt's screens do not follow; only the calibration's own look
// at the window system sees it.
void changeMonitorUnseen(int index, const QRect &geometry);
// Moves a window by this many device pixels without telling Qt, as a window
// manager that moves a window and sends it nothing.
void moveWindowUnseen(QWindow *window, const QPoint &by);

} // namespace TestSupport

#endif // FAKEDESKTOP_H
