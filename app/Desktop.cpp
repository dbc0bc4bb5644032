#include "app/Desktop.h"

#include <QGuiApplication>
#include <QtMath>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>
#include <qpa/qplatformscreen.h>
#include <qpa/qplatformwindow.h>

#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The X11 connection and root window, where the program runs on X11.
struct X11
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
};

X11 x11()
{
    X11 x;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !native || !screen)
        return x;
    x.connection = static_cast<xcb_connection_t *>(native->nativeResourceForIntegration("connection"));
    x.root = static_cast<xcb_window_t>(reinterpret_cast<quintptr>(native->nativeResourceForScreen("rootwindow", screen)));
    if (!x.root)
        x.connection = nullptr;
    return x;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, std::strlen(name), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// The 32-bit values of a window property, empty when it is missing.
std::vector<uint32_t> property(xcb_connection_t *connection, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    std::vector<uint32_t> values;
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, name, type, 0, 1024);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

bool managerSpansMonitors(const X11 &x)
{
    // A window manager that has gone leaves its list behind; a running one's
    // check window names itself.
    const xcb_atom_t check = atom(x.connection, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<uint32_t> manager = property(x.connection, x.root, check, XCB_ATOM_WINDOW);
    if (manager.empty() || property(x.connection, manager[0], check, XCB_ATOM_WINDOW) != manager)
        return false;
    const std::vector<uint32_t> supported =
        property(x.connection, x.root, atom(x.connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    const xcb_atom_t wanted = atom(x.connection, "_NET_WM_FULLSCREEN_MONITORS");
    return std::find(supported.begin(), supported.end(), wanted) != supported.end();
}

// The Xinerama numbers of the monitors at the desktop's top, bottom, left and
// right edges, in the order the window manager takes them.
bool edgeMonitors(const X11 &x, uint32_t edges[4])
{
    const xcb_query_extension_reply_t *xinerama = xcb_get_extension_data(x.connection, &xcb_xinerama_id);
    if (!xinerama || !xinerama->present)
        return false;
    xcb_xinerama_query_screens_reply_t *heads =
        xcb_xinerama_query_screens_reply(x.connection, xcb_xinerama_query_screens(x.connection), nullptr);
    if (!heads)
        return false;
    int minY = 0, maxY = 0, minX = 0, maxX = 0;
    uint32_t count = 0;
    for (xcb_xinerama_screen_info_iterator_t head = xcb_xinerama_query_screens_screen_info_iterator(heads);
         head.rem > 0; xcb_xinerama_screen_info_next(&head), ++count) {
        const xcb_xinerama_screen_info_t &info = *head.data;
        const bool first = count == 0;
        if (first || info.y_org < minY)
            minY = info.y_org, edges[0] = count;
        if (first || info.y_org + info.height > maxY)
            maxY = info.y_org + info.height, edges[1] = count;
        if (first || info.x_org < minX)
            minX = info.x_org, edges[2] = count;
        if (first || info.x_org + info.width > maxX)
            maxX = info.x_org + info.width, edges[3] = count;
    }
    std::free(heads);
    return count > 1;
}

// Asks the window manager to stretch a full-screen window over those monitors.
void spanMonitors(const X11 &x, xcb_window_t window, const uint32_t edges[4])
{
    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(x.connection, "_NET_WM_FULLSCREEN_MONITORS");
    std::copy(edges, edges + 4, message.data.data32);
    message.data.data32[4] = 1;   // asked by a normal application
    xcb_send_event(x.connection, 0, x.root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(x.connection);
}

QSize coveringSize(const QSize &device, qreal ratio)
{
    return QSize(int(std::ceil(device.width() / ratio)), int(std::ceil(device.height() / ratio)));
}

// Qt's logical coordinates keep each monitor's device origin but scale its
// size, so where a window that spans monitors lands depends on which monitor
// Qt counts it on, and with a fractional factor not every device pixel can be
// its corner. Ask the window system where the shown window went and move it
// until it covers the desktop; its users count from where it really is.
void showOver(QWidget *window, const QRect &desktop)
{
    window->setWindowState(window->windowState() & ~Qt::WindowFullScreen);
    QRect logical(desktop.topLeft(), coveringSize(desktop.size(), window->devicePixelRatioF()));
    window->setGeometry(logical);
    window->show();
    for (int attempt = 0; attempt < 3; ++attempt) {
        const QRect placed = deviceGeometry(window);
        if (placed.isEmpty() || placed.contains(desktop))
            break;
        // Rather a pixel beyond the desktop's edge than one short of it.
        const qreal ratio = window->devicePixelRatioF();
        logical.translate(qFloor((desktop.x() - placed.x()) / ratio), qFloor((desktop.y() - placed.y()) / ratio));
        logical.setSize(coveringSize(desktop.size(), ratio) + QSize(1, 1));
        window->setGeometry(logical);
    }
}

} // namespace

QRect desktopGeometry()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return QRect();
    // Qt's logical screen rectangles do not add up to the desktop once they
    // are scaled; the platform's own ones do.
    QRect desktop;
    const auto screens = primary->virtualSiblings();
    for (const QScreen *screen : screens) {
        if (screen && screen->handle())
            desktop |= screen->handle()->geometry();
    }
    return desktop;
}

QSize desktopSize()
{
    return desktopGeometry().size();
}

QPoint centredPosition(const QSize &desktop, const QSize &window)
{
    return QPoint((desktop.width() - window.width()) / 2,
                  (desktop.height() - window.height()) / 2);
}

QPoint desktopPosition(const QWidget *window, const QRect &desktop)
{
    const QRect placed = deviceGeometry(window);
    return placed.isEmpty() ? QPoint() : placed.topLeft() - desktop.topLeft();
}

QRect deviceGeometry(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    return handle && handle->handle() ? handle->handle()->geometry() : QRect();
}

void showOverDesktop(QWidget *window, const QRect &desktop)
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary || primary->virtualSiblings().size() < 2) {
        window->showFullScreen();
        return;
    }
    const X11 x = x11();
    uint32_t edges[4] = {};
    if (x.connection && managerSpansMonitors(x) && edgeMonitors(x, edges)) {
        window->showFullScreen();
        spanMonitors(x, static_cast<xcb_window_t>(window->winId()), edges);
        return;
    }
    showOver(window, desktop);
}
