#include "tests/support/TestSupport.h"
#include "tests/support/FakeDesktop.h"

#include "app/InstanceGuard.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "driversim/DriverSim.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <cstring>
#include <unistd.h>

namespace TestSupport {

Param *useProduct(const Product &product, int desktopWidth, int desktopHeight)
{
    useDesktop({QRect(0, 0, desktopWidth, desktopHeight)});
    return resetRecord(product, desktopWidth, desktopHeight);
}

Param *resetRecord(const Product &product, int desktopWidth, int desktopHeight)
{
    Product::select(product);
    if (fd != 0) {
        ::close(fd);
        fd = 0;
    }
    Param *param = Param::getInst();
    *param = Param(desktopWidth, desktopHeight, product.threshold.initial);
    DriverSim::reset();
    return param;
}

const Product &productByName(const char *programName)
{
    return std::strcmp(programName, Product::lunari.programName) == 0 ? Product::lunari : Product::pravex;
}

void addProductRows()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("pravex") << QString::fromLatin1(Product::pravex.programName);
    QTest::newRow("lunari") << QString::fromLatin1(Product::lunari.programName);
}

const Product &productNamed(const QString &program)
{
    return productByName(program.toLatin1().constData());
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void stopPolling(QObject &window)
{
    const auto timers = window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
    for (QTimer *timer : timers)
        timer->stop();
}

CalibrateArea *calibrationWindow()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *calibration = qobject_cast<CalibrateArea *>(window))
            return calibration;
    }
    return nullptr;
}

QString labelText(QWidget &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name))->text();
}

DriverSim::Family familyOf(const Product &product)
{
    return &product == &Product::lunari ? DriverSim::Family::Lunari : DriverSim::Family::Pravex;
}

bool guardHeld(const Product &product)
{
    return InstanceGuard::runningProcess(product.instanceKey, windowProgram(product)) != 0;
}

DriverSim::Controller &simulated()
{
    return DriverSim::controller(familyOf(Product::active()));
}

std::vector<DriverSim::Exchange> exchanges(DriverSim::Exchange::Kind kind, int code)
{
    std::vector<DriverSim::Exchange> found;
    const DriverSim::Family family = familyOf(Product::active());
    for (const DriverSim::Exchange &exchange : DriverSim::transcript()) {
        if (exchange.family == family && exchange.kind == kind && exchange.code == code)
            found.push_back(exchange);
    }
    return found;
}

DriverSim::Controller &stillSensorMap(int layoutX, int layoutY, unsigned char signal)
{
    useProduct(Product::lunari);
    DriverSim::Controller &driver = simulated();
    driver.animate = false;
    driver.layoutX = layoutX;
    driver.layoutY = layoutY;
    driver.matrix66.assign(static_cast<std::size_t>(layoutX * layoutY), signal);
    driver.touchBlock.fill(0);
    return driver;
}

QString windowProgram(const Product &product)
{
    return &product == &Product::lunari ? QStringLiteral(LUNARI_PROGRAM) : QStringLiteral(PRAVEX_PROGRAM);
}

QString toolProgram(const Product &product)
{
    return &product == &Product::lunari ? QStringLiteral(LUNARICTL_PROGRAM) : QStringLiteral(PRAVEXCTL_PROGRAM);
}

TouchBlock touchBlock(int count, const QVector<QPoint> &points)
{
    TouchBlock block{};
    block[0] = static_cast<unsigned char>(count);
    for (int i = 0; i < points.size() && 6 + 4 * i <= KerDecode::TouchBlockLength; ++i) {
        block[2 + 4 * i] = static_cast<unsigned char>(points[i].x() & 0xff);
        block[3 + 4 * i] = static_cast<unsigned char>(points[i].x() >> 8);
        block[4 + 4 * i] = static_cast<unsigned char>(points[i].y() & 0xff);
        block[5 + 4 * i] = static_cast<unsigned char>(points[i].y() >> 8);
    }
    return block;
}

QImage grabbed(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QImage onScreen(QWidget &window)
{
    return window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
}

int countPixels(const QImage &image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += (line[x] & 0xffffff) == (colour & 0xffffff);
    }
    return count;
}

WorkingFolder::WorkingFolder()
    : previous(QDir::currentPath())
{
    QDir::setCurrent(folder.path());
}

WorkingFolder::~WorkingFolder()
{
    QDir::setCurrent(previous);
}

} // namespace TestSupport
