#ifndef MESSAGE_H
#define MESSAGE_H

#include <QDialog>

// Placeholder until the confirmation dialogs land.
class Message : public QDialog
{
    Q_OBJECT

public:
    Message();
    static int ret;
};

#endif // MESSAGE_H
