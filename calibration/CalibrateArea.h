#ifndef CALIBRATEAREA_H
#define CALIBRATEAREA_H

#include <QDialog>
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
// Everything it counts (screen, area, targets, drags) is in device pixels of
// the whole desktop, every monitor, whatever Qt's scale factor; only the
// painter and the child widgets see logical pixels.
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

    // Escape or a close request during a calibration ends it as "Quit" does.
    void reject() override;

public slots:
    void calStart();
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
    void layOut();
    void useAreaOfIndex(int index);
    void watchScreen(QScreen *screen);
    void checkDesktop();
    QPoint devicePosition(const QMouseEvent *event) const;
    void handOver();
    void showPrompt(const QString &text);

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
    Message *messageDialog;
    Prompt *promptDialog;
    bool calibrating;
    QRect desktop;   // the desktop the running calibration was started on
};

#endif // CALIBRATEAREA_H
