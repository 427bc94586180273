#pragma once
// ViewPage: one frame of the host's window showing the plug-in chain fed by one data channel.
//
// The page builds its chain from catalogue names and options, lays out the plug-ins' widgets, relays their
// selection, telegram, status and partner signals, offers a channel selector with descriptions and three host
// controls, and carries the snapshot buttons that drive its SnapshotRequester. The chosen channel is persisted as
// "ChannelNumber".

#include "framework/gplugin.h"
#include "utilif/savable.h"

#include <QFrame>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

class QBoxLayout;
class QCloseEvent;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class Channel;
class SnapshotRequester;
struct DataGroup;

class ViewPage : public QFrame
{
    Q_OBJECT
public:
    /// 0 no selector; 2 all enabled channels; any other value the channels of the page's data group;
    /// 3 takes the mode from the current channel's group.
    typedef int ChannelSelectMode;
    enum { selectNone = 0, selectGroup = 1, selectAll = 2, selectByGroup = 3 };

    ViewPage(QWidget* parent, QString name, const QMap<int, DataGroup>& groups, bool leftAligned);
    ~ViewPage() override;

    /// The catalogue of plug-in types, in catalogue order.
    static QList<const GPlugin::PluginDescriptor*>* getPluginTypes();

    /// Builds a plug-in of catalogue type `type`, applies the options and appends it to the chain; null if unknown.
    GPlugin* addPlugin(QString type, QString name, QStringList keys, QStringList values);
    /// Appends an existing plug-in to the chain (the page takes ownership through the chain).
    void addReceiver(GPlugin* plugin);
    QStringList getPlugins() const;
    int getStretch() const;
    /// Head of the chain (null while empty).
    GPlugin* getReceiver() const { return receiver; }
    /// The current channel number as persisted in "ChannelNumber"; -1 for none.
    int getChannelNo() const;
    const Savable& getChannelSetting() const { return channelSetting; }
    SnapshotRequester* getRequester() const { return requester; }
    QString getName() const { return pageName; }

    void setChannelList(const QVector<Channel*>& channels);
    void setChannelNo(int n);
    void setDataGroup(int group);
    void setSelectMode(ViewPage::ChannelSelectMode mode);
    void showSnapshotButtons(bool show);
    void showChannelControls(bool source, bool sampleTime, bool average);
    void setChannelControlWidgets(QWidget* source, QWidget* sampleTime, QWidget* average);
    Channel* findChannelObject(int n) const;
    /// The current channel's group (or the page's group, see implementation); null if the map has no entry.
    const DataGroup* findDataGroup(bool preferPage) const;
    ViewPage::ChannelSelectMode getEffectiveSelectMode() const;
    QString makeChannelDescr(const Channel* channel) const;
    static QString buildChannelDescriptor(const DataGroup* group, int channelNo, QString channelName, int period,
                                          int signalNo, QString signalList);
    void updateSnapshotMgrs();
    void rebuildCombobox();

public slots:
    void setSignalList(QString list);
    void updateDisplay();
    void replayLastFrame();
    void changeChannel(bool byUser = false);
    void changeSetting(QString name, QString value);
    void channelDialog();

signals:
    void pointSelected(Int32 point, Int32 targetAddr, Int32 targetIdx);
    void rangeSelected(QRect range, GPlugin::DataTrigger origin);
    void angleSelected(Int32 angle);
    void pathSelected(PathList path, GPlugin::DataTrigger origin);
    void gridSelected(PathList rect, Int32 pointsX, Int32 pointsY, GPlugin::DataTrigger origin);
    void genericTel(void* tel);
    void statusChanged(QString text, int displayTime, int severity);
    void closing();
    void searchPluginIn(QString name, GPlugin* ptr);
    void searchPluginOut(QString name, GPlugin* ptr);
    void channelChange(int channel);
    void channelDialogRequestByDGroup(int dGroup);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    /// Reports an option that ran out of memory (it is left out).
    void optionFailed(const QString& pluginName, const QString& key, const QString& value);
    void moveToChannel(int n);
    void leaveChannel();
    Channel* currentChannel() const;
    int channelGroupNumber(const Channel* channel) const;
    bool groupUsable(const DataGroup* group) const;

    QBoxLayout* pluginLayout = nullptr;
    QBoxLayout* outerLayout = nullptr;
    QHBoxLayout* controlLayout = nullptr;
    QComboBox* channelCombo = nullptr;
    QWidget* hostControls[3] = {nullptr, nullptr, nullptr};
    QPushButton* storeNowButton = nullptr;
    QPushButton* storeNextButton = nullptr;
    QPushButton* storeAlwaysButton = nullptr;
    QPushButton* configButton = nullptr;
    QFrame* controlFrame = nullptr;
    QLabel* nameLabel = nullptr;
    GPlugin* receiver = nullptr;
    SnapshotRequester* requester = nullptr;
    const QMap<int, DataGroup>* groups;
    QString signalList;
    int pageGroup = -1;
    int resolvedGroup = -1;
    Savable channelSetting;
    int wantedChannel = -1;
    int controlFlags = 1;
    bool snapshotButtonsShown = true;
    ViewPage::ChannelSelectMode selectMode = selectByGroup;
    QVector<Channel*> channelList;
    QVector<int> comboIndex;
    QString pageName;
    QPointer<Channel> joined; // the channel this page was added to; guards against a deleted manager
};
