#include "calibration/CalibrateArea.h"

#include "app/Product.h"
#include "calibration/Message.h"
#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"

#include <QBrush>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QTimer>

#include <cstdlib>

namespace {

// Progress on a target at which the disc fills the target circle.
const int FullTarget = 150;
// Drags narrower than this are taken for clicks and ignored.
const int MinimumDragWidth = 80;

// The edges of a dragged span, the lower one first, whichever way it went.
void orderEdges(int press, int drag, int &low, int &high)
{
    low = drag > 0 ? press : press + drag;
    high = drag > 0 ? press + drag : press;
}

void paintOutline(QPainter &painter, const QRect &area)
{
    QPen pen;
    pen.setWidth(0);
    pen.setColor(Qt::blue);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area.x(), area.y(), area.width(), area.height());
}

void paintTarget(QPainter &painter, const QRect &area, int status, int value)
{
    const int w = area.width();
    const int h = area.height();
    const QPoint centre = CalibrateArea::targetCentre(area, status);
    const int cx = centre.x();
    const int cy = centre.y();
    const int r = w > h ? h / 15 : w / 15;
    // On a very large area the product passes 32 bits.
    const int p = static_cast<int>(static_cast<qint64>(value) * r / FullTarget);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(Qt::green, Qt::SolidPattern));
    painter.drawEllipse(cx - p, cy - p, 2 * p, 2 * p);

    QPen pen;
    pen.setWidth(0);
    pen.setColor(Qt::black);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawLine(cx - r, cy, cx + r, cy);
    painter.drawLine(cx, cy - r, cx, cy + r);
    painter.drawEllipse(cx - r, cy - r, 2 * r, 2 * r);
}

void paintRubberBand(QPainter &painter, const QRect &band)
{
    painter.setBrush(QBrush(Qt::red, Qt::SolidPattern));
    painter.drawRect(band.x(), band.y(), band.width(), band.height());
}

} // namespace

CalibrateArea::CalibrateArea(QDialog *mainDialog)
    : QDialog(nullptr),
      param(Param::getInst()),
      pollTimer(nullptr),
      quitButton(new QPushButton(tr("Quit"), this)),
      modeBox(new QComboBox(this)),
      hintLabel(new QLabel(this)),
      mainDialog(mainDialog),
      drawing(false),
      savedOutput(param->outputEnabled),
      mode(0),
      rectLeft(0),
      rectRight(param->screenWidth),
      rectTop(0),
      rectBottom(param->screenHeight),
      pressX(0),
      pressY(0),
      dragX(param->screenWidth),
      dragY(param->screenHeight),
      messageDialog(nullptr),
      promptDialog(nullptr),
      calibrating(false),
      pressed(false),
      frame(QSize(param->screenWidth, param->screenHeight))
{
    modeBox->addItem(tr("Normal mode"));
    modeBox->addItem(tr("Erea mode"));
    layOut();

    connect(modeBox, SIGNAL(currentIndexChanged(int)), this, SLOT(comboxSelect(int)));
    connect(quitButton, SIGNAL(clicked()), this, SLOT(calStop()));
    pollTimer = new QTimer(this);
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(rePaint()));
}

CalibrateArea::~CalibrateArea()
{
    delete quitButton;
    delete modeBox;
    delete hintLabel;
    delete pollTimer;
}

void CalibrateArea::paintCalibration(QPainter &painter, const QRect &area, int status, int value,
                                     bool drawing, const QRect &band)
{
    paintOutline(painter, area);
    if (status >= 1 && status <= 3)
        paintTarget(painter, area, status, value);
    if (drawing)
        paintRubberBand(painter, band);
}

QPoint CalibrateArea::targetCentre(const QRect &area, int status)
{
    const int w = area.width();
    const int h = area.height();
    return QPoint(status == 2 ? area.x() + 9 * w / 10 : area.x() + w / 10,
                  status == 3 ? area.y() + 9 * h / 10 : area.y() + h / 10);
}

void CalibrateArea::reject()
{
    if (calibrating)
        calStop();
    else
        QDialog::reject();
}

void CalibrateArea::calStart()
{
    // Watched from before the frame is taken, so that no change slips between.
    watchDesktop();
    followDesktop();
    // A status or a held button left by the last calibration is not this one's.
    param->calibStatus = 0;
    param->calibValue = 0;
    drawing = false;
    pressed = false;

    savedOutput = param->outputEnabled;
    param->outputEnabled = false;
    SetOutPut(param);

    mode = param->calibMode;
    modeBox->setCurrentIndex(param->calibMode);

    CalibrateStart();
    pollTimer->start(Product::active().calibrationPollMs);

    calibrating = true;
    setWindowFlags(Qt::FramelessWindowHint);
    frame.show(this);
    followWindow();
    // Window managers place a full-screen window a moment after it is shown.
    QTimer::singleShot(0, this, [this] { checkPlacement(0); });
    // Hidden, not closed: the program ends when the user closes the main window.
    if (mainDialog)
        mainDialog->hide();
    if (modeBox->currentIndex() == 0)
        warnOfHoles();
}

