#pragma once
// LvCurve: one curve of a line view, a list of points in physical units in arrival order.

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QVector>

/// The point list of a curve. It behaves like a QVector<QPointF> for reading and appending, and it drops its oldest
/// points in amortised constant time: a rolling curve loses about one percent of its points per batch, which with a
/// plain vector would move the whole curve a hundred times per appended point.
class LvPoints
{
public:
    LvPoints() = default;
    LvPoints(const QVector<QPointF>& v) : store(v) {}

    int size() const { return store.size() - head; }
    int count() const { return size(); }
    bool isEmpty() const { return size() == 0; }
    const QPointF& at(int i) const { return store.at(head + i); }
    const QPointF& operator[](int i) const { return store.at(head + i); }
    QPointF& operator[](int i) { return store[head + i]; }
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
    }
    /// Drops the `n` oldest points (all of them when n >= size()).
    void removeFirst(int n);
    QVector<QPointF> toVector() const { return store.mid(head); }
    bool operator==(const LvPoints& o) const;

private:
    QVector<QPointF> store;
    int head = 0; // points before it are dropped and not yet compacted away
};

class LvCurve
{
public:
    explicit LvCurve(QColor color = QColor()) : color(color) {}

    LvPoints points;
    QColor color;
    int drawn = 0; // points already drawn into the view's double buffer

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
