#pragma once
// SnapshotRequester: turns a page's snapshot buttons (store now, next time complete, always) into armed actions in
// the snapshot managers that serve the page's data groups, and carries the sequence number of the file names.
// A requester without a page is the host's global requester.

#include "connection/datagroup.h"
#include "snapshot/snapshotmgr.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

class ViewPage;

class SnapshotRequester : public QObject
{
    Q_OBJECT
public:
    typedef int RequestMode;
    enum { reqImmediate = 0, reqDelayed = 1, reqPermanent = 2, reqPermanentPlain = 3, reqStop = 4 };

    SnapshotRequester(QString tag, const QMap<int, DataGroup>& groups, const ViewPage* page, QObject* parent);
    /// Disarms this requester's actions in every manager.
    ~SnapshotRequester() override;

    void setTag(const QString& text) { tag = text; }
    QString getTag() const { return tag; }
    bool isGlobal() const { return global; }
    bool isScan() const { return scan; }
    int getSequenceNumber() const { return sequence; }
    const ViewPage* getPage() const { return page; }
    const QList<DataGroup::FragDGroupId>& getGroups() const { return groups; }
    /// Serve exactly one group (all its channels).
    void setDataGroup(int group);
    /// Serve a list of groups and fragments.
    void setDataGroups(const QList<DataGroup::FragDGroupId>& list) { groups = list; }
    void setSequenceNumber(int number);
    /// Called by a manager after it fired an action with `usedNumber`; returns the number for the next store.
    int updateSequenceNumber(int usedNumber);
    void request(RequestMode mode);
    void requestSingle(SnapshotMgr* mgr, const DataGroup& group, RequestMode mode, int channel);

    static QList<SnapshotRequester*> _objectList;

public slots:
    void requestImmediate();
    void requestDelayed();
    void requestPerm(bool on);

signals:
    void seqNumberChanged(int seqNo);
    /// The host answers synchronously by writing the number to use through `usedNo`.
    void reqSeqNumberUpdate(int dGroup, int* usedNo);

private:
    struct MgrNode
    {
        QPointer<SnapshotMgr> mgr; // a store may delete managers while the list is worked off
        DataGroup group;
    };
    void resetSequenceNumber(int group);
    /// The page's channel setting, -1 when there is no page.
    int pageChannel() const;

    QString tag;
    bool global;
    bool scan = false;
    int sequence = 0;
    const ViewPage* page;
    QList<DataGroup::FragDGroupId> groups;
    const QMap<int, DataGroup>* groupMap;
};
