#include "calibration/CalibrationFrame.h"

#include "app/Desktop.h"
#include "app/WaylandDesktop.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <QtMath>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

QList<QRect> qtMonitors()
{
    QList<QRect> found;
    const auto screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        found << QRect(screen->geometry().topLeft(), screen->size() * screen->devicePixelRatio());
    return found;
}


bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// Where Qt has put a window, in device pixels: Qt scales a window's place
// from the origin of the screen it counts the window on.
QRect qtWindowGeometry(const QWindow *handle)
{
    if (!handle || !handle->screen())
        return QRect();
    const qreal ratio = handle->devicePixelRatio();
    const QPoint origin = handle->screen()->geometry().topLeft();
    const QPointF place = QPointF(origin) + QPointF(handle->geometry().topLeft() - origin) * ratio;
    return QRect(place.toPoint(), handle->geometry().size() * ratio);
}

CalibrationFrame::MonitorSource monitorSource = qtMonitors;
CalibrationFrame::WindowSource windowSource = qtWindowGeometry;

QRect estimatedGeometry(const QWidget *window)
{
    return window->windowHandle() ? windowSource(window->windowHandle()) : QRect();
}

QSize coveringSize(const QSize &device, qreal ratio)
{
    return QSize(int(std::ceil(device.width() / ratio)), int(std::ceil(device.height() / ratio)));
}

QRect boundingFromOrigin(const QList<QRect> &monitors)
{
    QRect all;
    for (const QRect &monitor : monitors)
        all |= monitor;
    return QRect(0, 0, qMax(0, all.right() + 1), qMax(0, all.bottom() + 1));
}

QList<QRect> relativeTo(const QList<QRect> &monitors, const QPoint &origin)
{
    QList<QRect> moved;
    for (const QRect &monitor : monitors)
        moved << monitor.translated(-origin);
    return moved;
}

// Monitors compared as a set: a new primary monitor reorders the list
// without moving anything.
bool sameMonitors(QList<QRect> a, QList<QRect> b)
{
    const auto before = [](const QRect &x, const QRect &y) {
        return std::make_tuple(x.x(), x.y(), x.width(), x.height()) <
               std::make_tuple(y.x(), y.y(), y.width(), y.height());
    };
    std::sort(a.begin(), a.end(), before);
    std::sort(b.begin(), b.end(), before);
    return a == b;
}

// An output's current mode as the compositor announced it, found by name,
// else by place; Qt's idea where the compositor said nothing.
QSize announcedMode(const QScreen *screen, const QList<WaylandOutput> &outputs)
{
    for (const WaylandOutput &output : outputs) {
        if (!output.name.isEmpty() && output.name == screen->name())
            return output.mode;
    }
    for (const WaylandOutput &output : outputs) {
        if (output.position == screen->geometry().topLeft())
            return output.mode;
    }
    if (outputs.size() == 1 && QGuiApplication::screens().size() == 1)
        return outputs.first().mode;
    return screen->size() * screen->devicePixelRatio();
}

QList<QRect> screenPlaces()
{
    QList<QRect> places;
    const auto screens = QGuiApplication::screens();
    for (const QScreen *screen : screens)
        places << screen->geometry();
    return places;
}

} // namespace

CalibrationFrame::CalibrationFrame(const QSize &size)
    : system(sessionWindowSystem()), place(QPoint(0, 0), size), heads{QRect(QPoint(0, 0), size)}
{
}

CalibrationFrame::CalibrationFrame(WindowSystem system, const QRect &place, const QList<QRect> &monitors,
                                   int controls)
    : system(system), place(place), heads(monitors), controls(controls), fromWindowSystem(true)
{
    if (heads.isEmpty())
        heads << rect();
    if (controls < 0 || controls >= heads.size())
        this->controls = 0;
}

