#pragma once
// The recording plug-ins' one door to the shared time-tag decoder (utilif/tdc56.h): a handle that decodes a block
// of raw words in one of the time-tag encodings and hands back the finished events.

#include <QtGlobal>

struct Tdc56State;

class TimeTagDecoder
{
public:
    struct Event
    {
        qint64 time;
        int channel;
    };

    TimeTagDecoder();
    ~TimeTagDecoder();
    TimeTagDecoder(const TimeTagDecoder&) = delete;
    TimeTagDecoder& operator=(const TimeTagDecoder&) = delete;

    /// True for the data encodings that carry time tags (5, 7, 9, 10).
    static bool isTimeTagEncoding(int encoding);
    /// Decodes `count` words of `encoding` and calls `sink(const Event*, int n)` for the finished events, in order.
    template <class Sink> void decode(int encoding, const int* words, int count, Sink&& sink);
    /// Ends a pass: the next block starts a new stream (no roll-over state carried over).
    void flush();

private:
    void feed(int encoding, const int* words, int count);
    int pop(Event* out, int capacity);

    Tdc56State* handle = nullptr;
};

template <class Sink> void TimeTagDecoder::decode(int encoding, const int* words, int count, Sink&& sink)
{
    feed(encoding, words, count);
    Event events[512];
    for (int n; (n = pop(events, 512)) > 0;)
        sink(static_cast<const Event*>(events), n);
}
