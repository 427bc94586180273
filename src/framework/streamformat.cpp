#include "framework/streamformat.h"

#include <algorithm>

namespace {

// The one table of the data properties: slot order, metadata code of the server, record type of recordings.
const StreamFormat::PropertyInfo propertyTable[StreamFormat::PropertyCount] = {
    {StreamFormat::Order, "setDataOrder", 0x2001, 3, "Order"},
    {StreamFormat::Encoding, "setDataEncoding", 0x2010, 4, "Encoding"},
    {StreamFormat::Binning, "setDataBinning", 0x2011, 5, "Binning"},
    {StreamFormat::RangeX, "setDataRangeX", 0x2002, 6, "RangeX"},
    {StreamFormat::RangeY, "setDataRangeY", 0x2003, 7, "RangeY"},
    {StreamFormat::RangeZ, "setDataRangeZ", 0x2017, 22, "RangeZ"},
    {StreamFormat::OffsetX, "setDataOffsetX", 0x2006, 8, "OffsetX"},
    {StreamFormat::OffsetY, "setDataOffsetY", 0x2007, 9, "OffsetY"},
    {StreamFormat::OffsetZ, "setDataOffsetZ", 0x2019, 20, "OffsetZ"},
    {StreamFormat::OffsetVal, "setDataOffsetVal", 0x2014, 10, "OffsetV"},
    {StreamFormat::PhysX, "setDataPhysX", 0x2004, 11, "PhysX"},
    {StreamFormat::PhysY, "setDataPhysY", 0x2005, 12, "PhysY"},
    {StreamFormat::PhysZ, "setDataPhysZ", 0x2018, 19, "PhysZ"},
    {StreamFormat::PhysVal, "setDataPhysVal", 0x200A, 13, "Physval"},
    {StreamFormat::PhysValNumerator, "setDataPhysValNumerator", 0x200C, -1, nullptr},
    {StreamFormat::Trigger, "setDataTrigger", StreamFormat::metaGroup, 14, "Trigger"},
    {StreamFormat::Rotation, "setDataRotation", 0x2008, 15, "Rotation"},
    {StreamFormat::UnitX, "setDataUnitX", 0x2012, 16, "UnitX"},
    {StreamFormat::UnitZ, "setDataUnitZ", 0x2020, 21, "UnitZ"},
    {StreamFormat::UnitVal, "setDataUnitVal", 0x2013, 17, "UnitVal"},
    {StreamFormat::FixXY, "setFixXY", 0x2015, -1, nullptr},
    {StreamFormat::ScanSpeed, "setDataScanSpeed", 0x2016, -1, nullptr},
};

} // namespace

// Properties in ascending metadata-code order (the channel's replay order); computed once from the table.
const std::array<StreamFormat::Property, StreamFormat::PropertyCount>& StreamFormat::codeOrder()
{
    static const auto order = [] {
        std::array<StreamFormat::Property, StreamFormat::PropertyCount> o{};
        for (int i = 0; i < StreamFormat::PropertyCount; ++i)
            o[i] = StreamFormat::Property(i);
        std::stable_sort(o.begin(), o.end(), [](StreamFormat::Property a, StreamFormat::Property b) {
            return propertyTable[a].metaCode < propertyTable[b].metaCode;
        });
        return o;
    }();
    return order;
}

const StreamFormat::PropertyInfo& StreamFormat::info(Property p)
{
    Q_ASSERT(p >= 0 && p < PropertyCount);
    return propertyTable[p];
}

bool StreamFormat::fromMetaCode(int code, Property* p)
{
    for (const PropertyInfo& i : propertyTable)
        if (i.metaCode == code) {
            if (p)
                *p = i.property;
            return true;
        }
    return false;
}

bool StreamFormat::fromRecordType(int type, Property* p)
{
    if (type < 0)
        return false;
    for (const PropertyInfo& i : propertyTable)
        if (i.recordType == type) {
            if (p)
                *p = i.property;
            return true;
        }
    return false;
}

const char* StreamFormat::recordTypeName(int type)
{
    switch (type) {
    case RecData:
        return "Data";
    case RecIndex:
        return "Index";
    case RecInit:
        return "Init";
    case RecTimestamp:
        return "Timestamp";
    default:
        break;
    }
    Property p;
    if (fromRecordType(type, &p))
        return propertyTable[p].recName;
    return "-invalid-";
}

bool StreamFormat::set(Property p, int v)
{
    if (p < 0 || p >= PropertyCount)
        return false;
    const bool changed = !valid[p] || values[p] != v;
    valid[p] = true;
    values[p] = v;
    return changed;
}

void StreamFormat::clear()
{
    values.fill(0);
    valid.fill(false);
}

bool StreamFormat::isEmpty() const
{
    return std::none_of(valid.begin(), valid.end(), [](bool b) { return b; });
}

bool StreamFormat::apply(int code, int v)
{
    Property p;
    if (!fromMetaCode(code, &p))
        return false;
    set(p, v);
    return true;
}
