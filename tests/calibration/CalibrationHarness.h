#ifndef CALIBRATIONHARNESS_H
#define CALIBRATIONHARNESS_H

#include "driversim/DriverSim.h"

#include <QDialog>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QStringList>

#include <memory>

class CalibrateArea;
class Param;
class QWidget;
struct Product;

// One calibration window on a fresh record of a desktop of these monitors
// (one 1024 x 768 monitor unless told), with a stand-in main window and the
// simulated controller of the chosen product behind it. Positions are in
// device pixels of the desktop, whatever Qt's scale factor.
class CalibrationHarness
{
public:
    explicit CalibrationHarness(const Product &product, const QList<QRect> &monitors = {QRect(0, 0, 1024, 768)});
    ~CalibrationHarness();

    Param *param() const { return record; }
    CalibrateArea *area() const { return window.get(); }
    QDialog *mainWindow() { return &stand_in; }
    DriverSim::Controller &controller() const;

    // A mouse press at from, moves towards to with the button held, a release at to.
    void drag(const QPoint &from, const QPoint &to);
    void press(const QPoint &position);
    void move(const QPoint &position);
    void release(const QPoint &position);

    static void dragOn(QWidget *widget, const QPoint &from, const QPoint &to);
    static void pressOn(QWidget *widget, const QPoint &position);
    static void moveOn(QWidget *widget, const QPoint &position);
    static void releaseOn(QWidget *widget, const QPoint &position);

    // Lets the simulated driver report status 4 (or 5) and waits until the
    // calibration window has handed over and closed.
    bool finishWith(int status);

    // Reads and writes on the driver file since the transcript was last
    // cleared, as operation names: "SetOutPut(0)", "GetCalibStatus", ...
    static QStringList traffic();
    // The same without the calibration poll and the main window's scan-rate poll.
    static QStringList trafficWithoutPolls();

    // "mode 1 screen 1024x768 area 100 600 100 500": what a CalibrateEnd handed over.
    static QString describe(const DriverSim::CalibrateEndRequest &end);

private:
    static void sendMouse(QWidget *widget, int type, const QPoint &position, Qt::MouseButton button,
                          Qt::MouseButtons buttons);

    Param *record;
    DriverSim::Family family;
    QDialog stand_in;
    std::unique_ptr<CalibrateArea> window;
};

#endif // CALIBRATIONHARNESS_H