CalibrationFrame::WindowSystem CalibrationFrame::sessionWindowSystem()
{
    if (onWayland())
        return WindowSystem::Wayland;
    if (X11Desktop::available())
        return X11Desktop::isXWayland() ? WindowSystem::XWayland : WindowSystem::X11;
    return WindowSystem::Offscreen;
}

CalibrationFrame CalibrationFrame::ofSession(const QWidget *mainWindow)
{
    switch (sessionWindowSystem()) {
    case WindowSystem::X11:
        return ofX11(mainWindow);
    case WindowSystem::XWayland:
        return ofXWayland(mainWindow);
    case WindowSystem::Wayland:
        return ofWayland(mainWindow);
    case WindowSystem::Offscreen:
        break;
    }
    return ofOffscreen(mainWindow);
}

CalibrationFrame CalibrationFrame::ofX11(const QWidget *mainWindow)
{
    QList<QRect> monitors = X11Desktop::monitors();
    const QRect root = X11Desktop::root();
    if (monitors.isEmpty())
        monitors << root;
    const QRect mainPlace = mainWindow ? X11Desktop::windowGeometry(mainWindow->internalWinId()) : QRect();
    return CalibrationFrame(WindowSystem::X11, root, monitors, monitorHolding(monitors, mainPlace));
}

CalibrationFrame CalibrationFrame::ofXWayland(const QWidget *mainWindow)
{
    // The compositor maps touches onto the output, which the X server lists
    // as one of its monitors.
    QList<QRect> monitors = X11Desktop::monitors();
    if (monitors.isEmpty())
        monitors << X11Desktop::root();
    const QRect mainPlace = mainWindow ? X11Desktop::windowGeometry(mainWindow->internalWinId()) : QRect();
    const QRect output = monitors.at(monitorHolding(monitors, mainPlace));
    CalibrationFrame frame(WindowSystem::XWayland, output, {}, 0);
    QScreen *shown = nullptr;
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->geometry().topLeft() == output.topLeft())
            shown = screen;
    }
    if (!shown)
        shown = mainWindow ? mainWindow->screen() : QGuiApplication::primaryScreen();
    frame.bindToOutput(shown);
    return frame;
}

// A native Wayland session. What the frame learns of the compositor (the
// output, its size in pixels, the window on it) is learnt here and nowhere else.
CalibrationFrame CalibrationFrame::ofWayland(const QWidget *mainWindow)
{
    // The compositor tells no client where its window is, only on which output.
    QScreen *output = mainWindow && mainWindow->screen() ? mainWindow->screen() : QGuiApplication::primaryScreen();
    if (!output)
        return CalibrationFrame();
    // Qt's screens give the outputs' places in the layout; their modes come
    // from the compositor, as Qt's logical sizes need not be in the units of
    // the windows it configures.
    const QList<WaylandOutput> announced = WaylandDesktop::outputs();
    CalibrationFrame frame(WindowSystem::Wayland, QRect(), {}, 0);
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen == output)
            frame.shownOutput = frame.outputPlaces.size();
        frame.outputPlaces << screen->geometry();
        frame.outputModes << announcedMode(screen, announced);
    }
    frame.bindToOutput(output);
    frame.useWaylandView(waylandView(frame.outputPlaces, frame.outputModes, frame.shownOutput,
                                     output->devicePixelRatio(), QSize()));
    return frame;
}

