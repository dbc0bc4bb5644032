#ifndef INSTANCEGUARD_H
#define INSTANCEGUARD_H

#include <QByteArray>
#include <QSharedMemory>
#include <QString>

// Lets one copy of a program run on the machine, whoever starts it.
//
// Each copy makes a file of its own in the temporary folder under a fresh
// name (O_EXCL; mode 0600 until locked, then 0644 so that everyone can look)
// and holds write locks on it: byte 2 for the file's life, byte 1 while it
// starts, byte 0 while it runs. Only the file's owner can take a write lock,
// and the kernel drops it however the copy ends. A starting copy reads every
// such file's locks: a running copy refuses it, and it goes on only once it
// sees no other copy starting in two looks in a row (the later name steps
// back), so two never both go on. A lock counts only when its holder runs
// this program: its memory maps the program's file or, where only root may
// look at that, its command line names it. Other programs' files, locks and segments so neither refuse
// nor split a start, and delay it by a few seconds at most.
class InstanceGuard
{
public:
    explicit InstanceGuard(const char *key);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard &) = delete;
    InstanceGuard &operator=(const InstanceGuard &) = delete;

    // Takes the guard; false when another copy runs.
    bool take();
    // Who runs the copy that refused this one, as " as user root (process
    // 812)"; empty where that is not known.
    QString runningCopy() const;

    // The process of a copy of the program (its file) that runs under the
    // key; 0 when none does.
    static qint64 runningProcess(const char *key, const QString &program);

private:
    void dropRunFile();

    const char *key;
    QSharedMemory segment;
    QByteArray folder;
    QByteArray runFileName;
    int runFile = -1;
    qint64 holder = 0;
};

#endif // INSTANCEGUARD_H
