// Fuzz target of the time-tag decoders: any words, in any encoding, cut into blocks anywhere, must decode without
// reading or writing out of bounds, never hand back more events than asked for, and give the same events through
// the queue as through the inline path the histogram filter uses.
#include "utilif/tdc56.h"
#include "utilif/tdc56state.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Queued = void (*)(Tdc56State*, const quint32*, int);

template <class F> void decodeInline(int kind, Tdc56State* h, const quint32* w, int n, F&& f)
{
    switch (kind) {
    case 0:
        tdc56DecodeEach(h, w, n, f);
        break;
    case 1:
        tdc56DecodeEach60(h, w, n, f);
        break;
    case 2:
        tdc56DecodeEach52(h, w, n, f);
        break;
    default:
        tdc56DecodeEach60b(h, w, n, f);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0: encoding (bits 0-1), byte counts for encoding 10 (bit 2), flush between blocks (bit 3), pop capacity
    // (bits 4-7). Byte 1: block length pattern. The rest: the words (a trailing part word is zero-padded).
    const int kind = data[0] & 3;
    const bool bytes = data[0] & 4;
    const bool flush = data[0] & 8;
    const int capacity = (data[0] >> 4) + 1;
    const int pattern = data[1];
    const size_t payload = size - 2;
    std::vector<quint32> words((payload + 3) / 4 + 1, 0);
    std::memcpy(words.data(), data + 2, payload);
    const Queued queued[] = {tdc56Decode, tdc56Decode60, tdc56Decode52, tdc56Decode60b};

    Tdc56State* q = tdc56Init();
    Tdc56State* direct = tdc56Init();
    std::vector<Tdc56Event> fromQueue, fromInline;
    Tdc56Event buf[17];
    size_t pos = 0; // in words, or in bytes for byte counts
    const size_t total = bytes ? payload : payload / 4;
    int block = 0;
    while (pos < total) {
        const size_t len = std::min<size_t>(total - pos, size_t((pattern >> (block % 4 * 2)) & 3) * 5 + 1);
        ++block;
        // A byte block starts on a word of its own, as a block of a telegram does.
        std::vector<quint32> copy;
        const quint32* w = words.data() + pos;
        if (bytes) {
            copy.assign((len + 3) / 4, 0);
            std::memcpy(copy.data(), data + 2 + pos, len);
            w = copy.data();
        }
        const int count = bytes ? -int(len) : int(len);
        if (bytes && kind != 3) {
            pos += len;
            continue; // byte counts belong to encoding 10
        }
        queued[kind](q, w, count);
        decodeInline(kind, direct, w, count, [&](qint64 t, int c) {
            Tdc56Event e{};
            e.time = t;
            e.channel = quint8(c);
            fromInline.push_back(e);
        });
        for (;;) {
            std::memset(buf, 0x5A, sizeof buf);
            const int n = tdc56Pop(q, buf, capacity);
            if (n < 0 || n > capacity)
                abort();
            for (int i = capacity; i < 17; ++i) {
                const auto* b = reinterpret_cast<const unsigned char*>(&buf[i]);
                for (size_t k = 0; k < sizeof(Tdc56Event); ++k)
                    if (b[k] != 0x5A)
                        abort(); // written past the capacity
            }
            if (n == 0)
                break;
            fromQueue.insert(fromQueue.end(), buf, buf + n);
        }
        if (flush) {
            tdc56Flush(q);
            tdc56Flush(direct);
        }
        pos += len;
    }
    if (fromQueue.size() != fromInline.size())
        abort();
    for (size_t i = 0; i < fromQueue.size(); ++i)
        if (fromQueue[i].time != fromInline[i].time || fromQueue[i].channel != fromInline[i].channel)
            abort();
    // At most one event per word (encoding 10: per 10 bytes).
    if (fromQueue.size() > total + 1)
        abort();
    tdc56DeInit(q);
    tdc56DeInit(direct);
    return 0;
}
