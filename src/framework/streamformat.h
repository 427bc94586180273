#pragma once
// StreamFormat: the one description of a data stream. It holds every data property of the chain (the 22 setters of
// GPlugin) with a "set" flag each, and owns the one table that maps each property to its metadata code (as the
// server sends it), to its record type (as recordings store it), to its name and to its setter. Channels, frame
// buffers, display helpers, recorders, histograms and the simulator keep their stream description in one of these
// instead of modelling the properties again.
//
// It also owns the layout of encoding 6: a signed 48-bit value carried in two words of 24 bits, low word first.

#include "framework/gplugin.h"

#include <QtGlobal>
#include <array>

class StreamFormat
{
public:
    /// The data properties, in the slot order of GPlugin's setters.
    enum Property : int {
        Order,
        Encoding,
        Binning,
        RangeX,
        RangeY,
        RangeZ,
        OffsetX,
        OffsetY,
        OffsetZ,
        OffsetVal,
        PhysX,
        PhysY,
        PhysZ,
        PhysVal,
        PhysValNumerator,
        Trigger,
        Rotation,
        UnitX,
        UnitZ,
        UnitVal,
        FixXY,
        ScanSpeed,
        PropertyCount
    };

    /// Metadata codes that carry no property.
    static constexpr int metaInit = 0x2100;  // non-zero value: init() on the chain
    static constexpr int metaGroup = 0x2009; // the data group whose trigger the stream has (a channel maps it)

    /// Record types of recordings that carry no property (the others are in the property table).
    enum RecordType : int { RecData = 0, RecIndex = 1, RecInit = 2, RecTimestamp = 18, RecordTypeCount = 23 };

    struct PropertyInfo
    {
        Property property;
        const char* setter;  // "setDataRangeX"
        int metaCode;        // metadata code of the server, 0 when none
        int recordType;      // record type of recordings, -1 when none
        const char* recName; // record name of text recordings ("RangeX"), null when none
    };

    /// The table, indexed by Property.
    static const PropertyInfo& info(Property p);
    /// The metadata code of `p` (info(p).metaCode).
    static int metaCode(Property p) { return info(p).metaCode; }
    /// Property of a metadata code. The trigger's code (0x2009) carries a group number, not a trigger: it maps to
    /// Trigger, and the caller translates the value. False for codes without a property (0x2100 included).
    static bool fromMetaCode(int code, Property* p);
    /// Property of a record type; false for 0, 1, 2, 18 and values outside 0…22.
    static bool fromRecordType(int type, Property* p);
    /// Name of a record type ("Data", "RangeX", …) or "-invalid-".
    static const char* recordTypeName(int type);
    /// Calls the setter of `p` on `plugin` with `value` (enumerations cast, FixXY as value != 0).
    static void deliver(GPlugin* plugin, Property p, int value);
    /// The properties in ascending metadata-code order (the order of deliverTo and of a channel's replay).
    static const std::array<Property, PropertyCount>& codeOrder();

    StreamFormat() = default;

    bool isSet(Property p) const { return valid[p]; }
    /// The value of `p`, or `dflt` when it is not set.
    int value(Property p, int dflt = 0) const { return valid[p] ? values[p] : dflt; }
    /// Sets `p`; returns true when the value or the set flag changed.
    bool set(Property p, int v);
    void unset(Property p)
    {
        valid[p] = false;
        values[p] = 0;
    }
    void clear();
    bool isEmpty() const;

    /// Applies a metadata telegram. Returns true when `code` names a property (see fromMetaCode for 0x2009).
    bool apply(int code, int v);

    /// Calls the setter of every set property on `plugin`, in ascending metadata-code order (the order in which a
    /// channel replays its stored metadata; properties without a code follow in slot order).
    void deliverTo(GPlugin* plugin) const;

    bool operator==(const StreamFormat& o) const { return valid == o.valid && values == o.values; }
    bool operator!=(const StreamFormat& o) const { return !(*this == o); }

    // Typed reads of the common properties.
    GPlugin::DataOrder order() const { return GPlugin::DataOrder(value(Order)); }
    GPlugin::DataEncoding encoding() const { return GPlugin::DataEncoding(value(Encoding)); }
    GPlugin::DataTrigger trigger() const { return GPlugin::DataTrigger(value(Trigger)); }
    int rangeX() const { return value(RangeX); }
    int rangeY() const { return value(RangeY); }

    /// Encoding 6: two words of 24 payload bits each, low word first; bits 24…31 of both words are not part of the
    /// value (the high word may carry a marker or the sign there). The value is sign-extended from bit 47.
    static qint64 decode48(quint32 low, quint32 high)
    {
        const quint64 raw = (quint64(high & 0xFFFFFFu) << 24) | quint64(low & 0xFFFFFFu);
        return qint64(raw << 16) >> 16;
    }
    /// The pair of words of a 48-bit value (its low 48 bits): the low word's top byte is 0, the high word carries
    /// the sign in its top byte (0x00 or 0xFF).
    static void encode48(qint64 v, quint32* low, quint32* high)
    {
        *low = quint32(v) & 0xFFFFFFu;
        *high = (quint32(v >> 24) & 0xFFFFFFu) | (v < 0 ? 0xFF000000u : 0u);
    }

private:
    std::array<int, PropertyCount> values{};
    std::array<bool, PropertyCount> valid{};
};
