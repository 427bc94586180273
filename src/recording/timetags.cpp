#include "recording/timetags.h"

#include "utilif/tdc56.h"

TimeTagDecoder::TimeTagDecoder()
{
    handle = tdc56Init();
}

TimeTagDecoder::~TimeTagDecoder()
{
    tdc56DeInit(handle);
}

bool TimeTagDecoder::isTimeTagEncoding(int encoding)
{
    return encoding == 5 || encoding == 7 || encoding == 9 || encoding == 10;
}

void TimeTagDecoder::feed(int encoding, const int* words, int count)
{
    const auto* w = reinterpret_cast<const quint32*>(words);
    switch (encoding) {
    case 5:
        tdc56Decode(handle, w, count);
        break;
    case 7:
        tdc56Decode60(handle, w, count);
        break;
    case 9:
        tdc56Decode52(handle, w, count);
        break;
    case 10:
        tdc56Decode60b(handle, w, count);
        break;
    default:
        break;
    }
}

int TimeTagDecoder::pop(Event* out, int capacity)
{
    Tdc56Event raw[512];
    const int n = tdc56Pop(handle, raw, qMin(capacity, 512));
    for (int i = 0; i < n; ++i)
        out[i] = {raw[i].time, raw[i].channel};
    return n;
}

void TimeTagDecoder::flush()
{
    tdc56Flush(handle);
}
