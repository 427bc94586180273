#include "recording/timetags.h"

#if __has_include("utilif/tdc56.h")
#include "utilif/tdc56.h"
#define ORVIK_HAVE_TDC56 1
#else
#define ORVIK_HAVE_TDC56 0
#endif

TimeTagDecoder::TimeTagDecoder()
{
#if ORVIK_HAVE_TDC56
    handle = tdc56Init();
#endif
}

TimeTagDecoder::~TimeTagDecoder()
{
#if ORVIK_HAVE_TDC56
    tdc56DeInit(handle);
#endif
}

bool TimeTagDecoder::available()
{
    return ORVIK_HAVE_TDC56 != 0;
}

bool TimeTagDecoder::isTimeTagEncoding(int encoding)
{
    return encoding == 5 || encoding == 7 || encoding == 9 || encoding == 10;
}

void TimeTagDecoder::feed(int encoding, const int* words, int count)
{
#if ORVIK_HAVE_TDC56
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
#else
    Q_UNUSED(encoding);
    Q_UNUSED(words);
    Q_UNUSED(count);
#endif
}

int TimeTagDecoder::pop(Event* out, int capacity)
{
#if ORVIK_HAVE_TDC56
    Tdc56Event raw[512];
    const int n = tdc56Pop(handle, raw, qMin(capacity, 512));
    for (int i = 0; i < n; ++i)
        out[i] = {raw[i].time, raw[i].channel};
    return n;
#else
    Q_UNUSED(out);
    Q_UNUSED(capacity);
    return 0;
#endif
}

void TimeTagDecoder::flush()
{
#if ORVIK_HAVE_TDC56
    tdc56Flush(handle);
#endif
}
