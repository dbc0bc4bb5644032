#ifndef CALIBRATIONFRAME_H
#define CALIBRATIONFRAME_H

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QTransform>

class QWidget;
class QWindow;

// What a calibration refers to: the rectangle onto which whoever owns input
// maps the touch panel, counted in the pixels the driver is told of.
// On a plain X11 desktop that is the X server's root window in X pixels,
// every monitor inside it. In a Wayland session, natively or through
// XWayland, it is the one output the main window is on: the compositor maps a
// touch panel onto one output. Natively its pixels are the output's current
// mode, whatever scale the compositor and Qt agree on; where the compositor
// shows the full-screen window over several outputs instead, the frame is the
// rectangle it really covers. Everything the calibration counts (screen
// size, area, targets, drags) is in frame pixels, with (0, 0) the frame's
// top-left corner.
// The frame is also the one place that converts between its pixels and a
// window's logical pixels; the window system it was taken on (X11, XWayland,
// a Wayland compositor, or none that can be asked) is decided once, when it
// is taken, and says how the frame and a window's real place are learnt.
class CalibrationFrame
{
public:
    // A frame of one monitor at the origin, as the driver last reported the
    // screen; the window system is the session's, but nothing it says changes the frame.
    explicit CalibrationFrame(const QSize &size = QSize());

    // The frame of a calibration started from this main window, as the window system has it now.
    static CalibrationFrame ofSession(const QWidget *mainWindow);

    QSize size() const { return place.size(); }
    QRect rect() const { return QRect(QPoint(0, 0), place.size()); }
    const QList<QRect> &monitors() const { return heads; }
    // The monitor the main window was on, where the controls go.
    QRect controlsMonitor() const;
    // The monitor that shows a frame pixel; a null rectangle where none does.
    QRect monitorAt(const QPoint &point) const;
    bool shows(const QPoint &point) const { return !monitorAt(point).isNull(); }
    // The output the calibration is shown on in a Wayland session; null on X11.
    QScreen *output() const { return screen; }
    // False once a monitor of the frame has gone or changed.
    bool stillHolds() const;

    // Shows a window full screen over the frame.
    void show(QWidget *window) const;
    // True when the window covers the frame and reaches at most a pixel past it.
    bool covered(const QWidget *window) const;
    // Places and sizes the window over the frame by its own geometry,
    // correcting for where the window system put it so far.
    void placeOver(QWidget *window, int attempt) const;
    // Where the window's top-left pixel lies, in frame pixels, as the window system has it now.
    QPoint windowOffset(const QWidget *window) const;
    // True when the window system has the window elsewhere than the frame
    // last learnt: a window manager may move a window without telling it.
    bool windowMoved(const QWidget *window) const;

    // Learns where the window now lies in the frame (nowhere while it is
    // hidden); the conversions below count from that place, so that mouse
    // events and painting need not ask the window system. In a Wayland
    // session what the compositor did with the window also tells the frame
    // what it covers (the scale of the configured size, more outputs than
    // one): true when that changed the frame's size.
    bool followWindow(const QWidget *window);
    // A position in the window (Qt's logical pixels, with their fraction) in
    // frame pixels, held inside the frame (0 to width, 0 to height) so that no
    // edge made of it lies off the screen. onMonitor, when given, tells
    // whether a monitor of the frame showed the position itself.
    QPoint toFrame(const QWidget *window, const QPointF &inWindow, bool *onMonitor = nullptr) const;
    // A rectangle of frame pixels as a child widget's geometry in the window.
    QRect toWidget(const QWidget *window, const QRect &inFrame) const;
    // A frame pixel as a position on the desktop in Qt's logical pixels, for
    // placing a dialog of the window there.
    QPoint toGlobal(const QWidget *window, const QPoint &inFrame) const;
    // The painter transformation under which the window paints in frame pixels.
    QTransform widgetTransform(const QWidget *window) const;

    // The monitor that holds most of a window; 0 where it touches none.
    static int monitorHolding(const QList<QRect> &monitors, const QRect &window);
    // A window rectangle that covers the frame, reaching at most a pixel past it.
    static bool coversExactly(const QRect &window, const QRect &frame);

    // What a full-screen window shows on a Wayland session, learnt from what
    // the compositor did: the outputs' places in its layout and their current
    // modes, the output the window was shown on, Qt's buffer scale for it,
    // and the logical size the compositor configured (empty until it has).
    struct WaylandView
    {
        QSize size;             // the frame, in device pixels
        QList<QRect> monitors;  // in frame pixels
        int controls = 0;
        qreal ratio = 1;        // frame pixels to a logical pixel of the window
        bool fromWindow = false;  // the window's configured size confirmed it
    };
    static WaylandView waylandView(const QList<QRect> &outputs, const QList<QSize> &modes, int shown,
                                   qreal bufferScale, const QSize &window);

    // Where no window system can be asked (the offscreen platform), the
    // monitors in device pixels and where a window really is come from here;
    // by default from Qt's screens and Qt's idea of the window.
    using MonitorSource = QList<QRect> (*)();
    using WindowSource = QRect (*)(const QWindow *window);
    static void setWindowSystem(MonitorSource monitors, WindowSource windows);

private:
    // How the frame and a window's real place are learnt.
    enum class WindowSystem {
        X11,        // the X server's root window and monitors
        XWayland,   // one output, as the X server of a Wayland session lists it
        Wayland,    // one output, as Qt learns it from the compositor
        Offscreen,  // no window system to ask: Qt's screens, or what tests set
    };
    // A frame at place (window-system coordinates) with these monitors
    // (frame pixels) and the calibration's controls on monitor number controls.
    CalibrationFrame(WindowSystem system, const QRect &place, const QList<QRect> &monitors, int controls);
    static WindowSystem sessionWindowSystem();
    static CalibrationFrame ofX11(const QWidget *mainWindow);
    static CalibrationFrame ofXWayland(const QWidget *mainWindow);
    static CalibrationFrame ofWayland(const QWidget *mainWindow);
    bool waylandOutputHolds() const;
    QRect waylandWindowGeometry(const QWidget *window) const;
    void useWaylandView(const WaylandView &view);
    // Frame pixels to one of the window's logical pixels.
    qreal scaleOf(const QWidget *window) const;
    void spanXWaylandOutputs(const QRect &window);
    static CalibrationFrame ofOffscreen(const QWidget *mainWindow);
    void bindToOutput(QScreen *output);
    // Where the window really is, in window-system coordinates; empty while unknown.
    QRect realGeometry(const QWidget *window) const;

    WindowSystem system;
    QRect place;          // in window-system coordinates (X pixels on X11)
    QList<QRect> heads;   // in frame pixels
    int controls = 0;
    bool fromWindowSystem = false;
    QPointer<QScreen> screen;
    QRect screenGeometry;   // the output's logical geometry when the frame was taken
    qreal screenRatio = 1;
    // A native Wayland frame: every output's logical place and current mode
    // when the frame was taken, and what the window shows of them.
    QList<QRect> outputPlaces;
    QList<QSize> outputModes;
    int shownOutput = 0;
    WaylandView view;
    QPoint origin;   // where the followed window's top-left pixel lies, in frame pixels
};

#endif // CALIBRATIONFRAME_H
