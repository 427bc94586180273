#pragma once
// Stream health of a data channel: what arrived, how fast, whether positions were skipped, and how long ago the
// last block came. A Channel counts as blocks pass (a few additions and one clock read per block); a host reads
// one ChannelHealth value from the GUI thread whenever it wants to show it.

#include <QtGlobal>
#include <atomic>

/// A snapshot of a channel's statistics.
struct ChannelHealth
{
    enum State { NoData, Live, Stale };

    qint64 words = 0;             // data words received
    qint64 blocks = 0;            // data blocks received
    double wordsPerSecond = 0;    // words of the last second (to 10 ms)
    qint64 frames = 0;            // frames completed
    double framesPerSecond = 0;   // from the interval between the last frame ends
    qint64 msSinceLastBlock = -1; // -1: nothing received yet
    qint64 indexGaps = 0;         // blocks whose position was not the one expected
    qint64 wordsMissed = 0;       // positions skipped by those blocks
    qint64 framesStored = 0;      // raw-frame stores that succeeded
    qint64 replays = 0;           // replays of the stored frame to a chain
    qint64 framePeriodMs = 0;     // interval between the last two frame ends, 0 when unknown

    /// Silence after which a stream counts as stale: the frame period (at least half a second) once frames were
    /// seen, else two seconds.
    qint64 staleAfterMs() const { return framePeriodMs > 0 ? qMax<qint64>(framePeriodMs, 500) : 2000; }
    State state() const
    {
        if (msSinceLastBlock < 0)
            return NoData;
        return msSinceLastBlock > staleAfterMs() ? Stale : Live;
    }
};

/// The counters behind ChannelHealth. Blocks and frames are counted on the GUI thread; stores may end on a snapshot
/// thread, so their count is atomic.
class ChannelStats
{
public:
    ChannelStats();
    /// A block of `count` words at stream position `index` (negative: continues the last block). `frameLength` is
    /// the channel's frame length (0 when it has none): a block at position 0 where a frame ends is no gap.
    void block(int count, int index, qint64 frameLength) { blockAt(nowMs(), count, index, frameLength); }
    void frameEnded() { frameEndedAt(nowMs()); }
    void stored() { storedCount.fetch_add(1, std::memory_order_relaxed); }
    void replayed() { ++replayCount; }
    ChannelHealth health() const { return healthAt(nowMs()); }

    // The same at a given time in milliseconds (for scripted tests).
    void blockAt(qint64 nowMs, int count, int index, qint64 frameLength);
    void frameEndedAt(qint64 nowMs);
    ChannelHealth healthAt(qint64 nowMs) const;

private:
    /// Milliseconds of a monotonic clock. Read once per block, so it is the coarse clock where there is one: a few
    /// nanoseconds instead of tens, at a resolution of a few milliseconds that the figures do not need to beat.
    static qint64 nowMs();
    qint64 words = 0;
    qint64 blocks = 0;
    qint64 gaps = 0;
    qint64 missed = 0;
    qint64 frames = 0;
    qint64 lastBlockMs = -1;
    qint64 expected = -1; // position the next block should start at, -1 when unknown
    // Words per 10 ms over the last second: a ring of 100 buckets, cleared as time moves on.
    static constexpr int bucketMs = 10;
    static constexpr int bucketCount = 100;
    qint64 buckets[bucketCount] = {};
    qint64 lastBucket = -1;
    qint64 lastFrameMs = -1;
    qint64 framePeriodMs = 0;
    qint64 replayCount = 0;
    std::atomic<qint64> storedCount{0};
};
