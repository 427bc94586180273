#include "snapshot/snapshotrequester.h"

QList<SnapshotRequester*> SnapshotRequester::_objectList;

SnapshotRequester::SnapshotRequester(QString tag, const QMap<int, DataGroup>& groups, const ViewPage* page,
                                     QObject* parent)
    : QObject(parent), tag(std::move(tag)), global(page == nullptr), page(page), groupMap(&groups)
{
    for (const DataGroup& g : groups)
        if (g.name == QLatin1String("Scan"))
            scan = true;
    _objectList.append(this);
}

SnapshotRequester::~SnapshotRequester()
{
    for (SnapshotMgr* mgr : SnapshotMgr::_snapshotList)
        mgr->clearTriggerReaction(this, SnapshotMgr::trgNone, SnapshotMgr::actAny);
    _objectList.removeOne(this);
}

void SnapshotRequester::setDataGroup(int group)
{
    groups.clear();
    groups.append(DataGroup::FragDGroupId{group, -1});
}

void SnapshotRequester::setSequenceNumber(int number)
{
    if (number == sequence)
        return;
    sequence = number;
    if (global)
        emit seqNumberChanged(sequence);
}

int SnapshotRequester::updateSequenceNumber(int usedNumber)
{
    return usedNumber;
}

void SnapshotRequester::request(RequestMode) {}

void SnapshotRequester::requestSingle(SnapshotMgr*, const DataGroup&, RequestMode, int) {}

void SnapshotRequester::requestImmediate()
{
    request(reqImmediate);
}

void SnapshotRequester::requestDelayed()
{
    request(reqDelayed);
}

void SnapshotRequester::requestPerm(bool on)
{
    request(on ? reqPermanent : reqStop);
}

void SnapshotRequester::resetSequenceNumber(int) {}

int SnapshotRequester::pageChannel() const
{
    return -1;
}
