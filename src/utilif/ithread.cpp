#include "utilif/ithread.h"

IThread::~IThread()
{
    wait();
}

void IThread::sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}