CalibrationFrame::WaylandView CalibrationFrame::waylandView(const QList<QRect> &outputs, const QList<QSize> &modes,
                                                            int shown, qreal bufferScale, const QSize &window)
{
    WaylandView view;
    const QRect output = outputs.value(shown);
    const QSize mode = modes.value(shown);
    if (output.isEmpty() || mode.isEmpty())
        return view;
    view.size = mode;
    view.monitors = {QRect(QPoint(0, 0), mode)};
    view.ratio = qreal(mode.width()) / output.width();
    if (window.isEmpty())
        return view;

    // A compositor that shows a full-screen window over all its outputs
    // configures it to their bounding box; the touch panel then spans them too.
    QRect all;
    for (const QRect &place : outputs)
        all |= place;
    if (outputs.size() > 1 && window == all.size() && window != output.size()) {
        const qreal ratio = view.ratio;
        const auto scaled = [ratio](const QPoint &point) { return (QPointF(point) * ratio).toPoint(); };
        view.size = QSize(qRound(all.width() * ratio), qRound(all.height() * ratio));
        view.monitors.clear();
        for (int i = 0; i < outputs.size(); ++i)
            view.monitors << QRect(scaled(outputs.at(i).topLeft() - all.topLeft()), modes.value(i));
        view.controls = shown;
        view.fromWindow = true;
        return view;
    }

    // On its output a full-screen window shows its configured size over the
    // whole mode. A scale the compositor shows is at least 1 and at most the
    // buffer scale it asks for (Qt rounds a fractional one up); anything else
    // is a window not yet full screen.
    const qreal ratio = qreal(mode.width()) / window.width();
    if (ratio >= 1 && ratio <= bufferScale + 0.01 && std::abs(window.height() * ratio - mode.height()) <= ratio) {
        view.ratio = ratio;
        view.fromWindow = true;
    }
    return view;
}

void CalibrationFrame::useWaylandView(const WaylandView &shown)
{
    view = shown;
    place = QRect(QPoint(0, 0), view.size);
    heads = view.monitors.isEmpty() ? QList<QRect>{rect()} : view.monitors;
    controls = view.controls;
}

bool CalibrationFrame::waylandOutputHolds() const
{
    if (!screen || screen->geometry() != screenGeometry || screen->devicePixelRatio() != screenRatio)
        return false;
    // A frame over several outputs holds while none of them moves or goes.
    return heads.size() <= 1 || sameMonitors(screenPlaces(), outputPlaces);
}

QRect CalibrationFrame::waylandWindowGeometry(const QWidget *window) const
{
    // What Qt reports is all a Wayland client learns: the output and the size.
    const QWindow *handle = window->windowHandle();
    if (!handle || !window->isVisible() || (heads.size() <= 1 && handle->screen() != screen))
        return QRect();
    return QRect(place.topLeft(), (QSizeF(window->size()) * view.ratio).toSize());
}

qreal CalibrationFrame::scaleOf(const QWidget *window) const
{
    return system == WindowSystem::Wayland && fromWindowSystem ? view.ratio : window->devicePixelRatioF();
}

void CalibrationFrame::spanXWaylandOutputs(const QRect &window)
{
    // Some compositors show a full-screen X window over all their outputs;
    // the frame is then every output the window covers exactly.
    const QRect output = heads.value(controls).translated(place.topLeft());
    QList<QRect> covered;
    QRect span;
    const QList<QRect> monitors = X11Desktop::monitors();
    for (const QRect &monitor : monitors) {
        if (window.contains(monitor)) {
            covered << monitor;
            span |= monitor;
        }
    }
    if (covered.size() < 2 || !covered.contains(output) || !coversExactly(window, span) || span == place)
        return;
    place = span;
    heads = relativeTo(covered, span.topLeft());
    controls = int(covered.indexOf(output));
}

CalibrationFrame CalibrationFrame::ofOffscreen(const QWidget *mainWindow)
{
    const QList<QRect> monitors = monitorSource();
    const QRect mainPlace = mainWindow ? estimatedGeometry(mainWindow) : QRect();
    return CalibrationFrame(WindowSystem::Offscreen, boundingFromOrigin(monitors), monitors,
                            monitorHolding(monitors, mainPlace));
}

void CalibrationFrame::bindToOutput(QScreen *output)
{
    screen = output;
    if (output) {
        screenGeometry = output->geometry();
        screenRatio = output->devicePixelRatio();
    }
}

QRect CalibrationFrame::controlsMonitor() const
{
    return heads.value(controls, rect());
}

QRect CalibrationFrame::monitorAt(const QPoint &point) const
{
    for (const QRect &monitor : heads) {
        if (monitor.contains(point))
            return monitor;
    }
    return QRect();
}

