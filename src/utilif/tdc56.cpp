#include "utilif/tdc56.h"

#include "utilif/error.h"
#include "utilif/tdc56state.h"

#include <new>

namespace {

/// Makes room for `more` events before anything of the block changes the state, so that a block either decodes
/// whole or throws with the handle as it was.
void reserveQueue(Tdc56State* h, size_t more)
{
    // Compact first: popped events are never read again.
    if (h->head > 0 && (h->head == h->queue.size() || h->head >= h->queue.size() / 2)) {
        h->queue.erase(h->queue.begin(), h->queue.begin() + std::ptrdiff_t(h->head));
        h->head = 0;
    }
    try {
        h->queue.reserve(h->queue.size() + more);
    } catch (const std::bad_alloc&) {
        throw OomError(QStringLiteral("Out of memory for %1 time-tag events").arg(more));
    } catch (const std::length_error&) {
        throw OomError(QStringLiteral("Out of memory for %1 time-tag events").arg(more));
    }
}

struct Pusher
{
    Tdc56State* h;
    void operator()(qint64 t, int ch) const
    {
        Tdc56Event e{};
        e.time = t;
        e.channel = quint8(ch);
        h->queue.push_back(e);
    }
};

bool usable(Tdc56State* h, const quint32* words, int count)
{
    return h && words && count > 0;
}

} // namespace

Tdc56State* tdc56Init()
{
    return new Tdc56State();
}

void tdc56DeInit(Tdc56State* h)
{
    delete h;
}

void tdc56Decode(Tdc56State* h, const quint32* words, int count)
{
    if (!usable(h, words, count))
        return;
    reserveQueue(h, size_t(count));
    tdc56DecodeEach(h, words, count, Pusher{h});
}

void tdc56Decode52(Tdc56State* h, const quint32* words, int count)
{
    if (!usable(h, words, count))
        return;
    reserveQueue(h, size_t(count));
    tdc56DecodeEach52(h, words, count, Pusher{h});
}

void tdc56Decode60(Tdc56State* h, const quint32* words, int count)
{
    if (!usable(h, words, count))
        return;
    reserveQueue(h, size_t(count) / 2 + 1);
    tdc56DecodeEach60(h, words, count, Pusher{h});
}

void tdc56Decode60b(Tdc56State* h, const quint32* words, int count)
{
    if (!h || !words || count == 0)
        return;
    const qint64 bytes = count > 0 ? qint64(count) * 4 : -qint64(count);
    reserveQueue(h, size_t(bytes / 10 + 1));
    tdc56DecodeEach60b(h, words, count, Pusher{h});
}

int tdc56Pop(Tdc56State* h, Tdc56Event* out, int capacity)
{
    if (!h || !out || capacity <= 0)
        return 0;
    const size_t avail = h->queue.size() - h->head;
    const int n = int(qMin<size_t>(avail, size_t(capacity)));
    if (n > 0)
        std::memcpy(out, h->queue.data() + h->head, size_t(n) * sizeof(Tdc56Event));
    h->head += size_t(n);
    if (h->head == h->queue.size()) {
        h->queue.clear();
        h->head = 0;
    }
    return n;
}

int tdc56Pending(const Tdc56State* h)
{
    if (!h)
        return 0;
    return int(qMin<size_t>(h->queue.size() - h->head, size_t(0x7FFFFFFF)));
}

void tdc56Flush(Tdc56State* h)
{
    if (!h)
        return;
    tdc56detail::dropForeignTail(h, -1);
    h->base = 0;
    h->last = 0;
    h->epoch = 0;
    h->haveBase = false;
}

quint64 tdc56Skipped(const Tdc56State* h)
{
    return h ? h->skipped : 0;
}
