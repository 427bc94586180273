#include "displays/lineview.h"

#include "displays/raster.h"
#include "utilif/algo.h"

#include <QBitmap>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>
#include <cmath>

using lineview_detail::toPix;

const QRgb LineView::colorTable[16] = {0xFFFFFFFF, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF00FFFF, 0xFFFF00FF,
                                       0xFFFFFF00, 0xFFFF8080, 0xFF80FF80, 0xFF8080FF, 0xFFFF8000, 0xFF80FF00,
                                       0xFF8000FF, 0xFFFF0080, 0xFF00FF80, 0xFF0080FF};

namespace {

// The two zoom icons, 16x16: arrows pointing to the corners (zoom into the rectangle) and arrows pointing to the
// centre (zoom out). '#' pixels are cut out of the widget mask, so they show the parent's background colour.
const char* const kIconOut[16] = {"#####......#####", "####........####", "###..........###", "##.#........#.##",
                                  "#...#......#...#", ".....#....#.....", "................", "................",
                                  "................", "................", ".....#....#.....", "#...#......#...#",
                                  "##.#........#.##", "###..........###", "####........####", "#####......#####"};
const char* const kIconIn[16] = {"#..............#", ".#............#.", "..#..........#..", "...#........#...",
                                 "....#.###...#...", ".....##.....#...", "....###..###....", "....#.......#...",
                                 "...#.......#....", "....###..###....", "...#.....##.....", "...#...###.#....",
                                 "...#........#...", "..#..........#..", ".#............#.", "#..............#"};

void cutIcon(QPainter& p, const char* const* icon, int left, int top)
{
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (icon[y][x] == '#')
                p.drawPoint(left + x, top + y);
}

// The Cartesian mapping of the view: px = trunc(W (x - x0) / w), py = (H - 1) - trunc((y - y0) H / h). The scales
// are multiplied in for speed; a product within rounding of a pixel border is recomputed with the exact formula, so
// every point lands on the same pixel as with unit2Pixel's arithmetic.
struct CartesianMap
{
    CartesianMap(const QRectF& win, int W, int H)
        : x0(win.x()), y0(win.y()), w(win.width()), h(win.height()), W(W), H(H), sx(W / w), sy(H / h)
    {
    }
    // Truncates like toPix and tells whether v lies within rounding of an integer (a pixel border).
    static inline __attribute__((always_inline)) int pix(double v, bool* near)
    {
        constexpr double lim = double(1 << 24);
        if (!(v > -lim && v < lim))
            return toPix(v);
        // Below 2^24 the product differs from the exact quotient by a few ulp, far less than 1e-7.
        const int t = int(v);
        const double f = std::fabs(v - double(t));
        *near = *near || f < 1e-7 || f > 1 - 1e-7;
        return t;
    }
    QPoint exact(const QPointF& p) const
    {
        return QPoint(toPix(W * (p.x() - x0) / w), (H - 1) - toPix((p.y() - y0) * H / h));
    }
    inline __attribute__((always_inline)) QPoint operator()(const QPointF& p) const
    {
        bool near = false;
        const int px = pix((p.x() - x0) * sx, &near);
        const int py = pix((p.y() - y0) * sy, &near);
        if (Q_UNLIKELY(near))
            return exact(p);
        return QPoint(px, int(H) - 1 - py);
    }
    double x0, y0, w, h, W, H, sx, sy;
};

// Tick loops stop after this many ticks, whatever the step (guards against a step lost in rounding).
constexpr int kMaxTicks = 4096;
// A curve's draw cache is dropped beyond this many lines (16 bytes each).
constexpr int kMaxCachedOps = 1 << 21;

} // namespace

