#include "calibration/CalibrateArea.h"

#include "app/Desktop.h"
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
    const int left = area.x();
    const int top = area.y();
    const int w = area.width();
    const int h = area.height();
    const int cx = status == 2 ? left + 9 * w / 10 : left + w / 10;
    const int cy = status == 3 ? top + 9 * h / 10 : top + h / 10;
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
      calibrating(false)
{
    modeBox->addItem(tr("Normal mode"));
    modeBox->addItem(tr("Erea mode"));
    layOut();

    connect(modeBox, SIGNAL(currentIndexChanged(int)), this, SLOT(comboxSelect(int)));
    connect(quitButton, SIGNAL(clicked()), this, SLOT(calStop()));
    pollTimer = new QTimer(this);
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(rePaint()));

    // A monitor plugged in or out, or a new resolution, ends a running calibration.
    const auto screens = QGuiApplication::screens();
    for (QScreen *screen : screens)
        watchScreen(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        watchScreen(screen);
        checkDesktop();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { checkDesktop(); });
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

void CalibrateArea::reject()
{
    if (calibrating)
        calStop();
    else
        QDialog::reject();
}

void CalibrateArea::calStart()
{
    followDesktop();
    // A status or a held button left by the last calibration is not this one's.
    param->calibStatus = 0;
    param->calibValue = 0;
    drawing = false;

    savedOutput = param->outputEnabled;
    param->outputEnabled = false;
    SetOutPut(param);

    mode = param->calibMode;
    modeBox->setCurrentIndex(param->calibMode);

    CalibrateStart();
    pollTimer->start(Product::active().calibrationPollMs);

    calibrating = true;
    setWindowFlags(Qt::FramelessWindowHint);
    showOverDesktop(this, desktop);
    layOut();
    if (mainDialog)
        mainDialog->close();
}

void CalibrateArea::calStop()
{
    calibrating = false;
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
    if (GetCalibStatus(param) > 0)
        update();
}

void CalibrateArea::mousePressEvent(QMouseEvent *event)
{
    const QPoint position = devicePosition(event);
    pressX = position.x();
    pressY = position.y();
    dragX = 0;
    dragY = 0;
    if (modeBox->currentIndex() == 1)
        drawing = true;
}

void CalibrateArea::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint position = devicePosition(event);
    dragX = position.x() - pressX;
    dragY = position.y() - pressY;
    if (modeBox->currentIndex() == 0)
        return;

    if (std::abs(dragX) < MinimumDragWidth) {
        // A click or a narrow drag.
    } else if (std::abs(dragX) < param->screenWidth / 4 || std::abs(dragY) < param->screenHeight / 4) {
        showPrompt(tr("area is too small!"));
    } else {
        Message *message = new Message();
        messageDialog = message;
        message->exec();
        if (Message::ret != 0) {
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
        const qreal ratio = devicePixelRatioF();
        painter.scale(1 / ratio, 1 / ratio);
        painter.translate(-desktopPosition(this, desktop));
        paintCalibration(painter, QRect(rectLeft, rectTop, rectRight - rectLeft, rectBottom - rectTop),
                         status, param->calibValue, drawing, QRect(pressX, pressY, dragX, dragY));
    }
    if (status != 4 && status != 5)
        return;

    handOver();
    calStop();
    if (status == 5)
        showPrompt(tr("Calibrate exception!"));
}

bool CalibrateArea::event(QEvent *event)
{
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        layOut();
    return QDialog::event(event);
}

void CalibrateArea::followDesktop()
{
    const QRect now = desktopGeometry();
    desktop = now.isEmpty() ? QRect(0, 0, param->screenWidth, param->screenHeight) : now;
    if (desktop.size() == QSize(param->screenWidth, param->screenHeight))
        return;
    param->screenWidth = desktop.width();
    param->screenHeight = desktop.height();
    // The driver's area edges were turned into pixels of the old screen.
    (void)GetBasicStatus(param);
    useAreaOfIndex(modeBox->currentIndex());
}

void CalibrateArea::layOut()
{
    const int w = param->screenWidth;
    const int h = param->screenHeight;
    const int a = w / 40;
    const int b = h / 40;
    const qreal ratio = devicePixelRatioF();
    const QPoint origin = desktopPosition(this, desktop);
    auto place = [ratio, origin](QWidget *widget, int x, int y, int width, int height) {
        const QRectF device(x - origin.x(), y - origin.y(), width, height);
        widget->setGeometry(QRectF(device.topLeft() / ratio, device.size() / ratio).toRect());
    };
    place(modeBox, w / 2 - 2 * a, h / 2 - 2 * b, 4 * a, b);
    place(hintLabel, w / 2 - 2 * a, h / 2 - b, 4 * a, 2 * b);
    place(quitButton, w / 2 - a, h / 2 + b, 2 * a, 2 * b);
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

void CalibrateArea::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this] { checkDesktop(); });
}

void CalibrateArea::checkDesktop()
{
    // Look once the window system has finished the change: a monitor going
    // away is still listed while it is being removed.
    QMetaObject::invokeMethod(this, [this] {
        if (calibrating && desktopGeometry() != desktop)
            calStop();
    }, Qt::QueuedConnection);
}

QPoint CalibrateArea::devicePosition(const QMouseEvent *event) const
{
    // The position in the window, where Qt keeps the fraction of a scaled pixel.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QPointF position = event->scenePosition();
#else
    const QPointF position = event->windowPos();
#endif
    const qreal ratio = devicePixelRatioF();
    return QPoint(qRound(position.x() * ratio), qRound(position.y() * ratio)) + desktopPosition(this, desktop);
}

void CalibrateArea::showPrompt(const QString &text)
{
    // A status 5 can arrive while "area is too small!" is still open below.
    Prompt *outer = promptDialog;
    Prompt *prompt = new Prompt(text);
    promptDialog = prompt;
    prompt->exec();
    delete prompt;
    promptDialog = outer;
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
