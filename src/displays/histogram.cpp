#include "displays/histogram.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <cstring>

namespace {
constexpr int kRepaintMs = 40; // coalesce the repaints of single pixels
}

Histogram::Histogram(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    updateTimer = new QTimer(this);
    updateTimer->setSingleShot(true);
    connect(updateTimer, &QTimer::timeout, this, &Histogram::flushUpdate);
    setRange(256, 256, 1);
}

Histogram::~Histogram() = default;

bool Histogram::setRange(int x, int y, int t)
{
    if (x < 1 || y < 1 || t < 1 || qint64(x) * y > _maxCells || qint64(x) * y * t > _maxCells)
        return false;
    const size_t n = size_t(x) * size_t(y);
    std::unique_ptr<quint8[], FreeDeleter> newCells(static_cast<quint8*>(std::calloc(n * size_t(t), 1)));
    std::unique_ptr<quint32[], FreeDeleter> newCache(static_cast<quint32*>(std::calloc(n, sizeof(quint32))));
    QImage newImg(x, y, QImage::Format_Grayscale8);
    if (!newCells || !newCache || newImg.isNull())
        return false;
    cells = std::move(newCells);
    cache = std::move(newCache);
    img = std::move(newImg);
    X = x;
    Y = y;
    T = t;
    // The visible slices must lie inside the new T, or every projection sum would read past its pixel's slices.
    if (first >= T)
        first = 0;
    count = qMin(count, T - first);
    allZero = true;
    applySize();
    setChanged();
    return true;
}

void Histogram::applySize()
{
    setFixedSize(X * scl, Y * scl);
}

void Histogram::setChanged()
{
    repaintPending = true;
    dirty = QRect();
    update();
}

void Histogram::setScale(int s)
{
    scl = qBound(1, s, 100);
    applySize();
    setChanged();
}

int Histogram::cell(int x, int y, int t) const
{
    if (x < 0 || x >= X || y < 0 || y >= Y || t < 0 || t >= T)
        return -1;
    return cells[(size_t(y) * size_t(X) + size_t(x)) * size_t(T) + size_t(t)];
}

quint32 Histogram::projection(int x, int y) const
{
    if (x < 0 || x >= X || y < 0 || y >= Y)
        return 0;
    return cache[size_t(y) * size_t(X) + size_t(x)];
}

void Histogram::reset()
{
    const size_t n = size_t(X) * size_t(Y);
    // A fresh zeroed allocation instead of writing zeros over the whole cube: untouched pages cost nothing.
    std::unique_ptr<quint8[], FreeDeleter> newCells(static_cast<quint8*>(std::calloc(n * size_t(T), 1)));
    if (newCells)
        cells = std::move(newCells);
    else
        std::memset(cells.get(), 0, n * size_t(T));
    std::memset(cache.get(), 0, n * sizeof(quint32));
    allZero = true;
    setChanged();
}

void Histogram::setHit(int x, int y, int t)
{
    if (x < 0 || x >= X || y < 0 || y >= Y || t < 0 || t >= T)
        return;
    const size_t p = size_t(y) * size_t(X) + size_t(x);
    quint8& c = cells[p * size_t(T) + size_t(t)];
    if (c == 255)
        return;
    ++c;
    allZero = false;
    if (t >= first && t < first + count) {
        ++cache[p];
        paint(x, y);
    }
}

void Histogram::setValue(int x, int y, int t, int v)
{
    if (x < 0 || x >= X || y < 0 || y >= Y || t < 0 || t >= T || v < 0 || v >= 255)
        return;
    const size_t p = size_t(y) * size_t(X) + size_t(x);
    quint8& c = cells[p * size_t(T) + size_t(t)];
    const int old = c;
    c = quint8(v);
    allZero = false;
    if (t >= first && t < first + count) {
        cache[p] = quint32(qint64(cache[p]) + v - old);
        paint(x, y);
    }
}

void Histogram::setVisibleSliceFirst(int f)
{
    if (f < 0 || f >= T || f == first)
        return;
    first = f;
    count = qMin(count, T - f);
    if (!allZero)
        regenerateCache();
    setChanged();
}

void Histogram::setVisibleSliceCount(int c)
{
    if (c < 0 || c > T || c == count)
        return;
    count = c;
    first = qMin(first, T - c);
    if (!allZero)
        regenerateCache();
    setChanged();
}

