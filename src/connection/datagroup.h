#pragma once
// DataGroup: the host's description of a group of server channels. The host keeps a QMap<int, DataGroup> keyed by
// group number and shares it (read only) with the view manager, the channels, the pages and the snapshot requesters.

#include <QString>
#include <QtGlobal>

struct DataGroup
{
    /// One served entry of a snapshot requester: a group and a fragment of it (a channel number, or -1 for all).
    struct FragDGroupId
    {
        int group = -1;
        int fragment = -1;
        bool operator==(const FragDGroupId& other) const { return group == other.group && fragment == other.fragment; }
    };

    QString label;       // the host's identifier of the group; not read by the library
    QString description; // the host's longer text; not read by the library
    QString name;        // shown in channel descriptions
    QString tag;         // first part of snapshot file names of pages that show the group
    int groupNumber = 0;
    int trigger = 0;                    // GPlugin::DataTrigger delivered for the group metadata
    bool storeRaw = true;               // the group's raw frames are kept and take part in snapshots
    bool logContinuous = false;         // permanent stores also start the continuous CSV log of the channels
    bool storeLocalDefault = false;     // default of SnapshotMgr::flagStoreLocal
    bool storeRetriggerDefault = false; // default of SnapshotMgr::flagStoreRetrigger
    bool anyPage = false;               // snapshot managers are selected without matching page and channel
    quint8 groupSelectMode = 0;         // channel select mode of a page that follows the group; non-zero shows it
    bool showSource = false;
    bool showAverage = false;
    bool sampleTime = false; // the group has a sample time (descriptions show the period)
    bool disabled = false;
    bool showNumber = true; // parts of a channel description
    bool showName = true;
    bool showSignal = false;
    bool showGroup = true;
    bool inactive = false; // the group is switched off
    QString comment;       // not read by the library
    int userData = 0;      // copied with the group, not read
};
