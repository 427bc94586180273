#pragma once
// Channel: one numbered data channel of the acquisition server. It keeps the current frame and the last value of
// each metadata code in its FrameBuffer, feeds data and metadata to the first plug-in of every page that shows it,
// replays the stored state to chains that join late, writes the permanent CSV log and stores its raw frame as a
// snapshot provider.

#include "connection/channelhealth.h"
#include "connection/datagroup.h"
#include "framework/gplugin.h"
#include "snapshot/snapshotprovider.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class FrameBuffer;
class SnapshotMgr;
class ViewPage;

/// The snapshot copy of a channel: a copy of its frame buffer, with the file title and the ASC layout flag taken
/// at the same moment, so that a background store reads nothing that the GUI thread may change.
class ChannelSnBuffer : public SnapshotBuffer
{
public:
    explicit ChannelSnBuffer(const FrameBuffer& source, const QByteArray& title = QByteArray(), bool ascMatrix = false);
    ~ChannelSnBuffer() override;
    const FrameBuffer& frame() const { return *buffer; }
    QByteArray title() const { return fileTitle; }
    bool ascMatrix() const { return matrix; }

private:
    FrameBuffer* buffer;
    QByteArray fileTitle;
    bool matrix;
};

class Channel : public QObject, public SnapshotProvider
{
    Q_OBJECT
public:
    /// Words per setData call of a replay (the same block size as histograms sent downstream).
    static constexpr int replayBlock = 1019;

    Channel(int number, QObject* parent, const QMap<int, DataGroup>& groups);
    ~Channel() override;

    void sendData(const int* data, int count, int index);
    void sendDataOdd(const int* data, int byteCount, int index);
    void sendMetadata(int code, int value);
    void sendSingleMetadata(GPlugin* plugin, int code, int value);
    void replayMetaData(GPlugin* plugin);
    void setDataGroup(int group);
    bool getEnabled() const;
    void addPage(ViewPage* page);
    bool removePage(ViewPage* page);
    void removeAllPages();
    const QList<ViewPage*>& getPages() const { return pages; }

    int getNumber() const { return number; }
    int getDataGroup() const { return dataGroup; }
    bool isStopped() const { return stopped; }
    /// The channel's name: the name of its snapshot manager.
    QString getName() const;
    SnapshotMgr* getSnapshotManager() const { return snapshotManager; }
    FrameBuffer* getFrameBuffer() const { return buffer; }
    int getSignalNumber() const { return signalNumber; }
    void setSignalNumber(int value) { signalNumber = value; }
    int getPeriod() const { return period; }
    void setPeriod(int value) { period = value; }
    int getExtraProperty() const { return extraProperty; }
    void setExtraProperty(int value) { extraProperty = value; }
    /// The stream's live statistics (read on the GUI thread; cheap).
    ChannelHealth health() const { return stats.health(); }

    // SnapshotProvider
    SnapshotBuffer* snapshotData(int types) override;
    bool saveSnapshot(QString baseName, int formats, const SnapshotBuffer* buffer, QString* message) override;
    void provokeFullTrigger() override;
    bool startLogging(QString fileName, QString* message) override;
    void postMessage(QString text, int displayTime, int severity) override;
    void onSnapshotChange() override;

    /// The host's preferences (set by the view manager); the channels pass them to their snapshot managers.
    static const GPlugin::PrefData* _prefs;

public slots:
    /// Replays metadata and the stored frame to `receiver` once the event loop runs (requests coalesce).
    void replayFrame(GPlugin* receiver);

signals:
    void statusChanged(QString text, int displayTime, int severity);

private slots:
    void replayFrameInt(GPlugin* receiver = nullptr);

private:
    QList<GPlugin*> receivers() const;
    void distributeData(const int* data, int count, int index);
    void fireStoreTrigger();
    void outOfMemory();
    QByteArray latin1Title() const;
    bool ascMatrix() const;
    /// The permanent log could not be written: end it and tell the user.
    void permLogFailed();

    const QMap<int, DataGroup>* groups;
    int number;
    QList<ViewPage*> pages;
    FrameBuffer* buffer;
    QList<QPointer<GPlugin>> pendingReplay; // guarded: a chain may be deleted before its replay runs
    SnapshotMgr* snapshotManager;
    int dataGroup = -1;
    int signalNumber = 0;
    int period = 0;
    int extraProperty = 0;
    int samplesSinceTrigger = 0;
    bool stopped = false;
    bool replayScheduled = false;
    ChannelStats stats;
};
