#ifndef CALIBRATEAREA_H
#define CALIBRATEAREA_H

#include <QDialog>

// Placeholder until the calibration screen lands.
class CalibrateArea : public QDialog
{
    Q_OBJECT

public:
    explicit CalibrateArea(QDialog *mainDialog);

public slots:
    void calStart();
    void calStop();

private:
    QDialog *mainDialog;
};

#endif // CALIBRATEAREA_H
