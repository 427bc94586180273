#pragma once
// ViewManager: the host's one object for the server connection.
//
// It owns the TCP connection and the data channels, keeps the list of open pages, cuts the received byte stream
// into telegrams and dispatches them (data and metadata to the channels, configuration replies to the channel
// fields), turns the selections made in displays into telegrams for the server, and reports activity and overload.

#include "framework/gplugin.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QRect>
#include <QString>
#include <QVector>

class QTimer;
class IQTcp;
class Channel;
class ViewPage;
struct DataGroup;

class ViewManager : public QObject
{
    Q_OBJECT
public:
    /// Receive buffer bound of the connection in bytes (the largest telegram that can be received).
    static constexpr int receiveBufferSize = 0x4000000;

    ViewManager(const GPlugin::PrefData* prefs, bool lossless, QObject* parent = nullptr);
    ~ViewManager() override;

    void connectToServer(QString host, unsigned short port);
    /// Sends the connect sequence: lossless flag, start, and per subscribed channel the subscription and reads.
    void connectToServer();
    void setChannelCount(int count, int unsubscribed, const QMap<int, DataGroup>& groups);
    void addPage(ViewPage* page);
    void removePage(ViewPage* page);
    /// One telegram of 16 bytes after the length word, or 20 with `value`; false if it could not be queued.
    bool sendTelegram(int kind, int address, int index, const int* value);
    void setLosslessConnection(bool on);
    bool getOverload() const { return overloadState; }
    /// How often the server's stream broke (a length word no telegram can have) since the manager was made.
    int getProtocolErrors() const { return protocolErrorCount; }
    /// Applies one configuration reply given as a telegram in memory (at least 28 bytes).
    void receiveAckTel(void* tel);

    const QVector<Channel*>& getChannels() const { return channels; }
    const QList<ViewPage*>& getPages() const { return pages; }
    IQTcp* connection() const { return tcp; }

public slots:
    void stop();
    void receive(char* buf, int length);
    void networkError();
    void connected(bool up);
    void updateStatus();
    void dataTimeout();
    void selectPoint(Int32 point, Int32 targetAddr, Int32 targetIdx);
    void selectRange(QRect range, GPlugin::DataTrigger origin);
    void selectAngle(Int32 angle);
    void selectPath(PathList path, GPlugin::DataTrigger origin);
    void selectGrid(PathList rect, Int32 pointsX, Int32 pointsY, GPlugin::DataTrigger origin);
    void sendGenericTel(void* tel);

signals:
    void receiving(bool receiving);
    void overload(bool overload);
    void statusChanged(QString text, int displayTime, int severity);
    /// The stream broke again; `count` is the new total (getProtocolErrors()).
    void protocolErrors(int count);

private slots:
    void protocolError(const QString& what);

private:
    void applyConfig(int address, int channel, int value);
    void sendPathPoints(const PathList& path);
    void refreshChannelLists();

    IQTcp* tcp = nullptr;
    QTimer* statusTimer = nullptr;
    QVector<Channel*> channels;
    QList<ViewPage*> pages;
    bool overloadState = false;
    bool activeFlag = false;
    bool activeState = false;
    bool lossless = false;
    int channelCount = 0;
    int unsubscribedCount = 0;
    int protocolErrorCount = 0;
    QVector<int> alignedScratch; // copy of a data block that arrived at an address not aligned to 4 bytes
    bool stopping = false; // stop() ran: a closing connection is no news for the host
};
