#include "calibration/Message.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>

int Message::ret = 0;

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

void Message::keyPressEvent(QKeyEvent *event)
{
    // Dismissing the question must not leave an earlier "OK" standing.
    if (event->matches(QKeySequence::Cancel))
        ret = 0;
    QDialog::keyPressEvent(event);
}

void Message::closeEvent(QCloseEvent *event)
{
    // The buttons close the dialog without a close event, so this is the
    // window's own close control, which answers "Cancel" as Escape does.
    ret = 0;
    QDialog::closeEvent(event);
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
