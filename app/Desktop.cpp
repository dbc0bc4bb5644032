#include "app/Desktop.h"

#include <QGuiApplication>
#include <QScreen>
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QtGui/qguiapplication_platform.h>
#endif

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The X server the program's windows live on, or null off X11.
xcb_connection_t *connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
#else
    // Qt 5 offers its own connection only through platform headers; a second
    // connection to the same display sees the same windows.
    static xcb_connection_t *own = nullptr;
    if (!own) {
        own = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(own)) {
            xcb_disconnect(own);
            own = nullptr;
        }
    }
    return own;
#endif
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    return screens.rem > 0 ? screens.data->root : 0;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, std::strlen(name), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// The 32-bit values of a window property, empty when it is missing.
std::vector<uint32_t> property(xcb_connection_t *c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
{
    std::vector<uint32_t> values;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 1024),
                                                             nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const uint32_t *>(xcb_get_property_value(reply));
        values.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

bool spansMonitors(xcb_connection_t *c, xcb_window_t root)
{
    // A window manager that has gone leaves its list behind; a running one's
    // check window names itself.
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    const std::vector<uint32_t> manager = property(c, root, check, XCB_ATOM_WINDOW);
    if (manager.empty() || property(c, manager[0], check, XCB_ATOM_WINDOW) != manager)
        return false;
    const std::vector<uint32_t> supported = property(c, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    const xcb_atom_t wanted = atom(c, "_NET_WM_FULLSCREEN_MONITORS");
    return std::find(supported.begin(), supported.end(), wanted) != supported.end();
}

QStringList outputNames(xcb_connection_t *c, xcb_window_t root)
{
    QStringList names;
    const xcb_query_extension_reply_t *randr = xcb_get_extension_data(c, &xcb_randr_id);
    if (!randr || !randr->present)
        return names;
    xcb_randr_get_screen_resources_current_reply_t *resources = xcb_randr_get_screen_resources_current_reply(
        c, xcb_randr_get_screen_resources_current(c, root), nullptr);
    if (!resources)
        return names;
    const xcb_randr_output_t *outputs = xcb_randr_get_screen_resources_current_outputs(resources);
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources);
    for (int i = 0; i < count; ++i) {
        xcb_randr_get_output_info_reply_t *info = xcb_randr_get_output_info_reply(
            c, xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp), nullptr);
        if (info) {
            names << QString::fromUtf8(reinterpret_cast<const char *>(xcb_randr_get_output_info_name(info)),
                                       xcb_randr_get_output_info_name_length(info));
        }
        std::free(info);
    }
    std::free(resources);
    return names;
}

} // namespace

QSize desktopSize()
{
    if (X11Desktop::available())
        return X11Desktop::root().size();
    QRect desktop;
    const auto screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        desktop |= QRect(screen->geometry().topLeft(), screen->size() * screen->devicePixelRatio());
    return QSize(desktop.right() + 1, desktop.bottom() + 1).expandedTo(QSize(0, 0));
}

namespace X11Desktop {

bool available()
{
    return connection() != nullptr;
}

bool isXWayland()
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    static const char name[] = "XWAYLAND";
    xcb_query_extension_reply_t *extension =
        xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr);
    const bool present = extension && extension->present;
    std::free(extension);
    return looksLikeXWayland(present, present ? QStringList() : outputNames(c, rootWindow(c)));
}

QRect root()
{
    xcb_connection_t *c = connection();
    if (!c)
        return QRect();
    xcb_get_geometry_reply_t *reply = xcb_get_geometry_reply(c, xcb_get_geometry(c, rootWindow(c)), nullptr);
    const QRect rect = reply ? QRect(0, 0, reply->width, reply->height) : QRect();
    std::free(reply);
    return rect;
}

QList<QRect> monitors()
{
    QList<QRect> found;
    xcb_connection_t *c = connection();
    if (!c)
        return found;
    const xcb_query_extension_reply_t *xinerama = xcb_get_extension_data(c, &xcb_xinerama_id);
    if (!xinerama || !xinerama->present)
        return found;
    xcb_xinerama_query_screens_reply_t *heads =
        xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr);
    if (!heads)
        return found;
    for (xcb_xinerama_screen_info_iterator_t head = xcb_xinerama_query_screens_screen_info_iterator(heads);
         head.rem > 0; xcb_xinerama_screen_info_next(&head))
        found << QRect(head.data->x_org, head.data->y_org, head.data->width, head.data->height);
    std::free(heads);
    return found;
}

QRect windowGeometry(WId window)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return QRect();
    const auto id = static_cast<xcb_window_t>(window);
    xcb_get_geometry_reply_t *size = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    xcb_translate_coordinates_reply_t *place =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, rootWindow(c), 0, 0), nullptr);
    const QRect rect = size && place ? QRect(place->dst_x, place->dst_y, size->width, size->height) : QRect();
    std::free(size);
    std::free(place);
    return rect;
}

bool managerSpansMonitors()
{
    xcb_connection_t *c = connection();
    return c && spansMonitors(c, rootWindow(c));
}

bool spanMonitors(WId window)
{
    xcb_connection_t *c = connection();
    if (!c)
        return false;
    const xcb_window_t root = rootWindow(c);
    const QList<QRect> heads = monitors();
    if (heads.size() < 2 || !spansMonitors(c, root))
        return false;
    // The Xinerama numbers of the monitors at the top, bottom, left and right
    // edges, in the order the window manager takes them.
    uint32_t edges[4] = {};
    for (int i = 1; i < heads.size(); ++i) {
        const QRect &head = heads.at(i);
        if (head.top() < heads.at(edges[0]).top())
            edges[0] = i;
        if (head.bottom() > heads.at(edges[1]).bottom())
            edges[1] = i;
        if (head.left() < heads.at(edges[2]).left())
            edges[2] = i;
        if (head.right() > heads.at(edges[3]).right())
            edges[3] = i;
    }
    xcb_client_message_event_t message;
    std::memset(&message, 0, sizeof message);
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window);
    message.type = atom(c, "_NET_WM_FULLSCREEN_MONITORS");
    std::copy(edges, edges + 4, message.data.data32);
    message.data.data32[4] = 1;   // asked by a normal application
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(c);
    return true;
}

bool looksLikeXWayland(bool xwaylandExtension, const QStringList &outputNames)
{
    if (xwaylandExtension)
        return true;
    return !outputNames.isEmpty() && std::all_of(outputNames.begin(), outputNames.end(), [](const QString &name) {
        return name.startsWith(QLatin1String("XWAYLAND"));
    });
}

} // namespace X11Desktop
