#ifndef MAINDIALOG_H
#define MAINDIALOG_H

#include "mainwindow/Ui_MainDialog.h"

#include <QDialog>

class CalibrateArea;
class Param;
class QShowEvent;
class QTimer;

// The main window: watches the driver once a second and shows its state,
// switches touch output, and opens the calibration and signal windows.
class MainDialog : public QDialog
{
    Q_OBJECT

public:
    MainDialog();
    ~MainDialog() override;

    void readParamFromDriver();
    void setUSBStatus(bool active);
    void enableUSB(bool enabled);
    void initSettingInformation();
    void initAboutInformation();
    void clearParam();
    void record_driver_log();

public slots:
    void switchSet();
    void detectDriverStatus();
    void checkBoxUSBClicked();
    void reSetFPS();
    void newGraph();

protected:
    void showEvent(QShowEvent *event) override;

private:
    QString fpsText() const;
    void showAccessProblem();

    Ui_MainDialog ui;
    CalibrateArea *calibrateArea = nullptr;
    Param *param = nullptr;
    QTimer *timer = nullptr;
};

#endif // MAINDIALOG_H
