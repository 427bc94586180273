#pragma once
// SnapshotProvider: the interface of everything a SnapshotMgr can store (a data channel, a display).
// SnapshotBuffer: the base of the self-contained data copies that background stores write from.

#include <QString>

class SnapshotMgr;

/// A copy of a provider's data for one store. Each provider derives its own class; copies are always deleted
/// through a SnapshotBuffer pointer by their owner.
class SnapshotBuffer
{
public:
    SnapshotBuffer() = default;
    virtual ~SnapshotBuffer();
    SnapshotBuffer(const SnapshotBuffer&) = delete;
    SnapshotBuffer& operator=(const SnapshotBuffer&) = delete;
};

class SnapshotProvider
{
public:
    virtual ~SnapshotProvider();

    /// A new copy of the data to store, owned by the caller, or null if the provider cannot copy. May throw
    /// OomError when the copy cannot be allocated.
    virtual SnapshotBuffer* snapshotData(int types);
    /// Writes the files for the requested type bits under `baseName`, from `buffer` when it is not null (then
    /// without touching live data: it may run on a snapshot thread), else from the live data. Puts a text for the
    /// user into `message` (empty for none) and returns success.
    virtual bool saveSnapshot(QString baseName, int types, const SnapshotBuffer* buffer, QString* message) = 0;
    /// Fires the provider's completion trigger now if its data is complete.
    virtual void provokeFullTrigger();
    /// Starts continuous logging under `baseName`, or stops it when the name is empty.
    virtual bool startLogging(QString baseName, QString* message);
    /// Shows a status text to the user (displayTime -1; severity 0 success, 2 failure).
    virtual void postMessage(QString text, int displayTime, int severity) = 0;
    /// The snapshot settings of the provider's manager changed.
    virtual void onSnapshotChange();
};
