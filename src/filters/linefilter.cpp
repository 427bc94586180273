#include "filters/linefilter.h"

#include "framework/logging.h"

#include <climits>
#include <cmath>
#include <cstring>

LineFilter::LineFilter(QWidget* parent, QString name, const GPlugin::PluginDescriptor* descriptor)
    : GPlugin(parent, std::move(name), descriptor)
{
    GPlugin::init();
}

void LineFilter::init()
{
    lineNumber = 0;
    GPlugin::init();
}

void LineFilter::updateActive()
{
    active = !transparent && order >= 2 && lineLength >= 1 && lineLength <= _maxLineLength;
}

void LineFilter::setDataRangeX(int n)
{
    lineLength = n;
    const int size = (n >= 1 && n <= _maxLineLength) ? n : 0;
    if (n > _maxLineLength)
        qCWarning(lcFilters) << getName() << ": line length" << n << "too long, lines pass unfiltered";
    line.assign(size_t(size), 0);
    smooth.assign(size_t(size), 0);
    updateActive();
    GPlugin::setDataRangeX(n);
}

void LineFilter::setDataOrder(GPlugin::DataOrder o)
{
    order = int(o);
    updateActive();
    GPlugin::setDataOrder(o);
}

void LineFilter::setTransparent(bool t)
{
    transparent = t;
    updateActive();
}

void LineFilter::setData(const int* data, int count, int index)
{
    // A negative position has no place in a line: such a block passes as it is.
    if (!active || index < 0) {
        GPlugin::setData(data, count, index);
        return;
    }
    if (count <= 0)
        return; // nothing to collect
    const int n = lineLength;
    int pos = index % n;
    lineNumber = index / n;
    qint64 lineStart = qint64(index) - pos;
    int done = 0;
    while (done < count) {
        const int take = qMin(count - done, n - pos);
        std::memcpy(line.data() + pos, data + done, size_t(take) * sizeof(int));
        done += take;
        pos += take;
        if (pos < n)
            break; // the rest of the line comes with a later block
        filterPeaks();
        if (filterLine())
            GPlugin::setData(line.data(), n, int(lineStart));
        ++lineNumber;
        lineStart += n;
        pos = 0;
        if (lineStart > INT_MAX)
            break; // no position left for a further line
    }
}

void LineFilter::filterPeaks()
{
    const int n = lineLength;
    const int* x = line.data();
    int* s = smooth.data();
    if (n < 1)
        return;
    s[0] = x[0];
    if (n == 1)
        return;
    // The distance of two 32-bit words always fits in 32 unsigned bits; the integer sum is exact.
    // Branch-free (negate by mask when a < b) so that the loops below run in vector registers.
    auto distance = [](int a, int b) {
        const quint32 negate = 0u - quint32(a < b);
        return ((quint32(a) - quint32(b)) ^ negate) - negate;
    };
    quint64 sum = 0;
    for (int i = 1; i < n; ++i)
        sum += distance(x[i], x[i - 1]);
    const double d = double(sum) / (n - 1);
    // 64-bit bounds: five mean steps of 32-bit words may exceed the int range.
    const qint64 limit = qint64(5.0 * d);
    // While the smoothed copy follows the line, each word is tested against its plain neighbour, so whole runs can
    // be checked and copied at once; after a replaced word the copy lags, and words are taken one at a time until a
    // word is accepted again.
    constexpr int kRun = 32;
    const bool allNear = limit > qint64(UINT32_MAX); // no 32-bit distance reaches the limit
    const quint32 limit32 = quint32(qBound<qint64>(0, limit, UINT32_MAX));
    qint64 p = x[0];
    int i = 1;
    while (i < n) {
        if (p == x[i - 1]) {
            const int end = qMin(n, i + kRun);
            quint32 far = 0;
            for (int j = i; j < end; ++j)
                far |= quint32(distance(x[j], x[j - 1]) >= limit32);
            if (allNear || !far) {
                std::memcpy(s + i, x + i, size_t(end - i) * sizeof(int));
                p = x[end - 1];
                i = end;
                continue;
            }
        }
        const qint64 v = x[i];
        p = (v > p - limit && v < p + limit) ? v : p;
        s[i++] = int(p);
    }
}
