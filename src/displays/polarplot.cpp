#include "displays/polarplot.h"

#include "utilif/algo.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

namespace {

constexpr double kDeg = M_PI / 180.0;
constexpr int kMaxCircles = 1000;

struct PolarMap
{
    QPoint center;
    QPoint operator()(const QPointF& p) const
    {
        const double a = p.x() * kDeg;
        const double r = std::trunc(p.y());
        return QPoint(center.x() + algoNearest(r * std::sin(a)), center.y() - algoNearest(r * std::cos(a)));
    }
};

// Rounds half away from zero.
int roundAway(double v)
{
    return algoNearest(v);
}

} // namespace

LineView* makePolarWidget(QWidget* parent, bool pointMode)
{
    return new PolarPlot(parent, pointMode);
}

PolarPlot::PolarPlot(QWidget* parent, bool pointMode) : LineView(parent, pointMode)
{
    updateDesignSetting();
}

QPoint PolarPlot::unit2Pixel(const QPointF& p) const
{
    return PolarMap{center}(p);
}

QPoint PolarPlot::getPosFromRaw(int angleDeg, int r) const
{
    bool valid = false;
    const double rRef = getDataBounds(&valid).y();
    // Without a reference radius there is no scale: the centre.
    if (rRef == 0)
        return center;
    const double s = r * radius / rRef;
    const double a = angleDeg * kDeg;
    return QPoint(center.x() + algoNearest(s * std::sin(a)), center.y() - algoNearest(s * std::cos(a)));
}

void PolarPlot::pixel2Unit(const QPoint& q, double* angle, double* r) const
{
    const double dx = q.x() - center.x(), dy = q.y() - center.y();
    if (angle)
        *angle = std::atan2(dx, -dy) * 360 / (2 * M_PI);
    if (r)
        *r = getDataBounds().y() * std::sqrt(dx * dx + dy * dy) / radius;
}

void PolarPlot::setMarker(double angle)
{
    marker = angle;
    setChanged();
}

void PolarPlot::setDesignMode(int mode)
{
    designMode = mode;
    updateDesignSetting();
}

void PolarPlot::updateDesignSetting()
{
    spokes = designMode == 2 ? 4 : 8;
    showRadiusLabels = designMode != 2;
}

void PolarPlot::drawToDblBuf()
{
    LineView::drawToDblBuf();
}

void PolarPlot::drawCurveToDblBuf(LvCurve& curve, QPainter& painter)
{
    drawMapped(curve, painter, PolarMap{center});
}

void PolarPlot::makeGrid()
{
    if (!resetGridPixmaps())
        return;

    // The radial scale follows the data drawn so far.
    bool valid = false;
    const QRectF b = getDataBounds(&valid);
    const double rMin = std::min(b.y(), b.y() + b.height()), rMax = std::max(b.y(), b.y() + b.height());
    center = gridPix.rect().center();

    QString xLabel, yLabel;
    const Raster raster = makeRaster(&xLabel, &yLabel);

    QPainter gp(&gridPix);
    QPainter op(&overlayPix);
    op.setFont(font());
    configPainter(gp, 0, gridColor, Qt::DotLine, background);
    configPainter(op, 0, gridColor, Qt::DotLine, background);

    const QFontMetrics fm(font());
    const double outer = std::trunc(radius);
    for (int i = 0; i < spokes; ++i) {
        const double a = double(i) * 360 / spokes;
        const QPoint end = unit2Pixel(QPointF(a, outer));
        gp.drawLine(center, end);
        const QPoint off = end - center;
        const QPoint at = center + QPoint(roundAway(off.x() * 21.0 / 20), roundAway(off.y() * 21.0 / 20));
        const QString text = QString::number(a, 'g', 6) + QChar(0x00B0);
        QRect tr = fm.boundingRect(text);
        tr.moveCenter(at);
        op.drawText(tr, Qt::AlignCenter, text);
    }

    double start = 0, step = 1, factor = 1;
    if (rMax > 0 && algoCalcScaleTics(0, rMax, 4, &start, &step, &factor) && step > 0) {
        while (step * 100 < rMax - start)
            step *= 10;
        const int digits = algoDigits(std::max(-rMin, rMax) / factor, step / factor);
        int k = 0;
        for (double r = start; r < rMax && k < kMaxCircles; r = start + (++k) * step) {
            const int p = algoNearest(r / rMax * radius);
            if (p <= 0)
                continue;
            gp.drawEllipse(center, p, p);
            if (showRadiusLabels) {
                const double value = std::fabs(r) * 1024 < step ? 0.0 : r / factor;
                // At least the integer digits, so that 50 reads "50" and not "5e+01".
                int precision = digits;
                while (precision < 17 && std::pow(10.0, precision) <= std::fabs(value))
                    ++precision;
                const QString text = QString::number(value, 'g', precision);
                QRect tr = fm.boundingRect(text);
                tr.moveTopLeft(QPoint(center.x() + 2, center.y() - p));
                op.drawText(tr, Qt::AlignCenter, text);
            }
        }
    }
    showScaleSummary(raster, xLabel, yLabel);
}

void PolarPlot::mousePressEvent(QMouseEvent* ev)
{
    QWidget::mousePressEvent(ev);
}

void PolarPlot::mouseMoveEvent(QMouseEvent* ev)
{
    QWidget::mouseMoveEvent(ev);
}

void PolarPlot::resizeEvent(QResizeEvent* ev)
{
    // Centre and radius first, so that the grid rebuilt by the base already uses them.
    center = QPoint((width() - 1) / 2, (height() - 1) / 2);
    radius = 0.85 * std::min(center.x(), center.y());
    LineView::resizeEvent(ev);
}
