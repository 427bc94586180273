#pragma once
// SnapshotThread: one background store. It writes the files from its own copy of the data and posts a
// ThreadEndEvent to its manager, which reports the result and deletes the thread on the GUI thread.

#include "utilif/ithread.h"

#include <QEvent>
#include <QJsonObject>
#include <QString>
#include <memory>

class SnapshotBuffer;
class SnapshotMgr;
class SnapshotProvider;

class SnapshotThread : public IThread
{
    Q_OBJECT
public:
    /// Takes ownership of `buffer`. A non-empty `recipe` is written as the set's sidecar after its files.
    SnapshotThread(SnapshotMgr* mgr, SnapshotProvider* provider, QString baseName, int types, SnapshotBuffer* buffer,
                   QJsonObject recipe = QJsonObject());
    ~SnapshotThread() override;

    SnapshotMgr* getManager() const { return mgr; }
    bool getResult() const { return result; }
    QString getMessage() const { return message; }

protected:
    void run() override;

private:
    SnapshotMgr* mgr;
    SnapshotProvider* provider;
    QString baseName;
    int types;
    std::unique_ptr<SnapshotBuffer> buffer;
    QJsonObject recipe;
    bool result = false;
    QString message;
};

/// Stores a set: the provider writes its files, then the set's recipe (when `recipe` is not empty) is written beside
/// them, naming the files really written. A failed recipe fails the store, and its message is added to `*message`.
/// Runs on any thread.
bool storeSnapshotSet(SnapshotProvider* provider, const QString& baseName, int types, const SnapshotBuffer* buffer,
                      const QJsonObject& recipe, QString* message);

/// Posted by a SnapshotThread to its manager as its last action.
class ThreadEndEvent : public QEvent
{
public:
    static constexpr QEvent::Type eventType = QEvent::Type(1000);
    explicit ThreadEndEvent(SnapshotThread* thread) : QEvent(eventType), thread(thread) {}
    SnapshotThread* getThread() const { return thread; }

private:
    SnapshotThread* thread;
};