void Histogram::regenerateCache()
{
    const size_t n = size_t(X) * size_t(Y);
    const quint8* base = cells.get() + first;
    const int c = count;
    for (size_t p = 0; p < n; ++p) {
        const quint8* s = base + p * size_t(T);
        // Eight bytes at a time: the bytes are spread into 16-bit lanes (at most 255 * 128 per lane before they
        // are folded), so one 64-bit addition sums four pairs of slices.
        quint64 acc = 0;
        quint32 sum = 0;
        int i = 0;
        int lanes = 0;
        for (; i + 8 <= c; i += 8) {
            quint64 w;
            std::memcpy(&w, s + i, 8);
            acc += (w & 0x00FF00FF00FF00FFull) + ((w >> 8) & 0x00FF00FF00FF00FFull);
            if (++lanes == 128) {
                sum += quint32((acc & 0xFFFF) + ((acc >> 16) & 0xFFFF) + ((acc >> 32) & 0xFFFF) + (acc >> 48));
                acc = 0;
                lanes = 0;
            }
        }
        sum += quint32((acc & 0xFFFF) + ((acc >> 16) & 0xFFFF) + ((acc >> 32) & 0xFFFF) + (acc >> 48));
        for (; i < c; ++i)
            sum += s[i];
        cache[p] = sum;
    }
}

void Histogram::getDataRange(int& min, int& max) const
{
    min = 2147483647;
    max = 0;
    const size_t n = size_t(X) * size_t(Y);
    for (size_t p = 0; p < n; ++p) {
        const int v = int(qMin<quint32>(cache[p], 2147483647u));
        min = qMin(min, v);
        max = qMax(max, v);
    }
    if (max < min)
        max = min;
}

void Histogram::setGradationStart(int s)
{
    if (s > gradEnd || s == gradStart)
        return;
    gradStart = s;
    updateFactor();
}

void Histogram::setGradationEnd(int e)
{
    if (e < gradStart || e == gradEnd)
        return;
    gradEnd = e;
    updateFactor();
}

void Histogram::updateFactor()
{
    factor = gradEnd == gradStart ? 1e9 : 255.0 / (double(gradEnd) - double(gradStart));
    setChanged();
}

int Histogram::greyLevel(quint32 sum) const
{
    const double g = (double(sum) - gradStart) * factor;
    if (g <= 0.5)
        return 0;
    if (g >= 255.5)
        return 255;
    return int(g);
}

void Histogram::paint(int x, int y)
{
    img.scanLine(y)[x] = uchar(greyLevel(cache[size_t(y) * size_t(X) + size_t(x)]));
    if (repaintPending)
        return; // the whole image is rebuilt anyway
    dirty |= QRect(x, y, 1, 1);
    scheduleUpdate();
}

void Histogram::scheduleUpdate()
{
    if (!updateTimer->isActive())
        updateTimer->start(kRepaintMs);
}

void Histogram::flushUpdate()
{
    if (dirty.isNull())
        return;
    update(QRect(dirty.x() * scl, dirty.y() * scl, dirty.width() * scl, dirty.height() * scl));
    dirty = QRect();
}

void Histogram::rebuildImage()
{
    repaintPending = false;
    if (allZero) {
        img.fill(0);
        return;
    }
    for (int y = 0; y < Y; ++y) {
        uchar* line = img.scanLine(y);
        const quint32* sums = cache.get() + size_t(y) * size_t(X);
        for (int x = 0; x < X; ++x)
            line[x] = uchar(greyLevel(sums[x]));
    }
}

const QImage& Histogram::image()
{
    if (repaintPending)
        rebuildImage();
    return img;
}

void Histogram::paintEvent(QPaintEvent* event)
{
    if (repaintPending)
        rebuildImage();
    if (!cells || allZero)
        return; // the black background
    QPainter p(this);
    // Only the exposed cells are drawn, each as scale x scale screen pixels.
    const QRect r = event->rect();
    const int x0 = qMax(0, r.left() / scl), y0 = qMax(0, r.top() / scl);
    const int x1 = qMin(X - 1, r.right() / scl), y1 = qMin(Y - 1, r.bottom() / scl);
    if (x1 < x0 || y1 < y0)
        return;
    const QRect src(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    p.drawImage(QRect(x0 * scl, y0 * scl, src.width() * scl, src.height() * scl), img, src);
}
