#include "snapshot/snapshotrequester.h"

#include "connection/viewpage.h"

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
    if (global) {
        if (sequence <= usedNumber) {
            sequence = usedNumber + 1;
            emit seqNumberChanged(sequence);
        }
        return sequence;
    }
    int number = usedNumber;
    emit reqSeqNumberUpdate(groups.isEmpty() ? -1 : groups.first().group, &number);
    sequence = number;
    return sequence;
}

void SnapshotRequester::resetSequenceNumber(int group)
{
    // Without a host to answer, the number would stay -1 for every store: keep counting instead.
    if (receivers(SIGNAL(reqSeqNumberUpdate(int, int*))) == 0)
        return;
    sequence = -1;
    emit reqSeqNumberUpdate(group, &sequence);
}

int SnapshotRequester::pageChannel() const
{
    return page ? page->getChannelNo() : -1;
}

void SnapshotRequester::request(RequestMode mode)
{
    QList<MgrNode> work;
    int channelParam = -1;
    const int ownChannel = pageChannel();
    for (const DataGroup::FragDGroupId& entry : groups) {
        const auto it = groupMap->constFind(entry.group);
        if (it == groupMap->constEnd())
            continue;
        const DataGroup& group = *it;
        for (SnapshotMgr* m : SnapshotMgr::_snapshotList) {
            const int rootGroup = m->getDataGroup();
            const bool unassigned = rootGroup < 0 && !m->getDisplay();
            if (rootGroup != entry.group && !unassigned)
                continue;
            if (!group.anyPage && page && !unassigned && ownChannel != m->getInputChannel())
                continue;
            if (entry.fragment >= 0 && entry.fragment != m->getInputChannel())
                continue;
            if (!group.anyPage && page && m->getChannel() < 0 && m->getDisplay() && m->getDisplay() != page)
                continue;
            work.append(MgrNode{m, group});
            if (m->getChannel() >= 0 && group.storeRaw && channelParam == -1)
                channelParam = m->getChannel();
        }
    }
    for (const MgrNode& node : work)
        if (node.mgr)
            requestSingle(node.mgr, node.group, mode, channelParam);
    if (mode == reqImmediate)
        SnapshotMgr::executeTriggerGlobally(SnapshotMgr::trgImmediate, -1);
    if (mode == reqDelayed || mode == reqPermanent)
        for (const MgrNode& node : work)
            if (node.mgr)
                node.mgr->provokeTrigger();
}

void SnapshotRequester::requestSingle(SnapshotMgr* m, const DataGroup& group, RequestMode mode, int channel)
{
    const bool pageBound = m->getChannel() < 0 && m->getDisplay();
    const bool channelMgr = m->getChannel() >= 0 && !m->getDisplay();
    const int localFlag = m->getFlag(SnapshotMgr::flagStoreLocal);
    const int retriggerFlag = m->getFlag(SnapshotMgr::flagStoreRetrigger);
    const bool storeLocal = localFlag >= 0 ? localFlag != 0 : group.storeLocalDefault;
    const bool storeRetrigger = retriggerFlag >= 0 ? retriggerFlag != 0 : group.storeRetriggerDefault;
    const bool permanent = mode == reqPermanent || mode == reqPermanentPlain;
    auto clearAll = [&] {
        m->clearTriggerReaction(this, SnapshotMgr::trgNone, SnapshotMgr::actStoreAlways);
        m->clearTriggerReaction(this, SnapshotMgr::trgNone, SnapshotMgr::actArmAlways);
        m->clearTriggerReaction(this, SnapshotMgr::trgNone, SnapshotMgr::actStoreOnce);
    };
    bool rearm;
    bool arm = true;
    if (storeLocal && !storeRetrigger && pageBound) {
        rearm = true;
        if (mode == reqStop) {
            clearAll();
            arm = false;
        } else if (!global)
            resetSequenceNumber(group.groupNumber);
    } else {
        rearm = !page && scan;
        if (mode == reqStop) {
            if (group.storeRaw || pageBound)
                clearAll();
            arm = false;
        } else {
            if (!global)
                resetSequenceNumber(group.groupNumber);
            if (!group.storeRaw && !pageBound) {
                if (!permanent)
                    return;
                arm = false;
            }
        }
    }
    if (arm) {
        if (mode == reqImmediate) {
            m->setTriggerReaction(SnapshotMgr::trgImmediate, SnapshotMgr::actStoreOnce, this, tag, sequence);
            return;
        }
        int trigger;
        if (storeLocal && pageBound)
            trigger = SnapshotMgr::trgDisplayComplete;
        else
            trigger = SnapshotMgr::triggerKey(SnapshotMgr::trgChannelComplete,
                                              (channelMgr || pageBound) ? m->getInputChannel() : channel);
        if (mode == reqPermanent && rearm) {
            m->setTriggerReaction(trigger, SnapshotMgr::actStoreOnce, this, tag, sequence);
            m->setTriggerReaction(SnapshotMgr::trgExternal, SnapshotMgr::actArmAlways, this, tag, sequence + 1,
                                  trigger);
        } else
            m->setTriggerReaction(trigger, mode == reqDelayed ? SnapshotMgr::actStoreOnce : SnapshotMgr::actStoreAlways,
                                  this, tag, sequence);
        if (mode == reqDelayed)
            return;
    }
    if (group.logContinuous && channelMgr)
        m->startContinousStore(permanent, tag, sequence);
}

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
