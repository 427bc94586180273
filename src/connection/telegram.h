#pragma once
// The telegram protocol between the library and the acquisition server.
//
// A telegram is a run of little-endian 32-bit words: the length (bytes after the length word), kind, address,
// index, a reserved word, then the value or the data words; a configuration reply carries its value in word 6.
// Header-only so that the server simulator speaks the same constants without linking the library.

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>
#include <cstring>

namespace Telegram {

enum Kind : qint32 { KindSelection = 0, KindRead = 1, KindData = 2, KindReply = 3, KindControl = 6 };

enum Address : qint32 {
    // Control (kind 6)
    CtlStart = 0x1200,     // value -1: start sending
    CtlStop = 0x1201,      // value -1: stop sending
    CtlSubscribe = 0x1202, // value: channel number
    CtlLossless = 0x1204,  // value: 0 or 1
    // Channel configuration (read with kind 1, answered with kind 3)
    CfgSignal = 49,
    CfgPeriod = 50,
    CfgExtra = 51,
    CfgGroup = 59,
    // Selections (kind 0)
    SelCentreLine = 0x10,
    SelAngle = 0x18,
    SelSpecStart = 0x250,
    SelSpecEnd = 0x251,
    SelPathStart = 0x264,
    SelGridX = 0x26D,
    SelGridY = 0x26E,
    SelOffsetPos = 0x285,
    SelOffsetNeg = 0x286,
    SelCentreX = 0x2CD,
    SelCentreY = 0x2CE,
    SelWidth = 0x1000,
    SelHeight = 0x1001,
    SelPointX = 0x1300,
    SelPointY = 0x1301,
    SelPathEnd = 0x1304,
    // Received streams
    DataBase = 0xF00,  // data of channel n: DataBase + n
    MetaFirst = 0x2000,
    MetaInit = 0x2100, // last metadata code
};

constexpr int LengthBytes = 4;  // the length word itself
constexpr int HeaderBytes = 16; // kind, address, index, reserved: the least a telegram carries after its length
constexpr int ValueOffset = 20; // byte offset of the value / first data word
constexpr int ReplyOffset = 24; // byte offset of a configuration reply's value
constexpr int MaxReplayBlock = 1019; // words per data telegram of a replay (and of the simulator's blocks)

inline qint32 word(const char* p, int i)
{
    return qFromLittleEndian<qint32>(p + 4 * i);
}

inline void putWord(char* p, int i, qint32 v)
{
    qToLittleEndian<qint32>(v, p + 4 * i);
}

/// A telegram without data: 16 bytes after the length word, or 20 with `value`.
inline QByteArray make(qint32 kind, qint32 address, qint32 index, const qint32* value)
{
    char p[24] = {};
    putWord(p, 0, value ? 20 : 16);
    putWord(p, 1, kind);
    putWord(p, 2, address);
    putWord(p, 3, index);
    putWord(p, 4, 0);
    if (value)
        putWord(p, 5, *value);
    return QByteArray(p, value ? 24 : 20);
}

/// Appends a data telegram of `count` words to `out` (the words are written little-endian).
inline void appendData(QByteArray& out, int channel, qint32 index, const qint32* data, int count)
{
    const int at = out.size();
    out.resize(at + ValueOffset + 4 * count);
    char* p = out.data() + at;
    putWord(p, 0, HeaderBytes + 4 * count);
    putWord(p, 1, KindData);
    putWord(p, 2, DataBase + channel);
    putWord(p, 3, index);
    putWord(p, 4, 0);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    std::memcpy(p + ValueOffset, data, size_t(count) * 4);
#else
    for (int i = 0; i < count; ++i)
        putWord(p, 5 + i, data[i]);
#endif
}

} // namespace Telegram
