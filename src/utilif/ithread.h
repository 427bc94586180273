#pragma once
// Thread base: override run(); start() runs it on a new thread and returns at once.
// Deleting the object waits for run() to return, so a finished-flag poll or a posted event can never outlive it.
// A subclass whose run() uses its own members must call wait() in its own destructor as well.

#include <QThread>

class IThread : public QThread
{
    Q_OBJECT
public:
    explicit IThread(QObject* parent = nullptr) : QThread(parent) {}
    ~IThread() override;
    /// Sleeps the calling thread for `ms` milliseconds.
    static void sleep(int ms);

protected:
    void run() override = 0;
};
