#pragma once
// The state of a time-tag decoder and the decoding loops themselves, inline, so that a consumer that needs every
// cycle (the histogram filter) can take the events straight from the words through a callback instead of through
// the queue. The queued calls of utilif/tdc56.h run the same loops on the same state; the layouts are documented
// there.

#include "utilif/tdc56.h"

#include <QtEndian>
#include <cstring>
#include <vector>

struct Tdc56State
{
    quint64 base = 0;      // high part of encodings 5 and 9
    quint64 last = 0;      // time of the previous event (encodings 5, 7, 9)
    quint64 epoch = 0;     // wraps of the 60-bit counter (encoding 7)
    bool haveBase = false; // encoding 9: a high word has been seen
    int tailKind = 0;      // encoding of the unfinished tail (7 or 10), 0 = none
    int tailLen = 0;       // bytes in `tail`
    uchar tail[10] = {};
    quint64 skipped = 0;
    std::vector<Tdc56Event> queue;
    size_t head = 0; // first queued event not yet popped
};

namespace tdc56detail {

constexpr quint64 mask60 = (quint64(1) << 60) - 1;
constexpr quint64 half60 = quint64(1) << 59;

/// Drops a tail that another encoding left.
inline void dropForeignTail(Tdc56State* h, int kind)
{
    if (h->tailKind != 0 && h->tailKind != kind) {
        h->skipped += h->tailKind == 7 ? 1 : quint64(h->tailLen);
        h->tailKind = 0;
        h->tailLen = 0;
    }
}

/// Encoding 7: one 64-bit record (bits 0-59 time, 60-63 channel field).
template <class F> inline void emit60(Tdc56State* h, quint64 rec, F& f)
{
    quint64 t = h->epoch + (rec & mask60);
    if (t < h->last && h->last - t > half60) {
        h->epoch += quint64(1) << 60;
        t += quint64(1) << 60;
    }
    h->last = t;
    f(qint64(t), int(rec >> 60) + 1);
}

/// Encoding 10: one 10-byte record in memory order.
template <class F> inline void emit60b(const uchar* p, F& f)
{
    const qint64 t = qFromLittleEndian<qint64>(p);
    const int ch = qFromLittleEndian<quint16>(p + 8);
    f(t, ch > 255 ? 255 : ch);
}

} // namespace tdc56detail

/// Encoding 5: calls f(qint64 time, int channel) for each event of the block.
template <class F> inline void tdc56DecodeEach(Tdc56State* h, const quint32* words, int count, F&& f)
{
    tdc56detail::dropForeignTail(h, 5);
    quint64 base = h->base;
    quint64 last = h->last;
    quint64 skipped = 0;
    for (int i = 0; i < count; ++i) {
        const quint32 w = words[i];
        if (w & 0x10000000u) {
            base = quint64(w & 0x0FFFFFFFu) << 28;
            continue;
        }
        if (base == 0) {
            ++skipped;
            continue;
        }
        quint64 t = base + (w & 0x0FFFFFFFu);
        if (t < last) {
            base += 0x10000000u;
            t += 0x10000000u;
        }
        last = t;
        f(qint64(t), int(w >> 29) + 1);
    }
    h->base = base;
    h->last = last;
    h->skipped += skipped;
}

/// Encoding 9: calls f(qint64 time, int channel) for each event of the block.
template <class F> inline void tdc56DecodeEach52(Tdc56State* h, const quint32* words, int count, F&& f)
{
    tdc56detail::dropForeignTail(h, 9);
    quint64 base = h->base;
    quint64 last = h->last;
    bool haveBase = h->haveBase;
    for (int i = 0; i < count; ++i) {
        const quint32 w = words[i];
        if (w & 0x80000000u) {
            base = quint64(w & 0x03FFFFFFu) << 26;
            haveBase = true;
            continue;
        }
        if (!haveBase) {
            ++h->skipped;
            continue;
        }
        quint64 t = base + (w & 0x03FFFFFFu);
        if (t < last) {
            base += 0x04000000u;
            t += 0x04000000u;
        }
        last = t;
        f(qint64(t), int((w >> 26) & 0x1Fu) + 1);
    }
    h->base = base;
    h->last = last;
    h->haveBase = haveBase;
}

/// Encoding 7: calls f(qint64 time, int channel) for each event of the block.
template <class F> inline void tdc56DecodeEach60(Tdc56State* h, const quint32* words, int count, F&& f)
{
    tdc56detail::dropForeignTail(h, 7);
    int i = 0;
    if (count > 0 && h->tailKind == 7) {
        quint32 low;
        std::memcpy(&low, h->tail, 4);
        h->tailKind = 0;
        h->tailLen = 0;
        tdc56detail::emit60(h, quint64(low) | (quint64(words[0]) << 32), f);
        i = 1;
    }
    for (; i + 1 < count; i += 2)
        tdc56detail::emit60(h, quint64(words[i]) | (quint64(words[i + 1]) << 32), f);
    if (i < count) {
        std::memcpy(h->tail, &words[i], 4);
        h->tailKind = 7;
        h->tailLen = 4;
    }
}

/// Encoding 10: calls f(qint64 time, int channel) for each record of `n` bytes in memory order.
template <class F> inline void tdc56DecodeEach60bBytes(Tdc56State* h, const uchar* p, qint64 n, F&& f)
{
    tdc56detail::dropForeignTail(h, 10);
    if (n <= 0)
        return;
    if (h->tailKind == 10) {
        const int take = int(qMin<qint64>(10 - h->tailLen, n));
        std::memcpy(h->tail + h->tailLen, p, size_t(take));
        h->tailLen += take;
        p += take;
        n -= take;
        if (h->tailLen < 10)
            return;
        h->tailKind = 0;
        h->tailLen = 0;
        tdc56detail::emit60b(h->tail, f);
    }
    for (; n >= 10; p += 10, n -= 10)
        tdc56detail::emit60b(p, f);
    if (n > 0) {
        std::memcpy(h->tail, p, size_t(n));
        h->tailKind = 10;
        h->tailLen = int(n);
    }
}

/// Encoding 10 as the queued call takes it: count > 0 words, count < 0 minus a number of bytes.
template <class F> inline void tdc56DecodeEach60b(Tdc56State* h, const quint32* words, int count, F&& f)
{
    if (count >= 0) {
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
        std::vector<quint32> le(words, words + count);
        for (quint32& w : le)
            w = qToLittleEndian(w);
        tdc56DecodeEach60bBytes(h, reinterpret_cast<const uchar*>(le.data()), qint64(count) * 4, f);
#else
        tdc56DecodeEach60bBytes(h, reinterpret_cast<const uchar*>(words), qint64(count) * 4, f);
#endif
    } else {
        tdc56DecodeEach60bBytes(h, reinterpret_cast<const uchar*>(words), -qint64(count), f);
    }
}
