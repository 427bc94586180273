#pragma once
// LineView: the drawing surface of the line displays.
//
// Shows any number of curves (LvCurve, points in physical units) over a grid with tick labels inside a data window.
// It keeps three pixmaps: the grid, a transparent overlay with labels and marker lines, and the double buffer that is
// shown. Growing curves are drawn incrementally into the double buffer; paints are coalesced (40 ms) and throttled
// after a curve ends (200 ms for paints, 50 ms for further end-of-curve redraws). Mouse selections are shown through
// the widget mask, so the parent's background colour shows the outline. The data handling belongs to the plug-in.

#include "displays/lvcurve.h"
#include "displays/raster.h"

#include <algorithm>
#include <limits>

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QLabel;
class QTimer;
class QWheelEvent;

class LineView : public QWidget
{
    Q_OBJECT
public:
    enum SelectionMode { SelNone = 0, SelRangeX = 1, SelPointX = 2, SelPointY = 3, SelZoom = 4, SelZoomFromLeft = 5 };
    Q_ENUM(SelectionMode)

    /// The curve colours (index modulo 16).
    static const QRgb colorTable[16];

    LineView(QWidget* parent, bool pointMode);
    ~LineView() override;

    /// New empty curve coloured from the table (a negative index means the present number of curves); owned by the
    /// view. Full refresh.
    LvCurve* addCurve(int colorIndex);
    /// Deletes a curve of this view (unknown pointers are ignored), then a full refresh.
    void removeCurve(LvCurve* curve);
    /// Deletes every curve but `keep` (may be null); no refresh.
    void removeCurves(const LvCurve* keep);
    const QVector<LvCurve*>& getCurves() const { return curves; }

    /// The next paint redraws all curves, unless paints are blocked.
    void startCurve();
    /// End of a curve or sweep: draws it at once and throttles the following paints.
    void finishCurve(bool force);

    void setColors(const QColor& background, const QColor& grid, const QColor& foreground, const QColor& marker);
    void setVerticalLines(const QVector<double>& lines);
    void setHorizontalLines(const QVector<double>& lines);
    void setChanged();
    const QVector<double>& getVerticalLines() const { return verticalLines; }
    const QVector<double>& getHorizontalLines() const { return horizontalLines; }
    void setStatusWidget(QLabel* label) { statusWidget = label; }
    void setSelectionMode(LineView::SelectionMode mode);
    LineView::SelectionMode getSelectionMode() const { return selMode; }
    QRect getSelRect() const { return selRect; }

    QRectF getWindow(bool shown) const { return shown ? shownWindow : window; }
    QString getUnitX() const { return unitX; }
    QString getUnitY() const { return unitY; }
    /// Bounding box of the points drawn since the last full redraw; `valid` tells whether any was drawn.
    QRectF getDataBounds(bool* valid = nullptr) const;

    QPoint unit2Pixel(const QPointF& p) const;
    virtual QPointF pixel2Unit(const QPoint& q) const;
    /// The selection rectangle in physical units (normalised).
    QRectF getSelection() const;
    QPointF getDataAverage() const;
    /// The present picture with its overlay.
    QPixmap getPixmap();

    QRect calcTagPosition(QString text, int pos, bool vertical);
    static void configPainter(QPainter& painter, int width, QColor color, Qt::PenStyle style, QColor background);

    virtual void makeGrid();
    virtual void drawToDblBuf();
    virtual void drawCurveToDblBuf(LvCurve& curve, QPainter& painter);

    void setStepMode(bool on) { stepMode = on; }
    bool isStepMode() const { return stepMode; }
    bool isPointMode() const { return pointMode; }
    void setFixedYStep(bool on) { fixedYStep = on; }
    bool isFixedYStep() const { return fixedYStep; }
    double getYStepKept() const { return yStepKept; }
    bool isAvgMode() const { return avgMode; }
    bool isFrozen() const { return frozen; }
    bool isPaintBlocked() const { return paintBlocked; }
    bool isResetBlocked() const { return resetBlocked; }
    bool isGridValid() const { return gridValid; }
    /// The Y tick labels drawn at the last grid rebuild, bottom to top.
    const QStringList& getTickLabelsY() const { return yTickLabels; }
    /// Scrolls the window to start at `x` without drawing: the grid is rebuilt and all curves redrawn at the next
    /// paint.
    void scrollTo(double x);

public slots:
    void updateCurves();
    void setWindow(QRectF window, QString unitX, QString unitY);
    bool moveWindow(double x, double pos);
    void freezeWindow(bool freeze);
    void setAvgMode(bool on);
    void unblockReset();
    void unblockPaint();

signals:
    void selected();
    void selAccepted(int btnNo);
    void wheelEventReceived(QWheelEvent* ev);

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override;
    void mousePressEvent(QMouseEvent* ev) override;
    void mouseMoveEvent(QMouseEvent* ev) override;
    void wheelEvent(QWheelEvent* ev) override;
    void paintEvent(QPaintEvent* ev) override;
    void resizeEvent(QResizeEvent* ev) override;

