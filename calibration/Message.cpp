#include "calibration/Message.h"

int Message::ret = 0;

Message::Message()
    : QDialog(nullptr)
{
}
