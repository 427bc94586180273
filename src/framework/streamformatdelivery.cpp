// The calls of StreamFormat into the chain. They live in the view library: the utility library, which holds the rest
// of StreamFormat for the frame buffers and the simulator, must not depend on the plug-in class.
#include "framework/gplugin.h"
#include "framework/streamformat.h"

void StreamFormat::deliver(GPlugin* plugin, Property p, int v)
{
    if (!plugin)
        return;
    switch (p) {
    case Order:
        plugin->setDataOrder(GPlugin::DataOrder(v));
        break;
    case Encoding:
        plugin->setDataEncoding(GPlugin::DataEncoding(v));
        break;
    case Binning:
        plugin->setDataBinning(v);
        break;
    case RangeX:
        plugin->setDataRangeX(v);
        break;
    case RangeY:
        plugin->setDataRangeY(v);
        break;
    case RangeZ:
        plugin->setDataRangeZ(v);
        break;
    case OffsetX:
        plugin->setDataOffsetX(v);
        break;
    case OffsetY:
        plugin->setDataOffsetY(v);
        break;
    case OffsetZ:
        plugin->setDataOffsetZ(v);
        break;
    case OffsetVal:
        plugin->setDataOffsetVal(v);
        break;
    case PhysX:
        plugin->setDataPhysX(v);
        break;
    case PhysY:
        plugin->setDataPhysY(v);
        break;
    case PhysZ:
        plugin->setDataPhysZ(v);
        break;
    case PhysVal:
        plugin->setDataPhysVal(v);
        break;
    case PhysValNumerator:
        plugin->setDataPhysValNumerator(v);
        break;
    case Trigger:
        plugin->setDataTrigger(GPlugin::DataTrigger(v));
        break;
    case Rotation:
        plugin->setDataRotation(v);
        break;
    case UnitX:
        plugin->setDataUnitX(v);
        break;
    case UnitZ:
        plugin->setDataUnitZ(v);
        break;
    case UnitVal:
        plugin->setDataUnitVal(v);
        break;
    case FixXY:
        plugin->setFixXY(v != 0);
        break;
    case ScanSpeed:
        plugin->setDataScanSpeed(v);
        break;
    case PropertyCount:
        break;
    }
}

void StreamFormat::deliverTo(GPlugin* plugin) const
{
    if (!plugin)
        return;
    for (Property p : codeOrder())
        if (valid[p])
            deliver(plugin, p, values[p]);
}
