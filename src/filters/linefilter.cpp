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
        // A line that lies whole inside the block is read where it is.
        const int* words = data + done;
        if (take < n)
            std::memcpy(line.data() + pos, words, size_t(take) * sizeof(int));
        done += take;
        pos += take;
        if (pos < n)
            break; // the rest of the line comes with a later block
        if (filterWords(take < n ? line.data() : words))
            GPlugin::setData(line.data(), n, int(lineStart));
        ++lineNumber;
        lineStart += n;
        pos = 0;
        if (lineStart > INT_MAX)
            break; // no position left for a further line
    }
}

namespace {

ORVIK_VECTOR_CLONES LineSteps measureSteps(const int* x, int n)
{
    quint64 sum = 0;
    quint32 widest = 0;
    for (int i = 1; i < n; ++i) {
        const quint32 d = wordDistance(x[i], x[i - 1]);
        sum += d;
        widest = widest > d ? widest : d;
    }
    return {sum, widest};
}

} // namespace

bool LineFilter::filterWords(const int* words)
{
    if (words != line.data())
        std::memcpy(line.data(), words, size_t(lineLength) * sizeof(int));
    filterPeaks();
    return filterLine();
}

LineSteps LineFilter::neighbourSteps(const int* x, int n)
{
    return measureSteps(x, n);
}

void LineFilter::filterPeaks()
{
    const int* x = line.data();
    if (peakFiltered(x, neighbourSteps(x, lineLength)) == x && lineLength >= 1)
        std::memcpy(smooth.data(), x, size_t(lineLength) * sizeof(int));
}

const int* LineFilter::peakFiltered(const int* x, const LineSteps& steps)
{
    const int n = lineLength;
    if (n < 2)
        return x;
    const double d = double(steps.sum) / (n - 1);
    // 64-bit bounds: five mean steps of 32-bit words may exceed the int range.
    const qint64 limit = qint64(5.0 * d);
    // A word is replaced only when it lies at least `limit` from the word before it in the smoothed copy; while no
    // neighbour step reaches the limit, the copy follows the line word for word.
    if (limit > qint64(UINT32_MAX) || (limit > 0 && steps.widest < quint32(limit)))
        return x;
    int* s = smooth.data();
    s[0] = x[0];
    // While the smoothed copy follows the line, each word is tested against its plain neighbour, so whole runs can
    // be checked and copied at once; after a replaced word the copy lags, and words are taken one at a time until a
    // word is accepted again.
    constexpr int kRun = 32;
    const quint32 limit32 = quint32(qMax<qint64>(0, limit));
    qint64 p = x[0];
    int i = 1;
    while (i < n) {
        if (p == x[i - 1]) {
            const int end = qMin(n, i + kRun);
            quint32 far = 0;
            for (int j = i; j < end; ++j)
                far |= quint32(wordDistance(x[j], x[j - 1]) >= limit32);
            if (!far) {
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
    return s;
}
