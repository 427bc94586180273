#pragma once
// ViewerWindow: the host of the view library. It keeps the preferences record and the data groups, creates the
// ViewManager, places the pages of a layout in a grid or in tabs, and does the host's duties for them: partner
// searches between pages, per-group snapshot sequence numbers that survive a restart, the snapshot settings dialog
// of a data group, and the global store requests. The status bar shows the library's messages by severity, the
// connection, the receiving and overload indicators and the global sequence number.

#include "layoutfile.h"

#include "framework/gplugin.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <memory>

class GPlugin;
class Channel;
class QAction;
class QDockWidget;
class QGroupBox;
class QLabel;
class QTabWidget;
class StreamsView;
class QMenu;
class QTimer;
class Savable;
class SnapshotRequester;
class ViewManager;
class ViewPage;

class ViewerWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit ViewerWindow(QWidget* parent = nullptr);
    ~ViewerWindow() override;

    /// Replaces the current layout. On failure the current layout stays as it was and `*error` says why.
    bool loadLayout(const ViewerLayout& layout, QString* error);
    /// Connects (and keeps reconnecting) to the server.
    void connectTo(const QString& host, quint16 port);
    /// Sends the stop telegram and closes the connection for good (the quit: no "connection lost" message).
    void stopConnection();
    /// Overrides the snapshot directory of this and every later layout (empty: the layout's).
    void setSnapshotDir(const QString& dir);
    QString snapshotDir() const { return prefs.snapshotDir; }
    /// Prints every status message to standard error too (headless runs).
    void setEchoStatus(bool on) { echoStatus = on; }

    ViewManager* manager() const { return viewManager; }
    const QList<ViewPage*>& pages() const { return pageList; }
    SnapshotRequester* globalRequester() const { return requester; }
    bool isConnected() const { return connectedFlag; }
    QString statusText() const;
    QString connectionText() const;
    /// The next sequence number of a data group's snapshots (persisted).
    int sequenceNumber(int group) const;

    /// Store now on every page.
    void storeAllPagesNow();
    /// Snapshot stores still running in background threads.
    static int runningStores();
    /// Replays a disc-writer recording at the head of every page whose chain starts with a "Disc Writer".
    /// False (with `*error`) when there is no such page or the file cannot be read; replayFinished() follows the end.
    bool startReplay(const QString& file, QString* error);
    /// Replays still running.
    int runningReplays() const;
    /// The data order of a recording (its first "Order" record before the first data; -1 when it has none).
    static bool recordedOrder(const QString& file, int* order, QString* error);
    /// The main window as a PNG file.
    bool saveScreenshot(const QString& path, QString* error);
    /// The channels the connection subscribes, in order (empty without a layout).
    QVector<Channel*> subscribedChannels() const;
    /// One line of stream health per subscribed channel (the headless summary).
    QStringList healthSummary() const;
    /// The Streams view (a dock, hidden until View > Streams shows it).
    QDockWidget* streamsDock() const { return streamsDockWidget; }
    /// The text of the receiving indicator: "Receiving", "Idle" or "Stalled".
    QString receivingText() const;
    /// A page's title as shown, with the mark of a stale channel.
    QString pageTitle(int page) const;
    /// Updates the Streams view, the page titles and the receiving indicator now (a timer does it twice a second).
    void refreshHealth();
    /// The About box's text: program, version, licence.
    static QString aboutText();

public slots:
    void showStatus(QString text, int displayTime, int severity);
    void storeNow();
    void storeNext();
    void storeAlways(bool on);
    void openLayout();
    /// Asks for a recording and replays it offline on a page of its own.
    void openRecording();
    void connectDialog();
    void showCatalogue();
    void showAbout();
    void setTabbed(bool tabs);
    /// Snapshot names and file types of the managers of one data group.
    void channelDialogForGroup(int dGroup);

signals:
    void closed();
    /// A layout was loaded and its pages placed.
    void layoutLoaded();
    /// Every replay started by startReplay has ended.
    void replayFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void relaySearch(QString name, GPlugin* ptr);
    void answerSequenceNumber(int dGroup, int* usedNo);
    void globalSequenceChanged(int number);
    void setReceiving(bool on);
    void setOverload(bool on);
    void showProtocolErrors(int count);
    void connectionChanged(bool up);
    void connectionError();

private:
    void buildMenus();
    void buildStatusBar();
    void placePages();
    void nameSnapshotManagers();
    void rebuildDisplayMenu();
    void teardown();
    Savable& sequenceSetting(int group) const;

    HostPrefs prefs;
    GPlugin::PrefData record;
    ViewerLayout current;
    std::unique_ptr<QMap<int, DataGroup>> groups;
    ViewManager* viewManager = nullptr;
    SnapshotRequester* requester = nullptr;
    QList<ViewPage*> pageList;
    QWidget* pageArea = nullptr;
    bool tabbed = false;
    bool echoStatus = false;
    bool connectedFlag = false;
    QString snapshotDirOverride;
    QString serverHost;
    quint16 serverPort = 0;

    QLabel* messageLabel = nullptr;
    QLabel* connectionLabel = nullptr;
    QLabel* receivingLabel = nullptr;
    QLabel* overloadLabel = nullptr;
    QLabel* sequenceLabel = nullptr;
    QTimer* messageTimer = nullptr;
    QAction* storeAlwaysAction = nullptr;
    QAction* tabsAction = nullptr;
    QMenu* displayMenu = nullptr;
    QDockWidget* streamsDockWidget = nullptr;
    StreamsView* streamsView = nullptr;
    QTimer* healthTimer = nullptr;
    bool receivingNow = false;
    QList<QPointer<QGroupBox>> pageBoxes;
    QPointer<QTabWidget> pageTabs;
    QList<QPointer<QWidget>> dialogs;
    mutable QMap<int, std::shared_ptr<Savable>> sequenceSettings;
    std::unique_ptr<Savable> globalSequence;
};
