#include "snapshot/snapshotprovider.h"

SnapshotBuffer::~SnapshotBuffer() = default;

SnapshotProvider::~SnapshotProvider() = default;

SnapshotBuffer* SnapshotProvider::snapshotData(int)
{
    return nullptr;
}

void SnapshotProvider::provokeFullTrigger() {}

bool SnapshotProvider::startLogging(QString, QString* message)
{
    if (message)
        message->clear();
    return true;
}

void SnapshotProvider::onSnapshotChange() {}
