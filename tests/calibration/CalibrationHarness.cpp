#include "CalibrationHarness.h"

#include "app/Product.h"
#include "calibration/CalibrateArea.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

namespace {

QRect unite(const QList<QRect> &monitors)
{
    QRect desktop;
    for (const QRect &monitor : monitors)
        desktop |= monitor;
    return desktop;
}

} // namespace

CalibrationHarness::CalibrationHarness(const Product &product, const QList<QRect> &monitors)
    : record((TestSupport::useDesktop(monitors),
              TestSupport::resetRecord(product, unite(monitors).width(), unite(monitors).height()))),
      family(TestSupport::familyOf(product))
{
    // Targets stay where they are until a test moves the driver on.
    controller().calibStep = 0;
    window.reset(new CalibrateArea(&stand_in));
    stand_in.show();
    DriverSim::clearTranscript();
}

CalibrationHarness::~CalibrationHarness()
{
    window.reset();
}

DriverSim::Controller &CalibrationHarness::controller() const
{
    return DriverSim::controller(family);
}

void CalibrationHarness::sendMouse(QWidget *widget, int type, const QPoint &position, Qt::MouseButton button,
                                   Qt::MouseButtons buttons)
{
    const auto *area = qobject_cast<CalibrateArea *>(widget);
    const QPoint inWindow = area ? position - area->calibrationFrame().windowOffset(area) : position;
    const QPointF local = QPointF(inWindow) / widget->devicePixelRatioF();
    const QPointF global = QPointF(widget->mapToGlobal(QPoint(0, 0))) + local;
    QMouseEvent event(QEvent::Type(type), local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void CalibrationHarness::pressOn(QWidget *widget, const QPoint &position)
{
    sendMouse(widget, QEvent::MouseButtonPress, position, Qt::LeftButton, Qt::LeftButton);
}

void CalibrationHarness::moveOn(QWidget *widget, const QPoint &position)
{
    sendMouse(widget, QEvent::MouseMove, position, Qt::NoButton, Qt::LeftButton);
}

void CalibrationHarness::releaseOn(QWidget *widget, const QPoint &position)
{
    sendMouse(widget, QEvent::MouseButtonRelease, position, Qt::LeftButton, Qt::NoButton);
}

void CalibrationHarness::dragOn(QWidget *widget, const QPoint &from, const QPoint &to)
{
    pressOn(widget, from);
    moveOn(widget, (from + to) / 2);
    moveOn(widget, to);
    releaseOn(widget, to);
}

void CalibrationHarness::drag(const QPoint &from, const QPoint &to)
{
    dragOn(window.get(), from, to);
}

void CalibrationHarness::press(const QPoint &position)
{
    pressOn(window.get(), position);
}

void CalibrationHarness::move(const QPoint &position)
{
    moveOn(window.get(), position);
}

void CalibrationHarness::release(const QPoint &position)
{
    releaseOn(window.get(), position);
}

bool CalibrationHarness::finishWith(int status)
{
    controller().calibStatus = status;
    return QTest::qWaitFor([this] { return !window->isVisible(); }, 5000);
}

QStringList CalibrationHarness::traffic()
{
    const CommandSet &set = Product::active().commands;
    QStringList names;
    for (const DriverSim::Exchange &exchange : DriverSim::transcript()) {
        const unsigned char code = exchange.code;
        if (exchange.kind == DriverSim::Exchange::Write) {
            const int argument = exchange.bytes.size() > 1 ? exchange.bytes[1] : -1;
            if (code == set.setOutPut)
                names << QStringLiteral("SetOutPut(%1)").arg(argument);
            else if (code == set.setCalibrateMode)
                names << QStringLiteral("SetCalibrateMode(%1)").arg(argument);
            else if (code == set.calibrateStart)
                names << QStringLiteral("CalibrateStart");
            else if (code == set.calibrateEnd)
                names << QStringLiteral("CalibrateEnd");
            else
                names << QStringLiteral("write %1").arg(code);
        } else if (exchange.kind == DriverSim::Exchange::Read) {
            if (code == set.getCalibStatus)
                names << QStringLiteral("GetCalibStatus");
            else if (code == set.getBasicStatus)
                names << QStringLiteral("GetBasicStatus");
            else if (code == set.getFps)
                names << QStringLiteral("GetFPS");
            else
                names << QStringLiteral("read %1").arg(code);
        }
    }
    return names;
}

QStringList CalibrationHarness::trafficWithoutPolls()
{
    QStringList names = traffic();
    names.removeAll(QStringLiteral("GetCalibStatus"));
    names.removeAll(QStringLiteral("GetFPS"));
    return names;
}

QString CalibrationHarness::describe(const DriverSim::CalibrateEndRequest &end)
{
    return QStringLiteral("mode %1 screen %2x%3 area %4 %5 %6 %7")
        .arg(end.mode).arg(end.screenWidth).arg(end.screenHeight)
        .arg(end.left).arg(end.right).arg(end.top).arg(end.bottom);
}
