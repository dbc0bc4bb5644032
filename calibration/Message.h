#ifndef MESSAGE_H
#define MESSAGE_H

#include <QDialog>

class QString;
class QWidget;

// The "save the area?" question. Both buttons close the dialog through
// reject(); the answer stays with the dialog (1 for "OK", 0 for "Cancel" or
// any other way of closing it), for the caller to read after exec() returns.
class Message : public QDialog
{
    Q_OBJECT

public:
    // Given the window it belongs to, it stays above that window.
    explicit Message(QWidget *parent = nullptr);

    int answer() const { return ret; }

public slots:
    void clkOK();
    void clkCancel();

private:
    int ret = 0;
};

// A notice with one text and an "OK" button; the caller translates the text.
class Prompt : public QDialog
{
    Q_OBJECT

public:
    explicit Prompt(const QString &text, QWidget *parent = nullptr);
};

#endif // MESSAGE_H
