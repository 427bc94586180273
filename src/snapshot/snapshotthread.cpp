#include "snapshot/snapshotthread.h"

#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotprovider.h"
#include "snapshot/viewrecipe.h"
#include "utilif/wholefile.h"

#include <QCoreApplication>

SnapshotThread::SnapshotThread(SnapshotMgr* mgr, SnapshotProvider* provider, QString baseName, int types,
                               SnapshotBuffer* buffer, QJsonObject recipe)
    : mgr(mgr), provider(provider), baseName(std::move(baseName)), types(types), buffer(buffer),
      recipe(std::move(recipe))
{
}

bool storeSnapshotSet(SnapshotProvider* provider, const QString& baseName, int types, const SnapshotBuffer* buffer,
                      const QJsonObject& recipe, QString* message)
{
    if (!provider)
        return true;
    QStringList written;
    WholeFile::setCommitLog(&written);
    bool ok = provider->saveSnapshot(baseName, types, buffer, message);
    WholeFile::setCommitLog(nullptr);
    // A set of which nothing was written has nothing to explain.
    if (recipe.isEmpty() || written.isEmpty())
        return ok;
    QString error;
    if (!ViewRecipe::write(baseName, recipe, written, nullptr, &error)) {
        ok = false;
        if (message)
            *message = message->isEmpty() ? error : *message + QLatin1Char('\n') + error;
    }
    return ok;
}

SnapshotThread::~SnapshotThread()
{
    // The end event is posted from run(), so the thread may still be returning when the manager deletes us.
    wait();
}

void SnapshotThread::run()
{
    result = storeSnapshotSet(provider, baseName, types, buffer.get(), recipe, &message);
    QCoreApplication::postEvent(mgr, new ThreadEndEvent(this));
}