bool CalibrationFrame::stillHolds() const
{
    // A frame the window system did not describe has nothing to compare with.
    if (!fromWindowSystem)
        return true;
    switch (system) {
    case WindowSystem::Wayland:
        return waylandOutputHolds();
    case WindowSystem::X11:
    case WindowSystem::XWayland: {
        QList<QRect> monitors = X11Desktop::monitors();
        const QRect root = X11Desktop::root();
        if (monitors.isEmpty())
            monitors << root;
        if (system == WindowSystem::XWayland) {
            for (const QRect &head : heads) {
                if (!monitors.contains(head.translated(place.topLeft())))
                    return false;
            }
            return true;
        }
        return root == place && sameMonitors(relativeTo(monitors, place.topLeft()), heads);
    }
    case WindowSystem::Offscreen:
        break;
    }
    const QList<QRect> monitors = monitorSource();
    return boundingFromOrigin(monitors) == place && sameMonitors(monitors, heads);
}

void CalibrationFrame::show(QWidget *window) const
{
    if (screen) {
        window->winId();
        window->windowHandle()->setScreen(screen);
        window->setGeometry(screen->geometry());
        window->showFullScreen();
        return;
    }
    // Sized before it is shown: a window without a layout otherwise takes the
    // size of its children's bounding box, which reaches below the frame.
    const qreal ratio = window->devicePixelRatioF();
    // A window still marked full screen from the last calibration would keep its old size.
    window->setWindowState(window->windowState() & ~Qt::WindowFullScreen);
    window->resize(coveringSize(place.size(), ratio));
    // Full screen covers one monitor unless the window manager stretches it
    // over all; without such a window manager the window places itself.
    if (heads.size() > 1 && !X11Desktop::managerSpansMonitors()) {
        placeOver(window, 0);
        return;
    }
    window->showFullScreen();
    if (heads.size() > 1)
        X11Desktop::spanMonitors(window->winId());
}

bool CalibrationFrame::covered(const QWidget *window) const
{
    const QRect real = realGeometry(window);
    return !real.isEmpty() && coversExactly(real.translated(-place.topLeft()), rect());
}

void CalibrationFrame::placeOver(QWidget *window, int attempt) const
{
    // An output is covered by showing full screen on it; there is no other place to take.
    if (screen) {
        show(window);
        return;
    }
    const qreal ratio = window->devicePixelRatioF();
    window->setWindowState(window->windowState() & ~Qt::WindowFullScreen);
    QRect logical(window->geometry().topLeft(), coveringSize(place.size(), ratio));
    const QRect real = realGeometry(window);
    if (real.isEmpty() || attempt == 0) {
        logical.moveTopLeft(QPointF(QPointF(place.topLeft()) / ratio).toPoint());
    } else {
        // Rather a pixel before the frame's corner than one after it.
        const QPoint step(qFloor((place.x() - real.x()) / ratio), qFloor((place.y() - real.y()) / ratio));
        if (!step.isNull()) {
            logical.translate(step);
        } else {
            // As close as the scale factor allows; a pixel more reaches the far edge.
            logical.setSize(window->size() + QSize(real.right() < place.right() ? 1 : 0,
                                                   real.bottom() < place.bottom() ? 1 : 0));
        }
    }
    window->setGeometry(logical);
    if (!window->isVisible())
        window->show();
}

QPoint CalibrationFrame::windowOffset(const QWidget *window) const
{
    const QRect real = realGeometry(window);
    return real.isEmpty() ? QPoint() : real.topLeft() - place.topLeft();
}

bool CalibrationFrame::windowMoved(const QWidget *window) const
{
    return window->isVisible() && windowOffset(window) != origin;
}

