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
    double sum = 0.0;
    for (int i = 1; i < n; ++i)
        sum += std::fabs(double(x[i]) - double(x[i - 1]));
    const double d = sum / (n - 1);
    // 64-bit bounds: five mean steps of 32-bit words may exceed the int range.
    const qint64 limit = qint64(5.0 * d);
    qint64 p = s[0];
    for (int i = 1; i < n; ++i) {
        const qint64 v = x[i];
        p = (v > p - limit && v < p + limit) ? v : p;
        s[i] = int(p);
    }
}
