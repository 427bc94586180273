#include "displays/lvcurve.h"

#include <algorithm>
#include <atomic>
#include <cmath>

quint64 LvPoints::nextStamp()
{
    static std::atomic<quint64> counter{0};
    return ++counter;
}

void LvPoints::removeFirst(int n)
{
    if (n <= 0)
        return;
    if (n >= size()) {
        clear();
        return;
    }
    head += n;
    stamp = nextStamp();
    // Compact once the dead part is as large as the live one: every point is moved at most about once.
    if (head >= store.size() - head) {
        store.remove(0, head);
        head = 0;
    }
}

bool LvPoints::operator==(const LvPoints& o) const
{
    return size() == o.size() && std::equal(begin(), end(), o.begin());
}

QRectF LvCurve::getRangeY(QRectF r) const
{
    if (points.size() < 2)
        return QRectF(r.x(), 0, r.width(), -1);
    const double x0 = r.x(), x1 = r.x() + r.width();
    bool any = false;
    double lo = 0, hi = 0;
    for (int i = 1; i < points.size(); ++i) {
        const QPointF& p = points.at(i);
        if (p.x() < x0 || p.x() > x1)
            continue;
        if (!any) {
            lo = hi = p.y();
            any = true;
        } else {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
    }
    if (!any)
        return QRectF(r.x(), 0, r.width(), -1);
    return QRectF(r.x(), lo, r.width(), hi == lo ? 1.0 : hi - lo);
}

QPointF LvCurve::getAverage(double x0, double x1) const
{
    const bool all = x0 >= x1;
    double sx = 0, sy = 0;
    int n = 0;
    for (const QPointF& p : points) {
        if (all || (x0 <= p.x() && p.x() <= x1)) {
            sx += p.x();
            sy += p.y();
            ++n;
        }
    }
    return n ? QPointF(sx / n, sy / n) : QPointF(0, 0);
}

bool LvCurve::isReverse() const
{
    return points.size() >= 2 && points.at(0).x() > points.at(1).x();
}

int LvCurve::truncate(unsigned maxPoints)
{
    const long long excess = (long long)points.size() - (long long)maxPoints;
    if (excess <= (long long)(maxPoints / 100))
        return 0;
    points.removeFirst(int(excess));
    drawn = std::max(0, drawn - int(excess));
    return int(excess);
}
