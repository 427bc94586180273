#include "connection/channelhealth.h"

#include <QElapsedTimer>
#include <ctime>

ChannelStats::ChannelStats() = default;

qint64 ChannelStats::nowMs()
{
#ifdef CLOCK_MONOTONIC_COARSE
    timespec t;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &t) == 0)
        return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
#endif
    static QElapsedTimer fallback;
    if (!fallback.isValid())
        fallback.start();
    return fallback.elapsed();
}

void ChannelStats::blockAt(qint64 now, int count, int index, qint64 frameLength)
{
    if (count <= 0)
        return;
    if (index >= 0 && expected >= 0 && index != expected) {
        // Servers number words by stream position (some restart at 0 with every frame, some wrap at a multiple of
        // the frame): a block at 0 where a frame ends continues the stream.
        const bool frameRestart = index == 0 && frameLength > 0 && expected % frameLength == 0;
        if (!frameRestart) {
            ++gaps;
            if (index > expected)
                missed += index - expected;
            else if (index == 0 && frameLength > 0)
                missed += frameLength - expected % frameLength; // the end of the frame was lost
        }
    }
    expected = (index >= 0 ? qint64(index) : qMax<qint64>(expected, 0)) + count;
    words += count;
    ++blocks;
    lastBlockMs = now;
    const qint64 bucket = now / bucketMs;
    if (bucket != lastBucket) {
        // Empty the buckets of the time that passed since the last block (at most the whole ring).
        const qint64 from = lastBucket < 0 ? bucket : qMax(lastBucket + 1, bucket - bucketCount + 1);
        for (qint64 b = from; b <= bucket; ++b)
            buckets[b % bucketCount] = 0;
        lastBucket = bucket;
    }
    buckets[bucket % bucketCount] += count;
}

void ChannelStats::frameEndedAt(qint64 now)
{
    if (lastFrameMs >= 0)
        framePeriodMs = now - lastFrameMs;
    lastFrameMs = now;
    ++frames;
}

ChannelHealth ChannelStats::healthAt(qint64 now) const
{
    ChannelHealth h;
    h.words = words;
    h.blocks = blocks;
    h.frames = frames;
    h.indexGaps = gaps;
    h.wordsMissed = missed;
    h.framesStored = storedCount.load(std::memory_order_relaxed);
    h.replays = replayCount;
    h.msSinceLastBlock = lastBlockMs < 0 ? -1 : now - lastBlockMs;
    h.framePeriodMs = framePeriodMs;
    // The buckets of the last second: those after now - 1 s that were written since they were last emptied.
    const qint64 bucket = now / bucketMs;
    qint64 sum = 0;
    for (qint64 b = qMax<qint64>(0, bucket - bucketCount + 1); b <= qMin(bucket, lastBucket); ++b)
        sum += buckets[b % bucketCount];
    h.wordsPerSecond = double(sum);
    if (framePeriodMs > 0 && lastFrameMs >= 0 && now - lastFrameMs <= 2 * framePeriodMs + 1000)
        h.framesPerSecond = 1000.0 / double(framePeriodMs);
    return h;
}
