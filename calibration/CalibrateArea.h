#ifndef CALIBRATEAREA_H
#define CALIBRATEAREA_H

#include "calibration/CalibrationFrame.h"

#include <QDialog>
#include <QPoint>
#include <QRect>

class Message;
class Param;
class Prompt;
class QComboBox;
class QLabel;
class QMouseEvent;
class QPaintEvent;
class QPainter;
class QPushButton;
class QScreen;
class QString;
class QTimer;

// The full-screen window in which the driver runs its three-target
// calibration, over the whole screen or over an area drawn with the mouse.
// It hides the main window while a calibration runs and shows it again at the end.
// Everything it counts (screen, area, targets, drags) is in pixels of its
// frame (CalibrationFrame: the X11 root window, or the Wayland output the main
// window is on), whatever Qt's scale factor; only the painter and the child
// widgets see logical pixels.
class CalibrateArea : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrateArea(QDialog *mainDialog);
    ~CalibrateArea() override;

    // One frame of the calibration screen: the area outline, the target of
    // statuses 1 to 3 with its progress disc, and the rubber band when drawing.
    static void paintCalibration(QPainter &painter, const QRect &area, int status, int value,
                                 bool drawing, const QRect &band);
    // The centre of the target of status 1, 2 or 3 on an area.
    static QPoint targetCentre(const QRect &area, int status);
    // The frame the running (or last) calibration refers to.
    const CalibrationFrame &calibrationFrame() const { return frame; }

    // Escape or a close request during a calibration ends it as "Quit" does.
    void reject() override;

public slots:
    void calStart();
    // Ends a running calibration as "Quit" does; in any case closes the
    // calibration's open questions and notices as "Cancel".
    void calStop();
    void comboxSelect(int index);
    void rePaint();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    // The window manager may move or resize the window after it is shown.
    bool event(QEvent *event) override;

private:
    void followDesktop();
    void useFrameSize();
    void checkPlacement(int attempt);
    void followWindow();
    void warnOfHoles();
    void layOut();
    void useAreaOfIndex(int index);
    void watchDesktop();
    void watchScreen(QScreen *screen);
    void checkDesktop();
    QPoint devicePosition(const QMouseEvent *event, bool *onMonitor = nullptr) const;
    void closeDialogs();
    void handOver();
    void showPrompt(const QString &text, QWidget *over = nullptr);
    void centreOnControls(QWidget *dialog) const;

    Param *param;
    QTimer *pollTimer;
    QPushButton *quitButton;
    QComboBox *modeBox;
    QLabel *hintLabel;
    QDialog *mainDialog;
    bool drawing;
    bool savedOutput;
    int mode;
    int rectLeft;
    int rectRight;
    int rectTop;
    int rectBottom;
    int pressX;
    int pressY;
    int dragX;
    int dragY;
    // What a running calibration has opened, all of it ended by calStop().
    Message *messageDialog;
    Prompt *promptDialog;
    QObject *desktopWatch = nullptr;   // the context of the desktop's signals while calibrating
    bool calibrating;
    bool pressed;             // the last press started a drag the release may take
    CalibrationFrame frame;   // what the running calibration refers to, following this window
};

#endif // CALIBRATEAREA_H
