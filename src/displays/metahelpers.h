#pragma once
// LvMetaHelpers: the metadata record of a line display (LineViewPlugin::MetaHelpers): the data properties of the
// chain and what is derived from them for placing values (x from the index, y from the raw word).

#include "framework/gplugin.h"

#include <QString>

struct LvMetaHelpers
{
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
    /// Recomputes the derived fields from the properties.
    void update();
    /// Physical value of the value that starts at `words`: a 32-bit word, or with two words per value a 48-bit
    /// signed integer (low 32 bits in the first word, the high 16 bits in the low half of the second).
    double int2Y(const int* words) const
    {
        double raw;
        if (wordsPerValue == 2) {
            const qint64 v = (qint64(qint16(words[1] & 0xffff)) * 4294967296LL) + qint64(quint32(words[0]));
            raw = double(v);
        } else {
            raw = words[0];
        }
        return (raw - yOffset) * yScale;
    }
    /// x of value index i. With order (and not `plain`) the position within its line, reversed on the reversed
    /// lines; `first`/`last` tell whether it starts or ends a curve. Otherwise x grows with i, and a `limit`
    /// (sweep end) makes a point beyond it start a new curve.
    double idx2X(int i, bool plain, double limit, bool* first, bool* last) const;
};
