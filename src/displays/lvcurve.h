#pragma once
// LvCurve: one curve of a line view, a list of points in physical units in arrival order.

#include <QColor>
#include <QLine>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QVector>

#include <limits>
#include <memory>

/// The point list of a curve. It behaves like a QVector<QPointF> for reading and appending, and it drops its oldest
/// points in amortised constant time: a rolling curve loses about one percent of its points per batch, which with a
/// plain vector would move the whole curve a hundred times per appended point.
class LvPoints
{
public:
    LvPoints() = default;
    LvPoints(const QVector<QPointF>& v) : store(v) {}
    // A copy is new content for whoever drew the old one: it gets a stamp of its own.
    LvPoints(const LvPoints& o) : store(o.head ? o.toVector() : o.store) {}
    LvPoints& operator=(const LvPoints& o)
    {
        if (this != &o) {
            store = o.head ? o.toVector() : o.store;
            head = 0;
            stamp = nextStamp();
        }
        return *this;
    }

    int size() const { return store.size() - head; }
    int count() const { return size(); }
    bool isEmpty() const { return size() == 0; }
    const QPointF& at(int i) const { return store.at(head + i); }
    const QPointF& operator[](int i) const { return store.at(head + i); }
    QPointF& operator[](int i)
    {
        stamp = nextStamp();
        return store[head + i];
    }
    const QPointF& first() const { return at(0); }
    const QPointF& last() const { return store.last(); }
    const QPointF* constData() const { return store.constData() + head; }
    const QPointF* begin() const { return constData(); }
    const QPointF* end() const { return store.constData() + store.size(); }

    void append(const QPointF& p) { store.append(p); }
    void reserve(int n) { store.reserve(head + n); }
    void clear()
    {
        store.clear();
        head = 0;
        stamp = nextStamp();
    }
    /// Drops the `n` oldest points (all of them when n >= size()).
    void removeFirst(int n);
    QVector<QPointF> toVector() const { return store.mid(head); }
    bool operator==(const LvPoints& o) const;
    /// Changes whenever points other than appended ones change (cleared, cut, overwritten, assigned), so that what
    /// was drawn from the first size() points stays valid while the stamp is the same.
    quint64 changeStamp() const { return stamp; }

private:
    static quint64 nextStamp();

    QVector<QPointF> store;
    int head = 0; // points before it are dropped and not yet compacted away
    quint64 stamp = nextStamp();
};

/// What a line view drew of a curve, in pixels: the lines (or points) of the segments up to `count`, the pending
/// vertical run at the end, and the bounds of the points. A redraw with the same window, size, mode and points
/// paints these again instead of mapping every point; new points extend them. The key fields say what they were
/// made for.
struct LvDrawCache
{
    static constexpr double inf = std::numeric_limits<double>::infinity();

    // Key.
    bool valid = false;
    quint64 stamp = 0;
    QRectF window;
    QSize size;
    bool stepMode = false, pointMode = false;

    int count = 0; // points consumed
    // What the view's kept picture of grid and curves holds of this curve: points and list sizes.
    int markCount = -1, markLines = 0, markRuns = 0, markDots = 0;
    QVector<QLine> lines; // segments across columns
    QVector<QRect> runs;  // vertical runs: one pixel wide, filled (the same pixels as a line, far cheaper)
    QVector<QPoint> dots; // point mode
    int paintedLines = 0; // lines, runs and dots already handed to a painter during the present draw
    int paintedRuns = 0;
    int paintedDots = 0;
    QPoint p1; // the last consumed point, mapped
    bool in1 = false;
    bool runOpen = false; // a vertical run in column runCol from runLo to runHi, not yet in `lines`
    int runCol = 0, runLo = 0, runHi = 0;
    QPoint lastDot{-(1 << 30), -(1 << 30)};
    double x0 = inf, x1 = -inf, y0 = inf, y1 = -inf; // bounds: x of every point, y of those in the columns

    void clear() { *this = LvDrawCache(); }
};

/// Holds a curve's draw cache; a copy of the curve starts without one (it is redrawn when drawn at all).
class LvDrawCacheSlot
{
public:
    LvDrawCacheSlot() = default;
    LvDrawCacheSlot(const LvDrawCacheSlot&) {}
    LvDrawCacheSlot& operator=(const LvDrawCacheSlot&)
    {
        cache.reset();
        return *this;
    }
    LvDrawCache& get()
    {
        if (!cache)
            cache = std::make_unique<LvDrawCache>();
        return *cache;
    }
    void reset() { cache.reset(); }
    LvDrawCache* peek() const { return cache.get(); }

private:
    std::unique_ptr<LvDrawCache> cache;
};

class LvCurve
{
public:
    explicit LvCurve(QColor color = QColor()) : color(color) {}

    LvPoints points;
    QColor color;
    int drawn = 0;             // points already drawn into the view's double buffer
    LvDrawCacheSlot drawCache; // kept by the view that draws the curve

    /// Y extent of the points from the second on whose x lies in [r.x, r.x + r.width], as (r.x, minY, r.width,
    /// maxY - minY); a flat curve gets height 1. Fewer than two points: (r.x, 0, r.width, -1).
    QRectF getRangeY(QRectF r) const;
    /// Mean point of those with x0 <= x <= x1, or of all points when x0 >= x1; (0,0) when there are none.
    QPointF getAverage(double x0, double x1) const;
    /// True for a line drawn right to left (first x above the second).
    bool isReverse() const;
    /// Cuts the oldest points so that at most maxPoints remain, but only once the excess is above one percent, so that
    /// a rolling curve is cut in batches. Returns the number of points removed.
    int truncate(unsigned maxPoints);
};