    /// clear continueDrawing, makeGrid, drawToDblBuf, mask, update.
    void fullRefresh();
    /// Re-creates the grid (background) and overlay (transparent) pixmaps at the widget size; false when there is
    /// nothing to draw a grid for (no positive window or widget size).
    bool resetGridPixmaps(bool grid = true);
    /// The raster of the shown window with label divisors, and the axis labels (prefix and unit).
    Raster makeRaster(QString* xLabel, QString* yLabel);
    /// The scale summary in the status widget, if there is one.
    void showScaleSummary(const Raster& r, const QString& xLabel, const QString& yLabel);
    void drawAndThrottle();
    void updateMask();
    /// Draws the new segments of `curve`, mapping points with `map` (unit -> pixel). Segments inside one pixel column
    /// are merged into one vertical line from the smallest to the largest pixel they reach, which gives the same
    /// picture as drawing each of them, so a curve of a million points costs about one line per column.
    template <class Map> void drawMapped(LvCurve& curve, QPainter& painter, Map map);
    /// Maps the points from t.count on and appends their lines (or points) to `t`, handing them to the painter in
    /// batches. With `keep` the lines stay in `t` (a cache); without, they are dropped once painted.
    template <class Map> void traceCurve(const LvPoints& points, LvDrawCache& t, QPainter& painter, Map map, bool keep);
    /// Paints what `t` holds beyond what was painted, and its pending vertical run; merges its bounds into the view's.
    void endDraw(LvDrawCache& t, QPainter& painter);
    /// Paints the lines, runs and points of `t` not painted yet.
    static void paintNew(LvDrawCache& t, QPainter& painter);
    void resetBounds();

    QVector<LvCurve*> curves;
    QRectF window{0, 0, 10, 1};
    QRectF shownWindow{0, 0, 10, 1};
    // dataBounds: x over all drawn points, y over those in the visible columns.
    double bx0 = 0, bx1 = 0, by0 = 0, by1 = 0;
    bool boundsValid = false, boundsYValid = false;
    QString unitX, unitY;
    bool gridValid = false, continueDrawing = false, bufferValid = false, stepMode = false, pointMode = false;
    bool resetBlocked = false, paintBlocked = false, frozen = false, avgMode = false, fixedYStep = false;
    double yStepKept = 1.0;
    QColor background{Qt::black}, gridColor{QStringLiteral("DarkGray")}, foreground{Qt::white}, markerColor{Qt::cyan};
    QVector<double> verticalLines, horizontalLines;
    QLabel* statusWidget = nullptr;
    SelectionMode selMode = SelNone;
    QRect selRect;
    QPixmap gridPix, overlayPix, bufferPix;
    /// What the grid pixmap was drawn for.
    struct GridKey
    {
        QSize size;
        QRectF window;
        QString unitX, unitY;
        bool fixedYStep = false;
        double yStepKept = 0;
        QColor background, gridColor;
        QString font;
        bool valid = false;
        bool operator==(const GridKey& o) const
        {
            return size == o.size && window.x() == o.window.x() && window.y() == o.window.y() &&
                   window.width() == o.window.width() && window.height() == o.window.height() && unitX == o.unitX &&
                   unitY == o.unitY && fixedYStep == o.fixedYStep && (!fixedYStep || yStepKept == o.yStepKept) &&
                   background == o.background && gridColor == o.gridColor && font == o.font;
        }
    };
    GridKey gridKey;
    quint64 gridGeneration = 0; // counts the times gridPix was drawn
    // The picture of grid and curves without the overlay, as of the last redraw from the grid: a redraw with no new
    // points starts from it, one with new points in the last curve draws just those.
    struct KeptCurve
    {
        const LvCurve* curve;
        QRgb color;
        int count;
    };
    QPixmap plainPix;
    QVector<KeptCurve> plainCurves;
    quint64 plainGeneration = 0;
    bool plainValid = false;
    /// True when `curve`'s draw cache was made for the present window, size, mode and points.
    bool cacheCurrent(const LvCurve& curve) const;
    /// True when the kept picture holds every curve as it is (new points only in the last one).
    bool plainUsable() const;
    QStringList yTickLabels;
    QTimer* resetTimer = nullptr;
    QTimer* paintTimer = nullptr;
};

namespace lineview_detail {

/// Double to a pixel coordinate, truncating toward zero; far-off and non-finite values are pinned to a value far
/// outside any widget so that the conversion stays defined.
inline int toPix(double v)
{
    constexpr double lim = double(1 << 24);
    if (v > -lim && v < lim)
        return int(v);
    return v >= lim ? (1 << 24) : -(1 << 24);
}

} // namespace lineview_detail

