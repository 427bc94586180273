#pragma once
// SnapshotMgr: stores the data of one SnapshotProvider to files. It keeps the armed actions (store now, on a
// second trigger, once or always), the persisted snapshot name and file types with their controls and indicator
// icons, and the file-name scheme shared by all snapshot files. All managers are listed in _snapshotList so that a
// trigger can be fired in all of them at once.

#include "framework/gplugin.h"
#include "utilif/savable.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QWidget;
class SnapshotProvider;
class SnapshotRequester;
class SnapshotThread;
class ViewPage;

class SnapshotMgr : public QObject
{
    Q_OBJECT
public:
    typedef int StoreTrigger;
    enum { trgImmediate = 0, trgChannelComplete = 1, trgDisplayComplete = 2, trgExternal = 3, trgNone = 4 };
    typedef int StoreAction;
    enum { actStoreOnce = 0, actStoreAlways = 1, actArmOnce = 2, actArmAlways = 3, actAny = 4 };
    typedef int SnapshotFlag;
    enum { flagStoreLocal = 0, flagStoreRetrigger = 1 };
    enum SnapshotType {
        typeGraphics = 0x01,
        typeAsciiRaw = 0x02,
        typeBinaryRaw = 0x04,
        typeCsvDisplayed = 0x08,
        typeContinuous = 0x10
    };

    /// One armed action.
    struct ActionDescriptor
    {
        StoreTrigger trigger = trgNone;          // trigger key that fires it
        StoreTrigger secondaryTrigger = trgNone; // key of the deferred store of actArmOnce/actArmAlways
        StoreAction action = actStoreOnce;
        QString directory;
        QString fullName;
        QString tag;
        int sequence = 0;
        int types = 0;
        SnapshotRequester* requester = nullptr;
    };

    SnapshotMgr(QString name, const GPlugin::PrefData* prefs, SnapshotProvider* provider, int channel, QObject* parent);
    /// Waits for the manager's running background stores: they report to it and call its provider.
    ~SnapshotMgr() override;

    void setDisplay(ViewPage* page) { display = page; }
    ViewPage* getDisplay() const { return display; }
    /// A chained manager (a display's, fed by a channel) uses the types of its root, so its own are frozen.
    void setInput(SnapshotMgr* mgr);
    SnapshotMgr* getInput() const { return input; }
    void setFlag(SnapshotFlag flag, bool on);
    /// -1 (not set), 0 or 1.
    int getFlag(SnapshotFlag flag) const;
    int getChannel() const { return channel; }
    int getInputChannel() const;
    void setDataGroup(int group) { dataGroup = group; }
    int getDataGroup() const;
    int getRequestedTypes() const;
    QString getName() const { return nameSetting.value(); }
    /// The name given at construction (the settings group).
    QString getGroupName() const { return groupName; }
    QString getFullName() const;
    SnapshotProvider* getProvider() const { return provider; }
    const QList<ActionDescriptor>& getActions() const { return actions; }
    /// Key matched against armed actions: the trigger, or (parameter << 4) | trigger for a positive parameter.
    static int triggerKey(StoreTrigger trigger, int parameter);

    /// "<dir>/<tag>_<seq %03d>-<name>" with native separators (relative when the directory is empty).
    static QString makeBasename(QString directory, QString name, QString tag, int sequence);
    /// The first of base[-suffix][.ext], base[1]..., base[999]... that neither exists nor is claimed by a store
    /// still writing it, or "" when all are taken.
    static QString completeFilename(QString baseName, QString extension, QString suffix);
    /// As completeFilename, and claims the name for this process until releaseFilename, so that a concurrent store
    /// cannot choose the same one; "" when no name is free. The file is not created: its writer gives it its name
    /// only when it is whole.
    static QString reserveFilename(QString baseName, QString extension, QString suffix);
    static void releaseFilename(const QString& fileName);
    /// Stores that failed in this process so far (a host's exit code can tell). Counted on the GUI thread.
    static int failedStores() { return _failedStores; }

    void setTriggerReaction(StoreTrigger trigger, StoreAction action, SnapshotRequester* requester, QString tag,
                            int sequence, StoreTrigger secondaryTrigger = trgNone);
    void setSecondaryTriggerReaction(const ActionDescriptor& descriptor);
    void clearTriggerReaction(SnapshotRequester* requester, StoreTrigger trigger = trgNone,
                              StoreAction action = actAny);
    static void executeTriggerGlobally(StoreTrigger trigger, int parameter = -1);
    void provokeTrigger();
    bool makeSnapshot(const ActionDescriptor& descriptor);
    bool startContinousStore(bool start, QString tag, int sequence);
    bool checkSnapshotName();

    /// The five type check boxes (table order) and the name line edit; refreshed first. The caller lays them out.
    QWidget** getControls();
    QLabel* getIndicator(QWidget* parent);
    void setName(QString name);
    QString editName(QWidget* parent, QString prompt);
    void updateDisplay();

    /// Background stores are used when the switch is true; the host may point it at its own flag (null: default,
    /// true). Read at each store.
    static void setBackgroundSwitch(const bool* on);
    static bool backgroundStorage();
    /// Snapshot threads whose end has not been handled yet.
    int runningThreads() const { return threads.size(); }

    static QList<SnapshotMgr*> _snapshotList;

public slots:
    void executeTrigger(int trigger, int parameter = -1);
    void edited();
    void onIndicatorDelete(QObject* object);
    void changeSetting(QString key, QString value);

protected:
    void customEvent(QEvent* event) override;

private:
    const SnapshotMgr* root() const;
    void updateIndicators();
    QString snapshotDirectory() const;

    Savable nameSetting;
    Savable typesSetting;
    QString checkedName;
    bool nameValid = false;
    bool nameChecked = false;
    QString groupName;
    int dataGroup = -1;
    int storeLocal = -1;
    int storeRetrigger = -1;
    int channel;
    SnapshotMgr* input = nullptr;
    ViewPage* display = nullptr;
    const GPlugin::PrefData* prefs;
    SnapshotProvider* provider;
    QWidget* controls[6];
    QPointer<QWidget> ownedControls[6]; // deleted with the manager unless a layout took them
    QCheckBox* typeBoxes[5];
    QLineEdit* nameEdit;
    QList<QLabel*> indicators;
    QList<ActionDescriptor> actions;
    bool firing = false;
    QList<SnapshotThread*> threads; // owned until their end event is handled

    static const bool* _backgroundSwitch;
    static int _failedStores;
};
