#include "tests/support/FakeDesktop.h"

#include "calibration/CalibrationFrame.h"

#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <qpa/qplatformscreen.h>
#include <qpa/qplatformwindow.h>
#include <qpa/qwindowsysteminterface.h>

#include <memory>

namespace {

using Monitors = QList<QPlatformScreen *>;

// The platform's own screen, which can still read back any window.
QPlatformScreen *platformScreen = nullptr;

class FakeMonitor : public QPlatformScreen
{
public:
    FakeMonitor(const QRect &geometry, std::shared_ptr<Monitors> siblings)
        : rect(geometry), siblings(std::move(siblings))
    {
    }

    QRect geometry() const override { return rect; }
    int depth() const override { return 32; }
    QImage::Format format() const override { return QImage::Format_RGB32; }
    // At the base DPI, so that Qt scales by QT_SCALE_FACTOR alone.
    QDpi logicalDpi() const override { return QDpi(96, 96); }
    QList<QPlatformScreen *> virtualSiblings() const override { return *siblings; }
    QPixmap grabWindow(WId window, int x, int y, int width, int height) const override
    {
        return platformScreen->grabWindow(window, x, y, width, height);
    }

    QRect rect;

private:
    std::shared_ptr<Monitors> siblings;
};

std::shared_ptr<Monitors> current = std::make_shared<Monitors>();

// The calibration asks the window system for the monitors in device pixels;
// here the fakes are the window system.
QList<QRect> fakeMonitors()
{
    QList<QRect> monitors;
    for (QPlatformScreen *monitor : *current)
        monitors << monitor->geometry();
    return monitors;
}

QRect platformGeometry(const QWindow *window)
{
    return window->handle() ? window->handle()->geometry().translated(window->property("movedUnseen").toPoint())
                            : QRect();
}

} // namespace

namespace TestSupport {

void useDesktop(const QList<QRect> &monitors)
{
    QList<QRect> present;
    for (QPlatformScreen *monitor : *current)
        present << monitor->geometry();
    if (present == monitors)
        return;
    if (!platformScreen)
        platformScreen = QGuiApplication::primaryScreen()->handle();
    CalibrationFrame::setWindowSystem(fakeMonitors, platformGeometry);

    // The new monitors come first, so that there is always a primary one.
    const std::shared_ptr<Monitors> old = current;
    current = std::make_shared<Monitors>();
    for (const QRect &geometry : monitors)
        *current << new FakeMonitor(geometry, current);
    for (int i = 0; i < current->size(); ++i)
        QWindowSystemInterface::handleScreenAdded(current->at(i), i == 0);
    for (QPlatformScreen *monitor : *old)
        QWindowSystemInterface::handleScreenRemoved(monitor);
    QGuiApplication::processEvents();
}

void changeMonitor(int index, const QRect &geometry)
{
    auto *monitor = static_cast<FakeMonitor *>(current->at(index));
    monitor->rect = geometry;
    QWindowSystemInterface::handleScreenGeometryChange(monitor->screen(), geometry, geometry);
}

void changeMonitorUnseen(int index, const QRect &geometry)
{
    static_cast<FakeMonitor *>(current->at(index))->rect = geometry;
}

void moveWindowUnseen(QWindow *window, const QPoint &by)
{
    window->setProperty("movedUnseen", window->property("movedUnseen").toPoint() + by);
}

} // namespace TestSupport