LineView::LineView(QWidget* parent, bool pointMode) : QWidget(parent), pointMode(pointMode)
{
    resetTimer = new QTimer(this);
    resetTimer->setSingleShot(true);
    connect(resetTimer, &QTimer::timeout, this, &LineView::unblockReset);
    paintTimer = new QTimer(this);
    paintTimer->setSingleShot(true);
    connect(paintTimer, &QTimer::timeout, this, &LineView::unblockPaint);
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

LineView::~LineView()
{
    qDeleteAll(curves);
}

LvCurve* LineView::addCurve(int colorIndex)
{
    if (colorIndex < 0)
        colorIndex = curves.size();
    auto* c = new LvCurve(QColor::fromRgb(colorTable[colorIndex % 16]));
    curves.append(c);
    fullRefresh();
    return c;
}

void LineView::removeCurve(LvCurve* curve)
{
    const int i = curves.indexOf(curve);
    if (i < 0)
        return;
    curves.remove(i);
    delete curve;
    fullRefresh();
}

void LineView::removeCurves(const LvCurve* keep)
{
    QVector<LvCurve*> kept;
    for (LvCurve* c : qAsConst(curves)) {
        if (c == keep)
            kept.append(c);
        else
            delete c;
    }
    curves = kept;
    bufferValid = false;
}

void LineView::startCurve()
{
    if (!paintBlocked)
        continueDrawing = false;
}

void LineView::finishCurve(bool force)
{
    if (resetBlocked) {
        continueDrawing = false;
        if (force) {
            drawToDblBuf();
            update();
        }
    } else if (force) {
        continueDrawing = false;
        drawToDblBuf();
        update();
    } else {
        if (isVisible())
            drawAndThrottle();
        continueDrawing = false;
    }
}

void LineView::drawAndThrottle()
{
    // Shows the present state at once, then holds further paints for 200 ms and further end-of-curve redraws for
    // 50 ms, so that a fast sequence of short curves cannot saturate the GUI.
    paintBlocked = true;
    paintTimer->start(200);
    drawToDblBuf();
    resetBlocked = true;
    resetTimer->start(50);
    update();
}

void LineView::setColors(const QColor& bg, const QColor& grid, const QColor& fg, const QColor& marker)
{
    background = bg;
    gridColor = grid;
    foreground = fg;
    markerColor = marker;
    fullRefresh();
}

void LineView::setVerticalLines(const QVector<double>& lines)
{
    verticalLines = lines;
    fullRefresh();
}

void LineView::setHorizontalLines(const QVector<double>& lines)
{
    horizontalLines = lines;
    fullRefresh();
}

void LineView::setChanged()
{
    fullRefresh();
}

void LineView::setSelectionMode(LineView::SelectionMode mode)
{
    selMode = mode;
    selRect = QRect();
    updateMask();
}

QRectF LineView::getDataBounds(bool* valid) const
{
    if (valid)
        *valid = boundsValid;
    if (!boundsValid)
        return QRectF(0, 0, 0, 0);
    return boundsYValid ? QRectF(bx0, by0, bx1 - bx0, by1 - by0) : QRectF(bx0, 0, bx1 - bx0, 0);
}

void LineView::resetBounds()
{
    boundsValid = boundsYValid = false;
    bx0 = bx1 = by0 = by1 = 0;
}

QPoint LineView::unit2Pixel(const QPointF& p) const
{
    return CartesianMap(shownWindow, width(), height()).exact(p);
}

QPointF LineView::pixel2Unit(const QPoint& q) const
{
    const double W = width(), H = height();
    return QPointF((q.x() + 0.5) * shownWindow.width() / W + shownWindow.x(),
                   (H - q.y() - 0.5) * shownWindow.height() / H + shownWindow.y());
}

QRectF LineView::getSelection() const
{
    const QPointF p1 = pixel2Unit(selRect.topLeft());
    const QPointF p2 = pixel2Unit(selRect.bottomRight());
    return QRectF(p1, QSizeF(p2.x() - p1.x(), p2.y() - p1.y())).normalized();
}

QPointF LineView::getDataAverage() const
{
    if (curves.isEmpty())
        return QPointF(0, 0);
    const double x0 = shownWindow.x(), x1 = shownWindow.x() + shownWindow.width();
    const bool all = !(shownWindow.width() > 0);
    QPointF sum(0, 0);
    for (const LvCurve* c : curves) {
        double sx = 0, sy = 0;
        int n = 0;
        for (const QPointF& p : c->points) {
            if (all || (x0 <= p.x() && p.x() <= x1)) {
                sx += p.x();
                sy += p.y();
                ++n;
            }
        }
        if (n)
            sum += QPointF(sx / n, sy / n);
    }
    return sum / curves.size();
}

QPixmap LineView::getPixmap()
{
    drawToDblBuf();
    QPixmap pm = bufferPix;
    if (!pm.isNull() && !overlayPix.isNull()) {
        QPainter p(&pm);
        p.drawPixmap(pm.rect(), overlayPix);
    }
    return pm;
}

QRect LineView::calcTagPosition(QString text, int pos, bool vertical)
{
    const QRect br = fontMetrics().boundingRect(text);
    const int hh = br.bottom() - br.top();
    const int ww = br.right() - br.left() + 2;
    const int W = width(), H = height();
    QRect r;
    if (vertical) {
        const int top = pos - hh / 2 + 1;
        r = QRect(QPoint(0, top), QPoint(ww, top + hh));
        if (r.bottom() > H - 1)
            r.moveBottom(H - 1);
        if (r.top() < 0)
            r.moveTop(0);
    } else {
        const int left = pos - ww / 2;
        r = QRect(QPoint(left, H - 1 - hh), QPoint(left + ww, H - 1));
        if (r.right() > W - 1)
            r.moveRight(W - 2);
        if (r.left() < 0)
            r.moveLeft(0);
    }
    return r;
}

void LineView::configPainter(QPainter& painter, int width, QColor color, Qt::PenStyle style, QColor background)
{
    QPen pen = painter.pen();
    pen.setWidth(width);
    pen.setColor(color);
    pen.setStyle(style);
    painter.setPen(pen);
    painter.setBackgroundMode(Qt::OpaqueMode);
    if (background != QColor())
        painter.setBackground(QBrush(background, Qt::SolidPattern));
}

void LineView::makeGrid()
{
    const int W = width(), H = height();
    yTickLabels.clear();
    // The grid lines depend on these only; when they are as before (a marker, colour of the markers or a repaint
    // changed), the grid pixmap is kept and only the overlay is drawn again.
    const GridKey key{size(), shownWindow, unitX, unitY, fixedYStep, yStepKept, background, gridColor, font().key()};
    const bool keepGrid = gridKey.valid && gridKey == key && gridPix.size() == size();
    if (!resetGridPixmaps(!keepGrid)) {
        gridKey = GridKey();
        return;
    }
    gridKey = key;
    gridKey.valid = true;
    const double x0 = shownWindow.x(), y0 = shownWindow.y(), w = shownWindow.width(), h = shownWindow.height();

    QString xLabel, yLabel;
    const Raster r = makeRaster(&xLabel, &yLabel);

    QPainter gp;
    if (!keepGrid)
        gp.begin(&gridPix);
    QPainter op(&overlayPix);
    op.setFont(font());

    configPainter(op, 2, markerColor, Qt::SolidLine, background);
    for (double v : qAsConst(horizontalLines)) {
        const int py = (H - 1) - toPix((v * r.yFactor - y0) * H / h);
        if (py >= 1 && py <= H - 1)
            op.drawLine(0, py, W - 1, py);
    }
    for (double v : qAsConst(verticalLines)) {
        const int px = toPix((v - x0) * W / w);
        if (px >= 0 && px <= W - 1)
            op.drawLine(px, 0, px, H - 1);
    }

    if (gp.isActive())
        configPainter(gp, 0, gridColor, Qt::DotLine, background);
    configPainter(op, 0, gridColor, Qt::DotLine, background);

    const QRect xUnitRect = calcTagPosition(xLabel, 10000, false);
    op.drawText(xUnitRect, Qt::AlignCenter, xLabel);
    if (r.xStep > 0) {
        double x = r.xStart;
        for (int k = 0; x < x0 + w && k < kMaxTicks; ++k, x = r.xStart + k * r.xStep) {
            const int px = toPix(W * (x - x0) / w);
            const double value = std::fabs(x) * 1024 < r.xStep ? 0.0 : x / r.xFactor;
            const QString text = QString::number(value, 'g', 6);
            const QRect rect = calcTagPosition(text, px, false);
            if (rect.intersects(xUnitRect))
                continue;
            if (gp.isActive())
                gp.drawLine(px, 0, px, H - 1);
            op.drawText(rect, Qt::AlignCenter, text);
        }
    }

    const QRect yUnitRect = calcTagPosition(yLabel, -1, true);
    op.drawText(yUnitRect, Qt::AlignCenter, yLabel);
    if (r.yStep > 0) {
        QVector<double> ticks;
        double y = r.yStart;
        for (int k = 0; y < y0 + h && k < kMaxTicks; ++k, y = r.yStart + k * r.yStep)
            ticks.append(y);
        // Enough digits to tell two neighbouring ticks apart, taken where the labels are largest: a window of
        // 10.000 ... 10.010 needs "10.002", "10.004", not "10" for each of them.
        double a = ticks.isEmpty() ? r.yStart : ticks.first();
        if (!ticks.isEmpty() && std::fabs(ticks.last()) > std::fabs(a))
            a = ticks.last();
        const double b = a + (a >= 0 ? -r.yStep : r.yStep);
        const int digits = algoDigits(a / r.yFactor, b / r.yFactor);
        for (double y : qAsConst(ticks)) {
            const int py = (H - 1) - toPix(H * (y - y0) / h);
            double value = 0.0;
            int precision = digits;
            if (!(std::fabs(y) * 1024 < r.yStep)) {
                value = y / r.yFactor;
                if (std::fabs(value) > 1) {
                    int p = 1;
                    while (p < 400 && std::pow(10.0, p) < std::fabs(value))
                        ++p;
                    precision += p;
                }
            }
            const QString text = QString::number(value, 'g', qMin(precision, 17));
            const QRect rect = calcTagPosition(text, py, true);
            if (py + 1 + (rect.height() - 1) > H - 1 || rect.intersects(yUnitRect))
                continue;
            if (gp.isActive())
                gp.drawLine(0, py, W - 1, py);
            op.drawText(rect, Qt::AlignCenter, text);
            yTickLabels.append(text);
        }
    }

    showScaleSummary(r, xLabel, yLabel);
}

bool LineView::resetGridPixmaps(bool grid)
{
    if (grid || gridPix.isNull()) {
        gridPix = QPixmap(std::max(width(), 1), std::max(height(), 1));
        gridPix.fill(background);
        ++gridGeneration;
    }
    overlayPix = QPixmap(gridPix.size());
    overlayPix.fill(Qt::transparent);
    return shownWindow.width() > 0 && shownWindow.height() > 0 && width() > 0 && height() > 0;
}

Raster LineView::makeRaster(QString* xLabel, QString* yLabel)
{
    Raster r(shownWindow, size());
    if (unitX.startsWith(QLatin1Char('-')))
        r.xFactor = 1;
    if (unitY.startsWith(QLatin1Char('-')))
        r.yFactor = 1;
    if (fixedYStep)
        r.yStep = yStepKept;
    yStepKept = r.yStep;
    // The label divisor is the factor of the prefix that the normalisation chose (a power of 1000).
    const char xPrefix = algoNormalize(&r.xFactor, ' ', nullptr, 100);
    const char yPrefix = algoNormalize(&r.yFactor, ' ', nullptr, 100);
    r.xFactor = algoGetPrefixFactor(xPrefix);
    r.yFactor = algoGetPrefixFactor(yPrefix);
    *xLabel = algoGetPrintablePrefix(xPrefix) + unitX.mid(1);
    *yLabel = algoGetPrintablePrefix(yPrefix) + unitY.mid(1);
    return r;
}

void LineView::showScaleSummary(const Raster& r, const QString& xLabel, const QString& yLabel)
{
    if (!statusWidget)
        return;
    const double x0 = shownWindow.x();
    const double xs = r.xStart == x0 + r.xStep ? x0 : r.xStart;
    statusWidget->setText(QStringLiteral("X: %1 %2   + %3 %4/div    Y: %5 %6   + %7 %8/div")
                              .arg(xs / r.xFactor)
                              .arg(xLabel)
                              .arg(r.xStep / r.xFactor)
                              .arg(xLabel)
                              .arg(r.yStart / r.yFactor)
                              .arg(yLabel)
                              .arg(r.yStep / r.yFactor)
                              .arg(yLabel));
}

void LineView::drawToDblBuf()
{
    if (!gridValid) {
        gridValid = true;
        shownWindow = window;
        makeGrid();
        bufferValid = false;
    }
    if (gridPix.isNull() || gridPix.size() != size().expandedTo(QSize(1, 1)))
        makeGrid();
    int total = 0;
    for (const LvCurve* c : qAsConst(curves))
        total += c->points.size();
    bool fromGrid = false;
    if (!bufferValid || (!continueDrawing && total > 0)) {
        const bool reuse = plainUsable();
        bufferPix = reuse ? plainPix : gridPix;
        for (int k = 0; k < curves.size(); ++k)
            curves[k]->drawn = reuse ? plainCurves.at(k).count : 0;
        resetBounds();
        continueDrawing = true;
        bufferValid = true;
        fromGrid = true;
    }
    {
        QPainter p(&bufferPix);
        if (!avgMode) {
            for (LvCurve* c : qAsConst(curves)) {
                configPainter(p, 0, c->color, Qt::SolidLine, background);
                drawCurveToDblBuf(*c, p);
            }
        } else if (!curves.isEmpty()) {
            const int n = curves.first()->points.size();
            bool same = true;
            for (const LvCurve* c : qAsConst(curves))
                same = same && c->points.size() == n;
            if (same) {
                LvCurve avg = *curves.first();
                for (int i = 1; i < n; ++i) {
                    double s = 0;
                    for (const LvCurve* c : qAsConst(curves))
                        s += c->points.at(i).y();
                    avg.points[i].setY(s / curves.size());
                }
                configPainter(p, 0, avg.color, Qt::SolidLine, background);
                drawCurveToDblBuf(avg, p);
                for (LvCurve* c : qAsConst(curves))
                    c->drawn = avg.drawn;
            }
        }
    }
    // Keep the picture without the overlay when it was drawn from the grid and every curve from its cache.
    if (fromGrid) {
        plainValid = !avgMode;
        plainCurves.clear();
        for (const LvCurve* c : qAsConst(curves)) {
            LvDrawCache* t = c->drawCache.peek();
            if (!plainValid || !t || !cacheCurrent(*c) || t->count != c->points.size()) {
                plainValid = false;
                break;
            }
            t->markCount = t->count;
            t->markLines = t->lines.size();
            t->markRuns = t->runs.size();
            t->markDots = t->dots.size();
            plainCurves.append(KeptCurve{c, c->color.rgba(), t->count});
        }
        if (plainValid) {
            plainPix = bufferPix;
            plainGeneration = gridGeneration;
        } else {
            plainPix = QPixmap();
            plainCurves.clear();
        }
    }
    QPainter p(&bufferPix);
    p.drawPixmap(0, 0, overlayPix);
}

bool LineView::cacheCurrent(const LvCurve& curve) const
{
    const LvDrawCache* t = curve.drawCache.peek();
    if (!t || !t->valid)
        return false;
    const QRectF& w = t->window;
    const bool sameWindow = w.x() == shownWindow.x() && w.y() == shownWindow.y() && w.width() == shownWindow.width() &&
                            w.height() == shownWindow.height();
    return t->stamp == curve.points.changeStamp() && sameWindow && t->size == size() && t->stepMode == stepMode &&
           t->pointMode == pointMode && t->count <= curve.points.size();
}

bool LineView::plainUsable() const
{
    if (!plainValid || avgMode || plainGeneration != gridGeneration || plainPix.size() != gridPix.size() ||
        plainCurves.size() != curves.size())
        return false;
    for (int k = 0; k < curves.size(); ++k) {
        const LvCurve* c = curves.at(k);
        const KeptCurve& kept = plainCurves.at(k);
        const LvDrawCache* t = c->drawCache.peek();
        if (kept.curve != c || kept.color != c->color.rgba() || !cacheCurrent(*c) || t->markCount != kept.count)
            return false;
        // New points in an earlier curve would be drawn over the later ones.
        if (c->points.size() != kept.count && k != curves.size() - 1)
            return false;
    }
    return true;
}

void LineView::drawCurveToDblBuf(LvCurve& curve, QPainter& painter)
{
    const CartesianMap map(shownWindow, width(), height());
    LvDrawCache& t = curve.drawCache.get();
    const int n = curve.points.size();
    if (!cacheCurrent(curve)) {
        if (curve.drawn > 0) {
            // Only the new points are due, and they continue a picture drawn without this cache.
            curve.drawCache.reset();
            drawMapped(curve, painter, map);
            return;
        }
        t.clear();
        t.valid = true;
        t.stamp = curve.points.changeStamp();
        t.window = shownWindow;
        t.size = size();
        t.stepMode = stepMode;
        t.pointMode = pointMode;
    }
    // A redraw from the grid paints everything kept; a continued one only what is new.
    // (or, drawn on the kept picture, what came after it).
    const bool continued = curve.drawn > 0 && curve.drawn == t.count;
    const bool resumed = !continued && curve.drawn > 0 && curve.drawn == t.markCount;
    t.paintedLines = continued ? t.lines.size() : resumed ? t.markLines : 0;
    t.paintedRuns = continued ? t.runs.size() : resumed ? t.markRuns : 0;
    t.paintedDots = continued ? t.dots.size() : resumed ? t.markDots : 0;
    traceCurve(curve.points, t, painter, map, true);
    endDraw(t, painter);
    curve.drawn = n;
    // A curve that is one long zigzag across columns would keep a line per point: draw it afresh instead.
    if (t.lines.size() + t.runs.size() + t.dots.size() > kMaxCachedOps)
        curve.drawCache.reset();
}

void LineView::paintNew(LvDrawCache& t, QPainter& painter)
{
    if (t.lines.size() > t.paintedLines)
        painter.drawLines(t.lines.constData() + t.paintedLines, t.lines.size() - t.paintedLines);
    if (t.runs.size() > t.paintedRuns) {
        // A cosmetic line is drawn pixel by pixel; a one-pixel-wide rectangle filled without outline covers the
        // same pixels in one fill.
        const QPen pen = painter.pen();
        const QBrush brush = painter.brush();
        painter.setPen(Qt::NoPen);
        painter.setBrush(pen.color());
        painter.drawRects(t.runs.constData() + t.paintedRuns, t.runs.size() - t.paintedRuns);
        painter.setPen(pen);
        painter.setBrush(brush);
    }
    if (t.dots.size() > t.paintedDots)
        painter.drawPoints(t.dots.constData() + t.paintedDots, t.dots.size() - t.paintedDots);
    t.paintedLines = t.lines.size();
    t.paintedRuns = t.runs.size();
    t.paintedDots = t.dots.size();
}

void LineView::endDraw(LvDrawCache& t, QPainter& painter)
{
    paintNew(t, painter);
    if (t.runOpen)
        painter.fillRect(QRect(QPoint(t.runCol, t.runLo), QPoint(t.runCol, t.runHi)), painter.pen().color());
    // dataBounds: x over all drawn points, y over those in the visible columns.
    if (t.x0 <= t.x1) {
        bx0 = boundsValid ? std::min(bx0, t.x0) : t.x0;
        bx1 = boundsValid ? std::max(bx1, t.x1) : t.x1;
        boundsValid = true;
    }
    if (t.y0 <= t.y1) {
        by0 = boundsYValid ? std::min(by0, t.y0) : t.y0;
        by1 = boundsYValid ? std::max(by1, t.y1) : t.y1;
        boundsYValid = true;
    }
}

void LineView::scrollTo(double x)
{
    continueDrawing = false;
    gridValid = false;
    window.moveLeft(x);
}

void LineView::updateCurves()
{
    if (paintBlocked || !isVisible())
        return;
    paintBlocked = true;
    paintTimer->start(40);
}

namespace {

bool fuzzyEq(double a, double b)
{
    return std::fabs(a - b) * 1e12 <= std::min(std::fabs(a), std::fabs(b));
}

} // namespace

void LineView::setWindow(QRectF win, QString ux, QString uy)
{
    if (fuzzyEq(win.x(), window.x()) && fuzzyEq(win.y(), window.y()) && fuzzyEq(win.width(), window.width()) &&
        fuzzyEq(win.height(), window.height()) && ux == unitX && uy == unitY)
        return;
    if (win.width() > 0 && win.height() > 0)
        window = win;
    unitX = ux;
    unitY = uy;
    gridValid = false;
    update();
}

bool LineView::moveWindow(double x, double pos)
{
    if (x >= window.x() && x <= window.x() + window.width())
        return false;
    if (frozen)
        return true;
    if (!resetBlocked && isVisible())
        drawAndThrottle();
    continueDrawing = false;
    gridValid = false;
    window.moveLeft(x - pos * window.width());
    return true;
}

void LineView::freezeWindow(bool freeze)
{
    frozen = freeze;
    if (freeze)
        window = shownWindow;
    update();
}

void LineView::setAvgMode(bool on)
{
    avgMode = on;
}

void LineView::unblockReset()
{
    resetBlocked = false;
}

void LineView::unblockPaint()
{
    paintBlocked = false;
    update();
}

void LineView::fullRefresh()
{
    continueDrawing = false;
    makeGrid();
    drawToDblBuf();
    updateMask();
    update();
}

void LineView::updateMask()
{
    const QRect r = selRect.normalized();
    if (selMode == SelNone || !r.isValid() || width() <= 0 || height() <= 0) {
        clearMask();
        return;
    }
    const int W = width(), H = height();
    QBitmap bm(size());
    bm.fill(Qt::color1);
    {
        QPainter p(&bm);
        p.setPen(QPen(Qt::color0, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        p.setBrush(Qt::NoBrush);
        switch (selMode) {
        case SelRangeX:
            p.drawLine(r.left(), 0, r.left(), H - 1);
            p.drawLine(r.right(), 0, r.right(), H - 1);
            break;
        case SelPointX:
            p.drawLine(r.left() - 1, 0, r.left() - 1, H - 1);
            p.drawLine(r.left() + 2, 0, r.left() + 2, H - 1);
            break;
        case SelPointY:
            p.drawLine(0, r.top() - 1, W - 1, r.top() - 1);
            p.drawLine(0, r.top() + 2, W - 1, r.top() + 2);
            break;
        case SelZoom:
        case SelZoomFromLeft:
            p.drawLine(r.topLeft(), r.topRight());
            p.drawLine(r.topRight(), r.bottomRight());
            p.drawLine(r.bottomRight(), r.bottomLeft());
            p.drawLine(r.bottomLeft(), r.topLeft());
            if (r.width() > 35 && r.height() > 17) {
                p.setPen(QPen(Qt::color0, 1));
                cutIcon(p, kIconOut, r.right() - 17, r.top() + 2);
                cutIcon(p, kIconIn, r.left() + 2, r.top() + 2);
            }
            break;
        default:
            break;
        }
    }
    setMask(bm);
}

bool LineView::eventFilter(QObject* obj, QEvent* ev)
{
    switch (ev->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        if (obj != this)
            return event(ev);
        return false;
    default:
        return false;
    }
}

void LineView::mousePressEvent(QMouseEvent* ev)
{
    ev->ignore();
    QWidget::mousePressEvent(ev);
    if (ev->button() != Qt::LeftButton || selMode == SelNone)
        return;
    const QPoint p = ev->pos();
    if (selMode == SelZoom || selMode == SelZoomFromLeft) {
        const QRect r = selRect.normalized();
        if (r.isValid() && r.width() >= 18 && r.height() >= 18) {
            const QRect right(r.right() - 17, r.top(), 18, 18);
            const QRect left(r.left(), r.top(), 18, 18);
            const int btn = right.contains(p) ? 1 : left.contains(p) ? 2 : 0;
            if (btn) {
                ev->accept();
                // The receiver reads the selection first; then the rectangle is emptied at the press point.
                emit selAccepted(btn);
                selRect = QRect(p, p - QPoint(1, 1));
                updateMask();
                return;
            }
        }
    }
    selRect = QRect(p, p);
    if (selMode == SelZoomFromLeft)
        selRect.setTopLeft(QPoint(0, p.y()));
    if (selMode == SelZoom || selMode == SelZoomFromLeft)
        selRect.setBottomRight(selRect.topLeft() - QPoint(1, 1));
    // Accepted so that the press does not come back through the parent frame's filter.
    ev->accept();
    emit selected();
    updateMask();
}

void LineView::mouseMoveEvent(QMouseEvent* ev)
{
    QWidget::mouseMoveEvent(ev);
    if (ev->buttons() != Qt::LeftButton || selMode == SelNone)
        return;
    const QPoint p = ev->pos();
    if (selMode == SelPointX || selMode == SelPointY) {
        selRect.moveTo(p.x() - selRect.width() / 2, p.y() - selRect.height() / 2);
    } else {
        selRect.setBottomRight(p);
    }
    emit selected();
    updateMask();
    ev->accept();
}

void LineView::wheelEvent(QWheelEvent* ev)
{
    ev->ignore();
    emit wheelEventReceived(ev);
}

void LineView::paintEvent(QPaintEvent*)
{
    if (!paintBlocked)
        drawToDblBuf();
    QPainter p(this);
    p.drawPixmap(0, 0, bufferPix);
}

void LineView::resizeEvent(QResizeEvent*)
{
    fullRefresh();
    bufferValid = false;
}
