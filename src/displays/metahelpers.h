#pragma once
// LvMetaHelpers: the metadata record of a line display (LineViewPlugin::MetaHelpers): the data properties of the
// chain, kept in a StreamFormat, and what is derived from them for placing values (x from the index, y from the raw
// word).

#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QString>

struct LvMetaHelpers
{
    /// The accepted properties; a property not set here has the default below.
    StreamFormat format;

    // The properties in use (the accepted value or the display's default), copied from `format` by accept().
    GPlugin::DataOrder order = GPlugin::linear;
    GPlugin::DataTrigger trigger = GPlugin::noTrigger;
    int encoding = 0;
    int offsetX = 0;
    int rangeX = 2;
    int physX = 1;
    int offsetVal = 0;
    int physVal = 1;
    int physValNumerator = 1;
    int unitX = 0x80;
    int unitVal = 0x80;

    // Derived by update().
    bool hasOrder = false;
    bool reverseOdd = false;
    bool reverseEven = false;
    double x0 = 0;
    double dx = 1;
    double yOffset = 0;
    double yScale = 1;
    int pointsPerLine = 2;
    int pointsPerCurve = 2;
    QString unitXText = QStringLiteral("+");
    QString unitValText = QStringLiteral("+");
    int encType = 0;
    int channelMask = 1;
    int channels = 1;
    int wordsPerValue = 1;
    int lastIndex = 0; // end index of the previous block (order `triggered`)

    LvMetaHelpers() { update(); }
    /// Takes a property value that arrived from upstream, unless the display cannot use it (a line length below 1,
    /// a physical x extent below 2, the unit code 0x80 for x, a value resolution or numerator of 0; a line length
    /// of 1 counts as 2). Returns true when the value in use changed; the derived fields follow with update().
    bool accept(StreamFormat::Property p, int value);
    /// The value in use of `p`: the accepted one or the display's default.
    int valueInUse(StreamFormat::Property p) const;
    /// Recomputes the derived fields from the properties.
    void update();
    /// Physical value of the value that starts at `words`: a 32-bit word, or with two words per value (encoding 6)
    /// a signed 48-bit value (StreamFormat::decode48).
    double int2Y(const int* words) const
    {
        const double raw =
            wordsPerValue == 2 ? double(StreamFormat::decode48(quint32(words[0]), quint32(words[1]))) : words[0];
        return (raw - yOffset) * yScale;
    }
    /// x of value index i. With order (and not `plain`) the position within its line, reversed on the reversed
    /// lines; `first`/`last` tell whether it starts or ends a curve. Otherwise x grows with i, and a `limit`
    /// (sweep end) makes a point beyond it start a new curve.
    double idx2X(int i, bool plain, double limit, bool* first, bool* last) const;
};
