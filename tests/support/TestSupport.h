#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "app/Product.h"
#include "driverlink/Param.h"
#include "driversim/DriverSim.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QTemporaryDir>
#include <QVector>

#include <array>
#include <vector>

class CalibrateArea;
class QObject;
class QWidget;

namespace TestSupport {

// Makes the process run as the given product on a desktop of the given size
// (one monitor, see useDesktop): selects it, closes the driver channel,
// rebuilds the parameter record in place (windows keep their pointer) and
// resets the simulated controller.
Param *useProduct(const Product &product, int desktopWidth = 1024, int desktopHeight = 768);
// The same, leaving the desktop as it is.
Param *resetRecord(const Product &product, int desktopWidth, int desktopHeight);

// Both products, for data-driven rows.
const Product &productByName(const char *programName);

// A "program" column with one row per product, and the product of a row's name.
void addProductRows();
const Product &productNamed(const QString &program);

// Lets posted events, repaints included, run.
void settle();

// Stops the window's own poll timers, so the test alone decides when it ticks.
void stopPolling(QObject &window);

// The calibration window among the top-level windows, or null.
CalibrateArea *calibrationWindow();

// The text of the label with this object name inside window.
QString labelText(QWidget &window, const char *name);

// The simulated controller family that serves a product, and the active product's controller.
DriverSim::Family familyOf(const Product &product);
DriverSim::Controller &simulated();

// True while a running copy of the product holds its single-instance guard.
bool guardHeld(const Product &product);

// Exchanges of the active product's controller since the last clear, of one kind and code.
std::vector<DriverSim::Exchange> exchanges(DriverSim::Exchange::Kind kind, int code);

// Makes the process run as the second program, on a controller whose pictures
// stand still: the given layout, every code-66 cell at signal, no touch point.
DriverSim::Controller &stillSensorMap(int layoutX, int layoutY, unsigned char signal = 0);

// The product's programs, as built.
QString windowProgram(const Product &product);
QString toolProgram(const Product &product);

// A touch-point block as the driver answers it: the count byte, then each
// point's coordinates (0 to 4095), little-endian.
using TouchBlock = std::array<unsigned char, Param::TouchDataSize>;
TouchBlock touchBlock(int count, const QVector<QPoint> &points);

// A widget painted anew, and a window as its backing store holds it now
// (what is on screen), both as RGB32 pictures.
QImage grabbed(QWidget &widget);
QImage onScreen(QWidget &window);
// How many pixels of a picture have the colour (alpha is not compared).
int countPixels(const QImage &image, QRgb colour);

// A fresh folder made the working directory for as long as it lives (the
// programs read their catalogue and icon there and write their log there).
class WorkingFolder
{
public:
    WorkingFolder();
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

    QString path() const { return folder.path(); }
    QString filePath(const QString &name) const { return folder.filePath(name); }

private:
    QTemporaryDir folder;
    QString previous;
};

} // namespace TestSupport

#endif // TESTSUPPORT_H
