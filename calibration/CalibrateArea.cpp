#include "calibration/CalibrateArea.h"

CalibrateArea::CalibrateArea(QDialog *mainDialog)
    : QDialog(nullptr), mainDialog(mainDialog)
{
}

void CalibrateArea::calStart()
{
}

void CalibrateArea::calStop()
{
}
