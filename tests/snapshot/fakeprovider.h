#pragma once
// A snapshot provider for manager and requester tests: it records what it is asked to do and can be told to fail.

#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotprovider.h"
#include "utilif/error.h"

#include <QStringList>
#include <atomic>

class FakeBuffer : public SnapshotBuffer
{
public:
    explicit FakeBuffer(int value) : value(value) {}
    int value;
};

class FakeProvider : public SnapshotProvider
{
public:
    enum CopyMode { copyNone, copyBuffer, copyOom };

    SnapshotBuffer* snapshotData(int) override
    {
        if (copyMode == copyOom)
            throw OomError();
        return copyMode == copyBuffer ? new FakeBuffer(liveValue) : nullptr;
    }
    bool saveSnapshot(QString baseName, int types, const SnapshotBuffer* buffer, QString* message) override
    {
        // May run on a snapshot thread: touches only the copy and its own atomic counter before the hand-back.
        const auto* copy = dynamic_cast<const FakeBuffer*>(buffer);
        const QString line = QStringLiteral("%1 %2 %3").arg(baseName).arg(types).arg(copy ? copy->value : -1);
        *message = (saveResult ? QStringLiteral("saved ") : QStringLiteral("failed ")) + line;
        if (!copy)
            saves << line;
        else
            threadSaves.fetch_add(1);
        return saveResult;
    }
    void provokeFullTrigger() override
    {
        ++provoked;
        if (mgr && complete)
            mgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
    }
    bool startLogging(QString baseName, QString* message) override
    {
        logging << baseName;
        *message = QStringLiteral("log ") + baseName;
        return true;
    }
    void postMessage(QString text, int, int severity) override
    {
        messages << QStringLiteral("%1|%2").arg(severity).arg(text);
    }
    void onSnapshotChange() override { ++changes; }

    CopyMode copyMode = copyNone;
    bool saveResult = true;
    bool complete = false;
    int liveValue = 0;
    SnapshotMgr* mgr = nullptr;
    QStringList saves; // direct stores
    std::atomic<int> threadSaves{0};
    QStringList logging;
    QStringList messages;
    int provoked = 0;
    int changes = 0;
};
