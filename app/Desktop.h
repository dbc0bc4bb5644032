#ifndef DESKTOP_H
#define DESKTOP_H

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWindow>

// What the window system itself says about the desktop: on X11 the X server,
// asked through XCB; elsewhere Qt's public screens. Needs the application object.

// The desktop in device pixels: the X server's root window on X11, the
// monitors' bounding box from the origin elsewhere.
QSize desktopSize();

namespace X11Desktop {

// True when the program runs on an X server (Qt's xcb platform).
bool available();
// True when that X server is XWayland, which a Wayland compositor runs and
// whose outputs are the compositor's.
bool isXWayland();
// The root window, in X pixels.
QRect root();
// The monitors (Xinerama), in X pixels; empty where the server has no such list.
QList<QRect> monitors();
// Where a shown window really is, in X pixels of the root window; empty while
// it is not created or mapped.
QRect windowGeometry(WId window);
// True when a window manager runs that can stretch a full-screen window over
// several monitors (_NET_WM_FULLSCREEN_MONITORS).
bool managerSpansMonitors();
// Asks the window manager to stretch a full-screen window over every
// monitor; false where the window manager cannot.
bool spanMonitors(WId window);

// An X server is XWayland when it says so (its XWAYLAND extension) or names
// its outputs as XWayland does ("XWAYLAND0", ...).
bool looksLikeXWayland(bool xwaylandExtension, const QStringList &outputNames);

} // namespace X11Desktop

#endif // DESKTOP_H
