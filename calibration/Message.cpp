#include "calibration/Message.h"

#include <QLabel>
#include <QPushButton>

Message::Message(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Prompt"));
    resize(180, 100);

    QLabel *label = new QLabel(tr("save the area?"), this);
    label->setGeometry(15, 0, 150, 60);

    QPushButton *okButton = new QPushButton(tr("OK"), this);
    okButton->setGeometry(15, 70, 50, 20);
    connect(okButton, SIGNAL(clicked()), this, SLOT(clkOK()));

    QPushButton *cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setGeometry(115, 70, 50, 20);
    connect(cancelButton, SIGNAL(clicked()), this, SLOT(clkCancel()));
}

void Message::clkOK()
{
    ret = 1;
    reject();
}

void Message::clkCancel()
{
    ret = 0;
    reject();
}

Prompt::Prompt(const QString &text, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Prompt"));
    resize(320, 180);

    QLabel *label = new QLabel(text, this);
    label->setGeometry(10, 0, 300, 120);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);

    QPushButton *okButton = new QPushButton(tr("OK"), this);
    okButton->setGeometry(130, 140, 60, 20);
    connect(okButton, SIGNAL(clicked()), this, SLOT(reject()));
}
