#include "mainwindow/MainDialog.h"

#include "app/Product.h"
#include "app/WindowPlacement.h"
#include "calibration/CalibrateArea.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "mainwindow/DriverLog.h"
#include "signalviews/Graph.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>

#include <cerrno>

namespace {

// The decoded size Qt 6 allows an image by default; Qt 5 sets no bound.
const qint64 MaxIconBytes = 128 * 1024 * 1024;

// A FIFO or a device of that name would block the start for good, and a
// picture whose header claims a huge size would take minutes and gigabytes to decode.
bool iconFileUsable(const QString &file)
{
    if (!QFileInfo(file).isFile())
        return false;
    const QSize size = QImageReader(file).size();
    return !size.isValid() || qint64(size.width()) * size.height() * 4 <= MaxIconBytes;
}

} // namespace

MainDialog::MainDialog()
    : QDialog(nullptr)
{
    ui.setupUi(this);
    if (Product::active().iconFromLogoFile) {
        QIcon icon;
        const QString logo = QStringLiteral("logo.jpg");
        if (iconFileUsable(logo))
            icon.addFile(logo);
        setWindowIcon(icon);
    }
    param = Param::getInst();
    readParamFromDriver();
    initSettingInformation();

    timer = new QTimer(this);
    timer->start(1000);
    detectDriverStatus();

    calibrateArea = new CalibrateArea(this);

    connect(ui.tabWidget, SIGNAL(currentChanged(int)), this, SLOT(switchSet()));
    connect(timer, SIGNAL(timeout()), this, SLOT(detectDriverStatus()));
    connect(timer, SIGNAL(timeout()), this, SLOT(reSetFPS()));
    connect(ui.checkBoxEnableUSB, SIGNAL(clicked()), this, SLOT(checkBoxUSBClicked()));
    connect(ui.pushButtonCalib, SIGNAL(clicked()), calibrateArea, SLOT(calStart()));
    connect(ui.pushButtonGraph, SIGNAL(clicked()), this, SLOT(newGraph()));
    // A notice of the calibration left open when the window closes is answered "Cancel".
    connect(this, SIGNAL(finished(int)), calibrateArea, SLOT(calStop()));
    // A monitor can go away under the window, or a calibration can notice it
    // going and show the window again before Qt has dropped that screen: look
    // again once Qt has, so the window comes back whole onto the monitors left.
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] {
        QMetaObject::invokeMethod(this, [this] {
            if (isVisible())
                keepOnScreen(this);
        }, Qt::QueuedConnection);
    });

    setFixedSize(width(), height());
}

MainDialog::~MainDialog()
{
    delete timer;
    delete calibrateArea;
}

void MainDialog::readParamFromDriver()
{
    if (GetBasicStatus(param) < 0)
        param->driverFound = false;
}

void MainDialog::setUSBStatus(bool active)
{
    ui.labelGraph->setPixmap(QPixmap(active ? QStringLiteral(":/USB/USB_ACTIVE")
                                            : QStringLiteral(":/USB/USB_INACTIVE")));
    showAccessProblem();
}

void MainDialog::enableUSB(bool enabled)
{
    ui.checkBoxEnableUSB->setChecked(enabled);
}

void MainDialog::initSettingInformation()
{
    setUSBStatus(param->driverFound);
    ui.labelFPS->setText(fpsText());
    enableUSB(param->outputEnabled);
}

void MainDialog::initAboutInformation()
{
    if (param->driverFound) {
        ui.labelTouchPoints->setText(QString::number(param->touchPoints));
        ui.labelFirmwareVersion->setText(QString::number(param->firmwareVersion) + QLatin1String(".0"));
        ui.labelDriverVersion->setText(QString::number(param->driverVersionMajor) + QLatin1Char('.')
                                       + QString::number(param->driverVersionMinor));
        ui.labelLayout->setText(QString::number(param->layoutX) + QLatin1Char('/')
                                + QString::number(param->layoutY));
    } else {
        const QString absent = QStringLiteral("n/a");
        ui.labelTouchPoints->setText(absent);
        ui.labelFirmwareVersion->setText(absent);
        ui.labelDriverVersion->setText(absent);
        ui.labelLayout->setText(absent);
    }
}

void MainDialog::clearParam()
{
    param->touchPoints = 0;
    param->firmwareVersion = 0;
    param->driverVersionMajor = 0;
    param->driverVersionMinor = 0;
    param->layoutX = 0;
    param->layoutY = 0;
    param->fps = 0;
}

void MainDialog::record_driver_log()
{
    DriverLog::record(param, "VeDorurerezo.log");
}

void MainDialog::switchSet()
{
    const int index = ui.tabWidget->currentIndex();
    if (index == 0)
        initSettingInformation();
    else if (index == 1)
        initAboutInformation();
}

void MainDialog::detectDriverStatus()
{
    const int result = GetFPS(param);
    if (param->driverFound) {
        if (result < 0) {
            param->driverFound = false;
            clearParam();
            initSettingInformation();
            initAboutInformation();
        }
    } else if (result >= 0) {
        param->driverFound = true;
        readParamFromDriver();
        initSettingInformation();
        initAboutInformation();
        if (Product::active().writesDriverLog)
            record_driver_log();
    }
}

void MainDialog::checkBoxUSBClicked()
{
    param->outputEnabled = ui.checkBoxEnableUSB->isChecked();
    SetOutPut(param);
}

void MainDialog::reSetFPS()
{
    if (ui.tabWidget->currentIndex() != 0)
        return;
    ui.labelFPS->setText(fpsText());
    showAccessProblem();
}

void MainDialog::newGraph()
{
    Graph *graph = new Graph();
    graph->exec();
    delete graph;
}

void MainDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Shown again after a calibration during which its monitor went away (a
    // window restored by the window system stays where the user left it).
    if (!event->spontaneous())
        keepOnScreen(this);
    // A driver lost and found while a calibration hid the window refreshed the
    // page with the calibration's output setting; show the record as it is now.
    switchSet();
}

void MainDialog::showAccessProblem()
{
    // A driver this user may not open looks like no driver at all; the tool
    // tips say why, without a dialog or another layout.
    QString reason;
    if (!param->driverFound && openError == EACCES) {
        reason = tr("%1: permission denied").arg(QString::fromLocal8Bit(Product::active().driverFile));
    }
    ui.labelGraph->setToolTip(reason);
    ui.labelFPS->setToolTip(reason);
}

QString MainDialog::fpsText() const
{
    if (!param->driverFound)
        return QStringLiteral("N/A");
    if (Product::active().commands.reportsFpsPending && param->fpsPending)
        return QStringLiteral("wait..");
    return QString::number(param->fps) + QLatin1String(" FPS");
}