void CalibrateArea::calStop()
{
    // Whatever ends the calibration, its questions and notices are answered
    // "Cancel" first, so that nothing confirmed afterwards is taken.
    closeDialogs();
    if (!calibrating)
        return;
    calibrating = false;
    delete desktopWatch;
    desktopWatch = nullptr;
    drawing = false;
    param->outputEnabled = savedOutput;
    pollTimer->stop();
    CalibrateEnd(param);
    SetOutPut(param);
    GetBasicStatus(param);

    // Hidden rather than closed: closing drops the native window, which the
    // paint handler that ends a calibration still flushes to afterwards.
    hide();
    if (mainDialog)
        mainDialog->setVisible(true);
}

void CalibrateArea::comboxSelect(int index)
{
    if (index == 0) {
        mode = 0;
        pressX = 0;
        pressY = 0;
        dragX = 0;
        dragY = 0;
        useAreaOfIndex(0);
        hintLabel->setText(QString());
        if (Product::active().sendsCalibrateMode)
            SetCalibrateMode(0);
        if (calibrating)
            warnOfHoles();
    } else if (index == 1) {
        mode = 1;
        useAreaOfIndex(1);
        hintLabel->setText(tr(" use the left\n button to draw\n touch area"));
        if (Product::active().sendsCalibrateMode)
            SetCalibrateMode(1);
    }
}

void CalibrateArea::rePaint()
{
    // Not every change of the desktop reaches Qt as a change of a screen (a
    // new root window size on X11, say), so each tick looks for itself.
    if (!frame.stillHolds()) {
        calStop();
        return;
    }
    // A window manager may move the window and tell it nothing (weston's
    // does when it makes the calibration full screen through XWayland); the
    // controls and the painting follow at the next tick.
    if (frame.windowMoved(this))
        followWindow();
    if (GetCalibStatus(param) > 0)
        update();
}

void CalibrateArea::mousePressEvent(QMouseEvent *event)
{
    // Where the window really lies is asked anew for each drag: a window
    // manager may have moved it without Qt noticing.
    followWindow();
    bool onMonitor = false;
    const QPoint position = devicePosition(event, &onMonitor);
    pressX = position.x();
    pressY = position.y();
    dragX = 0;
    dragY = 0;
    // A press between or beside the monitors is on nothing the touch panel can show.
    pressed = onMonitor;
    if (modeBox->currentIndex() == 1 && pressed)
        drawing = true;
}

void CalibrateArea::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint position = devicePosition(event);
    dragX = position.x() - pressX;
    dragY = position.y() - pressY;
    if (modeBox->currentIndex() == 0 || !pressed)
        return;
    pressed = false;

    // The quarter rule counts against the monitor the drag starts on, so that
    // a small touch monitor beside a large one can be drawn whole.
    QRect quarter = frame.monitorAt(QPoint(pressX, pressY));
    if (quarter.isNull())
        quarter = frame.rect();
    if (std::abs(dragX) < MinimumDragWidth) {
        // A click or a narrow drag.
    } else if (std::abs(dragX) < quarter.width() / 4 || std::abs(dragY) < quarter.height() / 4) {
        showPrompt(tr("area is too small!"));
    } else {
        Message *message = new Message(this);
        centreOnControls(message);
        messageDialog = message;
        message->exec();
        // A calibration that ended while the question was open takes no answer.
        if (calibrating && message->answer() != 0) {
            orderEdges(pressX, dragX, rectLeft, rectRight);
            orderEdges(pressY, dragY, rectTop, rectBottom);
        }
        delete message;
        messageDialog = nullptr;
    }
    drawing = false;
}

void CalibrateArea::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint position = devicePosition(event);
    dragX = position.x() - pressX;
    dragY = position.y() - pressY;
}

void CalibrateArea::paintEvent(QPaintEvent *)
{
    const int status = param->calibStatus;
    {
        QPainter painter(this);
        painter.setWorldTransform(frame.widgetTransform(this));
        paintCalibration(painter, QRect(rectLeft, rectTop, rectRight - rectLeft, rectBottom - rectTop),
                         status, param->calibValue, drawing, QRect(pressX, pressY, dragX, dragY));
    }
    if (status != 4 && status != 5)
        return;

    handOver();
    calStop();
    if (status == 5)
        showPrompt(tr("Calibrate exception!"), mainDialog);
}

bool CalibrateArea::event(QEvent *event)
{
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        followWindow();
    return QDialog::event(event);
}

void CalibrateArea::followDesktop()
{
    frame = CalibrationFrame::ofSession(mainDialog);
    if (frame.size().isEmpty())
        frame = CalibrationFrame(QSize(param->screenWidth, param->screenHeight));
    useFrameSize();
}

void CalibrateArea::useFrameSize()
{
    if (frame.size() == QSize(param->screenWidth, param->screenHeight))
        return;
    param->screenWidth = frame.size().width();
    param->screenHeight = frame.size().height();
    // The driver's area edges were turned into pixels of the old screen.
    (void)GetBasicStatus(param);
    useAreaOfIndex(modeBox->currentIndex());
}

