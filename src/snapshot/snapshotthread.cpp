#include "snapshot/snapshotthread.h"

#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotprovider.h"

#include <QCoreApplication>

SnapshotThread::SnapshotThread(SnapshotMgr* mgr, SnapshotProvider* provider, QString baseName, int types,
                               SnapshotBuffer* buffer)
    : mgr(mgr), provider(provider), baseName(std::move(baseName)), types(types), buffer(buffer)
{
}

SnapshotThread::~SnapshotThread()
{
    // The end event is posted from run(), so the thread may still be returning when the manager deletes us.
    wait();
}

void SnapshotThread::run()
{
    result = provider ? provider->saveSnapshot(baseName, types, buffer.get(), &message) : true;
    QCoreApplication::postEvent(mgr, new ThreadEndEvent(this));
}
