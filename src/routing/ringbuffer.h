#pragma once
// RingBuffer: the recent words of one input of a union, at most 4096 of them, with the stream index of each.
//
// The buffer holds one continuous run of a stream: a block that does not continue it (a gap, a step back, a new
// frame) empties the buffer first. When more words arrive than fit, the oldest ones are overwritten, so the buffer
// always holds the newest words of the run. Reads hand out pointers into the buffer with the number of words that
// follow without wrapping, so that callers copy whole runs.

#include <QtGlobal>
#include <array>

class RingBuffer
{
public:
    static constexpr int capacity = 4096;
    /// The run `find` reports for an index beyond the newest word.
    static constexpr int beyondRun = 1000000;

    RingBuffer() = default;

    /// Appends `count` words whose first has stream index `index`. A block of more than `capacity` words keeps only
    /// its newest `capacity` words; `add` then returns false (the caller reports it), otherwise true.
    bool add(const int* words, int count, int index);
    /// Appends `count` words right after the newest one, whatever their stream index (merges by arrival).
    bool append(const int* words, int count);
    /// The word at stream index `index`, with `*run` the number of words from it on that follow without wrapping.
    /// Null when the index is not held: `*run` is then the distance to the oldest word (index before it) or
    /// `beyondRun` (index at or after the end).
    const int* find(int index, int* run) const;
    /// The oldest word (null when empty) and the words that follow it without wrapping.
    const int* getOldest(int* run) const;
    /// Drops the oldest `n` words (all of them when n exceeds the size; nothing when n <= 0).
    void killOldest(int n);
    /// Drops every word before stream index `index`.
    void killOlder(int index);
    void clear();

    int getSize() const { return size; }
    /// Stream index of the oldest word (or of the next word, when empty).
    qint64 getBase() const { return base; }
    /// Stream index one past the newest word.
    qint64 getEnd() const { return base + size; }
    bool isEmpty() const { return size == 0; }

private:
    std::array<int, capacity> words{};
    int start = 0;   // array position of the oldest word
    int size = 0;    // words held
    qint64 base = 0; // stream index of the oldest word; 64 bits so that base + size never overflows
};