void CalibrateArea::checkPlacement(int attempt)
{
    if (!calibrating || !isVisible())
        return;
    followWindow();
    if (frame.covered(this)) {
        // The window system may have moved the window between the two looks.
        followWindow();
        return;
    }
    if (attempt >= 40)
        return;
    // The window manager has had its chance; the window places itself.
    if (attempt >= 4)
        frame.placeOver(this, attempt - 4);
    QTimer::singleShot(50, this, [this, attempt] { checkPlacement(attempt + 1); });
}

void CalibrateArea::followWindow()
{
    // A compositor may show the window over more than the output it was
    // meant for; the driver then hears the rectangle really covered.
    if (frame.followWindow(this))
        useFrameSize();
    layOut();
    // What is painted counts from where the window lies.
    update();
}

void CalibrateArea::warnOfHoles()
{
    // "Normal mode" targets between monitors could never be touched.
    const QRect whole = frame.rect();
    for (int status = 1; status <= 3; ++status) {
        if (!frame.shows(targetCentre(whole, status))) {
            showPrompt(tr("The whole-desktop calibration cannot be shown: its targets would lie between "
                          "the monitors. Use \"Erea mode\" and draw the touch area on the touch screen."));
            return;
        }
    }
}

void CalibrateArea::layOut()
{
    // The controls go on the monitor the main window was on, laid out on it
    // as on a screen of its own.
    const QRect monitor = frame.controlsMonitor();
    const int w = monitor.width();
    const int h = monitor.height();
    const int a = w / 40;
    const int b = h / 40;
    const int left = monitor.x();
    const int top = monitor.y();
    auto place = [this](QWidget *widget, int x, int y, int width, int height) {
        widget->setGeometry(frame.toWidget(this, QRect(x, y, width, height)));
    };
    place(modeBox, left + w / 2 - 2 * a, top + h / 2 - 2 * b, 4 * a, b);
    place(hintLabel, left + w / 2 - 2 * a, top + h / 2 - b, 4 * a, 2 * b);
    place(quitButton, left + w / 2 - a, top + h / 2 + b, 2 * a, 2 * b);
}

void CalibrateArea::centreOnControls(QWidget *dialog) const
{
    if (!isVisible())
        return;
    const QPoint centre = frame.toGlobal(this, frame.controlsMonitor().center());
    dialog->move(centre - QPoint(dialog->width() / 2, dialog->height() / 2));
}

void CalibrateArea::useAreaOfIndex(int index)
{
    if (index == 0) {
        rectLeft = 0;
        rectRight = param->screenWidth;
        rectTop = 0;
        rectBottom = param->screenHeight;
    } else if (index == 1) {
        rectLeft = param->areaLeft;
        rectRight = param->areaRight;
        rectTop = param->areaTop;
        rectBottom = param->areaBottom;
    }
}

void CalibrateArea::watchDesktop()
{
    // A monitor plugged in or out, or a new resolution, ends the calibration.
    delete desktopWatch;
    desktopWatch = new QObject(this);
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, desktopWatch, [this](QScreen *screen) {
        watchScreen(screen);
        checkDesktop();
    });
    connect(qApp, &QGuiApplication::screenRemoved, desktopWatch, [this] { checkDesktop(); });
}

void CalibrateArea::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, desktopWatch, [this] { checkDesktop(); });
}

void CalibrateArea::checkDesktop()
{
    // Look once the window system has finished the change: a monitor going
    // away is still listed while it is being removed.
    QMetaObject::invokeMethod(this, [this] {
        if (calibrating && !frame.stillHolds())
            calStop();
    }, Qt::QueuedConnection);
}

QPoint CalibrateArea::devicePosition(const QMouseEvent *event, bool *onMonitor) const
{
    // The position in the window, where Qt keeps the fraction of a scaled pixel.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QPointF position = event->scenePosition();
#else
    const QPointF position = event->windowPos();
#endif
    return frame.toFrame(this, position, onMonitor);
}

void CalibrateArea::showPrompt(const QString &text, QWidget *over)
{
    // A status 5 can arrive while "area is too small!" is still open below.
    Prompt *outer = promptDialog;
    // Transient for the window it belongs to, so that it stays above it.
    Prompt *prompt = new Prompt(text, over ? over : this);
    if (!over)
        centreOnControls(prompt);
    promptDialog = prompt;
    prompt->exec();
    delete prompt;
    promptDialog = outer;
}

void CalibrateArea::closeDialogs()
{
    if (messageDialog)
        messageDialog->clkCancel();
    if (promptDialog)
        promptDialog->reject();
}

void CalibrateArea::handOver()
{
    param->calibMode = mode;
    param->areaLeft = rectLeft;
    param->areaRight = rectRight;
    param->areaTop = rectTop;
    param->areaBottom = rectBottom;
    param->calibStatus = 0;
    param->calibValue = 0;
}
