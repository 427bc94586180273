#pragma once
// WaterfallSnBuffer: a frame display's data copy for one snapshot: the metadata, both scan directions' values and
// valid bytes (forward frame first), and the pictures of both directions.

#include "displays/waterfallplugin.h"
#include "snapshot/snapshotprovider.h"

#include <QImage>
#include <QString>
#include <vector>

class WaterfallSnBuffer : public SnapshotBuffer
{
public:
    WaterfallPlugin::WaterfallMeta meta;
    QString viewName;
    int width = 0; // frame size of the copied values
    int height = 0;
    bool hasFwd = false;
    bool hasBwd = false;
    std::vector<int> values; // forward frame, then backward frame; empty when not copied
    std::vector<char> valid; // same layout
    QImage fwdImage;
    QImage bwdImage;
    bool ascMatrix = false; // the host's ASC layout when the store was requested
};