bool CalibrationFrame::followWindow(const QWidget *window)
{
    const QSize before = place.size();
    if (system == WindowSystem::Wayland && fromWindowSystem && window->isVisible()) {
        useWaylandView(waylandView(outputPlaces, outputModes, shownOutput, window->devicePixelRatioF(),
                                   window->size()));
    }
    if (system == WindowSystem::XWayland && fromWindowSystem && window->isVisible())
        spanXWaylandOutputs(X11Desktop::windowGeometry(window->internalWinId()));
    origin = window->isVisible() ? windowOffset(window) : QPoint();
    return place.size() != before;
}

QPoint CalibrationFrame::toFrame(const QWidget *window, const QPointF &inWindow, bool *onMonitor) const
{
    // A drag keeps reporting the pointer after it has left the window, onto
    // a neighbouring output or past the screen's edge.
    const qreal ratio = scaleOf(window);
    const QPoint point = QPoint(qRound(inWindow.x() * ratio), qRound(inWindow.y() * ratio)) + origin;
    if (onMonitor)
        *onMonitor = shows(point);
    return QPoint(qBound(0, point.x(), place.width()), qBound(0, point.y(), place.height()));
}

QRect CalibrationFrame::toWidget(const QWidget *window, const QRect &inFrame) const
{
    const qreal ratio = scaleOf(window);
    const QRectF device(inFrame.translated(-origin));
    return QRectF(device.topLeft() / ratio, device.size() / ratio).toRect();
}

QPoint CalibrationFrame::toGlobal(const QWidget *window, const QPoint &inFrame) const
{
    // Qt counts a window's logical place from the origin of the screen it is
    // on, so a window over several monitors has no single logical desktop;
    // the position is counted from the monitor that shows the pixel. On X11
    // that is counted from where the X server has the frame, which wins over
    // Qt's idea of the window: a window manager that reparents it can leave
    // Qt with a stale place.
    const QPoint inWindow = (QPointF(inFrame - origin) / scaleOf(window)).toPoint();
    if (system == WindowSystem::Wayland)
        return window->mapToGlobal(inWindow);
    const QPoint device = inFrame + place.topLeft();
    const auto screens = QGuiApplication::screens();
    for (const QScreen *shown : screens) {
        const QPoint screenOrigin = shown->geometry().topLeft();
        if (QRect(screenOrigin, shown->size() * shown->devicePixelRatio()).contains(device))
            return screenOrigin + (QPointF(device - screenOrigin) / shown->devicePixelRatio()).toPoint();
    }
    return window->mapToGlobal(inWindow);
}

QTransform CalibrationFrame::widgetTransform(const QWidget *window) const
{
    const qreal ratio = scaleOf(window);
    QTransform transform;
    transform.scale(1 / ratio, 1 / ratio);
    transform.translate(-origin.x(), -origin.y());
    return transform;
}

int CalibrationFrame::monitorHolding(const QList<QRect> &monitors, const QRect &window)
{
    int best = 0;
    qint64 most = 0;
    for (int i = 0; i < monitors.size(); ++i) {
        const QRect common = monitors.at(i) & window;
        const qint64 area = qint64(common.width()) * common.height();
        if (!common.isEmpty() && area > most) {
            most = area;
            best = i;
        }
    }
    return best;
}

bool CalibrationFrame::coversExactly(const QRect &window, const QRect &frame)
{
    return window.contains(frame) && frame.adjusted(-1, -1, 1, 1).contains(window);
}

void CalibrationFrame::setWindowSystem(MonitorSource monitors, WindowSource windows)
{
    monitorSource = monitors ? monitors : qtMonitors;
    windowSource = windows ? windows : qtWindowGeometry;
}

QRect CalibrationFrame::realGeometry(const QWidget *window) const
{
    switch (system) {
    case WindowSystem::Wayland:
        return waylandWindowGeometry(window);
    case WindowSystem::X11:
    case WindowSystem::XWayland:
        return X11Desktop::windowGeometry(window->internalWinId());
    case WindowSystem::Offscreen:
        break;
    }
    return window->isVisible() ? estimatedGeometry(window) : QRect();
}
