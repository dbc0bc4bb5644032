#ifndef HEADLESSPROGRAMS_H
#define HEADLESSPROGRAMS_H

#include <QList>
#include <QProcessEnvironment>
#include <QString>

class QProcess;
struct Product;

// Real window programs started headless (Qt's offscreen platform), with
// their output passed through; stopped and deleted when the test is done.
class HeadlessPrograms
{
public:
    HeadlessPrograms() = default;
    ~HeadlessPrograms();
    HeadlessPrograms(const HeadlessPrograms &) = delete;
    HeadlessPrograms &operator=(const HeadlessPrograms &) = delete;

    // Starts the product's window program in a working folder (this
    // process's when empty), with the given variables on top of this
    // process's environment.
    QProcess *start(const Product &product, const QString &workDir = QString(),
                    const QProcessEnvironment &extra = QProcessEnvironment());
    // Ends every program still running: asked first, then killed.
    void stopAll();

private:
    QList<QProcess *> running;
};

#endif // HEADLESSPROGRAMS_H