template <class Map>
void LineView::traceCurve(const LvPoints& points, LvDrawCache& t, QPainter& painter, Map map, bool keep)
{
    const int n = points.size();
    int i = t.count;
    if (i >= n)
        return;
    const int W = width(), H = height();
    const QPointF* pts = points.constData();
    auto inside = [W, H](const QPoint& q) { return q.x() >= 0 && q.x() < W && q.y() >= 0 && q.y() < H; };
    if (i == 0) {
        t.p1 = map(pts[0]);
        t.in1 = inside(t.p1);
        i = 1;
    }
    // Hands finished lines and points to the painter in batches; without `keep` they are then dropped.
    auto paint = [&] {
        if (t.lines.size() - t.paintedLines < 4096 && t.runs.size() - t.paintedRuns < 4096 &&
            t.dots.size() - t.paintedDots < 4096)
            return;
        paintNew(t, painter);
        if (!keep) {
            t.lines.clear();
            t.runs.clear();
            t.dots.clear();
            t.paintedLines = t.paintedRuns = t.paintedDots = 0;
        }
    };

    // The state in locals: the loop runs once per point.
    QPoint p1 = t.p1;
    bool in1 = t.in1;
    bool runOpen = t.runOpen;
    int runCol = t.runCol, runLo = t.runLo, runHi = t.runHi;
    QPoint lastDot = t.lastDot;
    constexpr double inf = LvDrawCache::inf;
    double lx0 = t.x0, lx1 = t.x1, ly0 = t.y0, ly1 = t.y1;
    auto flush = [&] {
        if (runOpen)
            t.runs.append(QRect(QPoint(runCol, runLo), QPoint(runCol, runHi)));
        runOpen = false;
    };
    const bool steps = stepMode, dotsOnly = pointMode;
    for (; i < n; ++i) {
        const QPoint p2 = map(pts[i]);
        const double x = pts[i].x(), y = pts[i].y();
        lx0 = std::min(lx0, x);
        lx1 = std::max(lx1, x);
        const bool column = unsigned(p2.x()) < unsigned(W);
        ly0 = std::min(ly0, column ? y : inf);
        ly1 = std::max(ly1, column ? y : -inf);
        const bool in2 = column && unsigned(p2.y()) < unsigned(H);
        if (runOpen && p2.x() == runCol && p1.x() == runCol && (in1 || in2)) {
            // The common case of a dense curve: one more point in the column of the open run, whose range already
            // holds the previous point.
            runLo = std::min(runLo, p2.y());
            runHi = std::max(runHi, p2.y());
        } else if (!in1 && !in2) {
            flush();
        } else if (dotsOnly) {
            if (p2 != lastDot) {
                t.dots.append(p2);
                lastDot = p2;
            }
        } else if (p1.x() == p2.x()) {
            // Segments within one column are one vertical line from the lowest to the highest pixel they reach.
            const int lo = std::min(p1.y(), p2.y()), hi = std::max(p1.y(), p2.y());
            if (runOpen && runCol == p1.x()) {
                runLo = std::min(runLo, lo);
                runHi = std::max(runHi, hi);
            } else {
                flush();
                runOpen = true;
                runCol = p1.x();
                runLo = lo;
                runHi = hi;
            }
        } else {
            flush();
            if (steps) {
                const int m = (p1.x() + p2.x()) / 2;
                t.lines.append(QLine(p1, QPoint(m, p1.y())));
                t.lines.append(QLine(QPoint(m, p1.y()), QPoint(m, p2.y())));
                t.lines.append(QLine(QPoint(m, p2.y()), p2));
            } else {
                t.lines.append(QLine(p1, p2));
            }
        }
        p1 = p2;
        in1 = in2;
        if (Q_UNLIKELY((i & 0xffff) == 0))
            paint();
    }
    t.count = n;
    t.p1 = p1;
    t.in1 = in1;
    t.runOpen = runOpen;
    t.runCol = runCol;
    t.runLo = runLo;
    t.runHi = runHi;
    t.lastDot = lastDot;
    t.x0 = lx0;
    t.x1 = lx1;
    t.y0 = ly0;
    t.y1 = ly1;
}

template <class Map> void LineView::drawMapped(LvCurve& curve, QPainter& painter, Map map)
{
    // Without a cache: continue from the points drawn before, with the view's bounds.
    const int n = curve.points.size();
    const int from = std::max(curve.drawn, 1);
    if (from >= n) {
        curve.drawn = n;
        return;
    }
    LvDrawCache t;
    t.count = from;
    t.p1 = map(curve.points.at(from - 1));
    t.in1 = t.p1.x() >= 0 && t.p1.x() < width() && t.p1.y() >= 0 && t.p1.y() < height();
    traceCurve(curve.points, t, painter, map, false);
    endDraw(t, painter);
    curve.drawn = n;
}
