#include "displays/scalegraph.h"

#include "utilif/algo.h"
#include "utilif/qthelpers.h"

#include <QPainter>

ScaleGraph::ScaleGraph(QWidget* parent) : QWidget(parent)
{
    qth_setWidgetColor(this, QColor(255, 255, 224), false);
    setAutoFillBackground(true);
    setMinimumWidth(25);
}

void ScaleGraph::setAbsMin(double v)
{
    absMin = v;
    refresh();
}

void ScaleGraph::setAbsMax(double v)
{
    absMax = v;
    refresh();
}

void ScaleGraph::setWindow(const QRectF& window)
{
    winMin = window.y();
    winMax = window.y() + window.height();
    refresh();
}

void ScaleGraph::refresh()
{
    if (absMax > absMin)
        update();
}

void ScaleGraph::paintEvent(QPaintEvent*)
{
    const int W = width(), H = height();
    const double range = absMax - absMin;
    double t = 0, frac = 1;
    if (range > 0) {
        frac = (winMax - winMin) / range;
        const double rel = (winMax - absMin) / range;
        t = rel <= 0 ? 1.0 : rel < 1 ? 1.0 - rel : 0.0;
    }
    const double f = frac <= 0 ? 0.0 : frac < 1 ? frac : 1.0;
    int top = algoNearest(t * (H - 2));
    int length = algoNearest((H - 2) * f);
    if (length < 1) {
        length = 2;
        top = std::max(1, std::min(top, H - 3));
    }
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(QPoint(W / 10, 0), QPoint(W - 2, H - 2)).adjusted(0, 0, -1, -1));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(173, 216, 230));
    p.drawRect(QRect(QPoint(W / 10 + 1, top + 1), QPoint(W - 2, top + length)));
}
