#include "routing/ringbuffer.h"

#include <algorithm>
#include <cstring>

bool RingBuffer::add(const int* data, int count, int index)
{
    if (!data || count <= 0)
        return true;
    if (size > 0 && qint64(index) != base + size)
        clear();
    if (size == 0) {
        start = 0;
        base = index;
    }
    return append(data, count);
}

bool RingBuffer::append(const int* data, int count)
{
    if (!data || count <= 0)
        return true;
    const qint64 index = base + size;
    if (count >= capacity) {
        // Only the newest words of the block fit; they replace everything held.
        const int skip = count - capacity;
        std::memcpy(words.data(), data + skip, sizeof(int) * size_t(capacity));
        start = 0;
        size = capacity;
        base = index + skip;
        return skip == 0;
    }
    // Write behind the newest word, wrapping at the end of the array.
    const int write = (start + size) % capacity;
    const int first = std::min(count, capacity - write);
    std::memcpy(words.data() + write, data, sizeof(int) * size_t(first));
    if (first < count)
        std::memcpy(words.data(), data + first, sizeof(int) * size_t(count - first));
    size += count;
    if (size > capacity) {
        // The block overwrote the oldest words.
        const int lost = size - capacity;
        start = (start + lost) % capacity;
        size = capacity;
        base += lost;
    }
    return true;
}

const int* RingBuffer::find(int index, int* run) const
{
    const qint64 offset = qint64(index) - base;
    if (offset < 0) {
        if (run)
            *run = int(std::min<qint64>(-offset, beyondRun));
        return nullptr;
    }
    if (offset >= size) {
        if (run)
            *run = beyondRun;
        return nullptr;
    }
    const int pos = int((start + offset) % capacity);
    if (run)
        *run = int(std::min<qint64>(size - offset, capacity - pos));
    return words.data() + pos;
}

const int* RingBuffer::getOldest(int* run) const
{
    if (size == 0) {
        if (run)
            *run = 0;
        return nullptr;
    }
    if (run)
        *run = std::min(size, capacity - start);
    return words.data() + start;
}

void RingBuffer::killOldest(int n)
{
    if (n <= 0)
        return;
    n = std::min(n, size);
    start = (start + n) % capacity;
    size -= n;
    base += n;
    if (size == 0)
        start = 0;
}

void RingBuffer::killOlder(int index)
{
    const qint64 n = qint64(index) - base;
    killOldest(int(std::clamp<qint64>(n, 0, size)));
}

void RingBuffer::clear()
{
    start = 0;
    size = 0;
    base = 0;
}
