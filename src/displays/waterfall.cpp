#include "displays/waterfall.h"

#include "displays/colortablereader.h"
#include "utilif/qthelpers.h"

#include <QBitmap>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Widgets cannot be larger than this.
constexpr qint64 maxWidgetSide = 16777215;

// Builds a table from anchor colours with segments of 256 steps each: the first entry is the first anchor, and every
// segment adds 255 entries ending on its second anchor.
QVector<QRgb> buildTable(const QVector<QRgb>& anchors)
{
    const int n = 256;
    QVector<QRgb> table;
    table.reserve(1 + (anchors.size() - 1) * (n - 1));
    table.append(anchors[0]);
    for (int s = 0; s + 1 < anchors.size(); ++s) {
        const QRgb a = anchors[s];
        const QRgb b = anchors[s + 1];
        for (int k = 1; k < n; ++k) {
            auto mix = [&](int ca, int cb) { return (ca * (n - 1 - k) + cb * k) / (n - 1); };
            table.append(qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b))));
        }
    }
    return table;
}

int roundHalfUp(double v)
{
    return int(std::floor(v + 0.5));
}

template <typename T> void release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

} // namespace

Waterfall::Waterfall(QWidget* parent) : QWidget(parent)
{
    static const bool registered = [] {
        qRegisterMetaType<Waterfall::SelectionMode>("Waterfall::SelectionMode");
        qRegisterMetaType<Waterfall::SelectionList>("Waterfall::SelectionList");
        return true;
    }();
    Q_UNUSED(registered);
    repaintTimer.setSingleShot(true);
    connect(&repaintTimer, &QTimer::timeout, this, [this] { update(); });
    qth_setWidgetColor(this, Qt::black, false);
    colors = buildTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    setRange(260, 260);
    setCursor(Qt::CrossCursor);
    setColorCoding(0);
}

Waterfall::~Waterfall() = default;

bool Waterfall::setRange(int x, int y)
{
    x = qMax(x, 0);
    y = qMax(y, 0);
    rangeX = x;
    rangeY = y;
    img = QImage();
    const qint64 n = qint64(x) * y;
    bool ok = n <= maxPixels;
    if (ok && n > 0) {
        try {
            img = QImage(x, y, QImage::Format_RGB32);
            ok = !img.isNull();
            if (ok) {
                for (auto* v : {&fwdValues, &bwdValues})
                    v->resize(size_t(n));
                for (auto* v : {&fwdValid, &bwdValid, &fwdComplete, &bwdComplete})
                    v->resize(size_t(n));
            }
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    } else if (ok) {
        freeBuffers();
    }
    if (!ok) {
        // Nothing half-made stays behind: without buffers every pixel write is ignored.
        freeBuffers();
        rangeX = 0;
        rangeY = 0;
        return false;
    }
    if (!img.isNull())
        img.fill(0);
    reset();
    applyWidgetSize();
    return true;
}

void Waterfall::freeBuffers()
{
    release(fwdValues);
    release(bwdValues);
    release(fwdValid);
    release(bwdValid);
    release(fwdComplete);
    release(bwdComplete);
    img = QImage();
}

int Waterfall::scaledWidth() const
{
    const qint64 w = scale >= 1 ? qint64(rangeX) * scale : rangeX / -scale;
    return int(qMin(w, maxWidgetSide));
}

int Waterfall::scaledHeight() const
{
    const qint64 h = scale >= 1 ? qint64(rangeY) * scale : rangeY / -scale;
    return int(qMin(h, maxWidgetSide));
}

int Waterfall::calcOrientation(int degrees)
{
    return int(degrees / 90.0 + 0.5);
}

void Waterfall::applyWidgetSize()
{
    const int q = quarter();
    if (q == 1 || q == 3)
        setFixedSize(scaledHeight(), scaledWidth());
    else
        setFixedSize(scaledWidth(), scaledHeight());
}

void Waterfall::setSelectionMode(Waterfall::SelectionMode mode)
{
    selectionList.clear();
    selectionMode = mode;
    clearMask();
}

void Waterfall::paint(int x, int y)
{
    if (!hasBuffers() || x < 0 || y < 0 || x >= rangeX || y >= rangeY)
        return;
    const size_t i = size_t(y) * size_t(rangeX) + size_t(x);
    const bool valid = displayFwd ? fwdValid[i] : bwdValid[i];
    if (valid && !img.isNull())
        reinterpret_cast<QRgb*>(img.scanLine(y))[x] = colorOf(displayFwd ? fwdValues[i] : bwdValues[i]);
    if (!repaintTimer.isActive())
        repaintTimer.start(40);
}

void Waterfall::paint()
{
    if (img.isNull() || !hasBuffers())
        return;
    const int* values = displayFwd ? fwdValues.data() : bwdValues.data();
    const char* valid = displayFwd ? fwdValid.data() : bwdValid.data();
    // Row by row: the result is the same in any order, and rows are what the memory is laid out in.
    for (int y = 0; y < rangeY; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const size_t row = size_t(y) * size_t(rangeX);
        for (int x = 0; x < rangeX; ++x)
            line[x] = valid[row + x] ? colorOf(values[row + x]) : 0;
    }
    if (!repaintTimer.isActive())
        repaintTimer.start(40);
}

void Waterfall::setChanged()
{
    paint();
    update();
}

void Waterfall::setLine(bool fwd, int y, int x0, const int* values, int count, bool mirrored)
{
    if (!hasBuffers() || count <= 0 || y < 0 || y >= rangeY || x0 < 0 || x0 >= rangeX)
        return;
    const int step = mirrored ? -1 : 1;
    const int xEnd = x0 + step * (count - 1);
    if (xEnd < 0 || xEnd >= rangeX)
        return;
    const size_t row = size_t(y) * size_t(rangeX);
    int* vals = (fwd ? fwdValues.data() : bwdValues.data()) + row;
    char* valid = (fwd ? fwdValid.data() : bwdValid.data()) + row;
    char* complete = (fwd ? fwdComplete.data() : bwdComplete.data()) + row;
    const bool shown = fwd == displayFwd && !img.isNull();
    QRgb* line = shown ? reinterpret_cast<QRgb*>(img.scanLine(y)) : nullptr;
    int x = x0;
    for (int k = 0; k < count; ++k, x += step) {
        const int v = values[k];
        vals[x] = v;
        valid[x] = 1;
        complete[x] = 1;
        if (line)
            line[x] = colorOf(v);
    }
    if (shown && !repaintTimer.isActive())
        repaintTimer.start(40);
}

bool Waterfall::getValue(int x, int y, bool fwd, int* value) const
{
    if (!hasBuffers() || x < 0 || y < 0 || x >= rangeX || y >= rangeY)
        return false;
    const size_t i = size_t(y) * size_t(rangeX) + size_t(x);
    if (!(fwd ? fwdValid[i] : bwdValid[i]))
        return false;
    if (value)
        *value = fwd ? fwdValues[i] : bwdValues[i];
    return true;
}

bool Waterfall::getValue(int x, int y, int* value) const
{
    return getValue(x, y, displayFwd, value);
}

bool Waterfall::getValue(QPoint p, int& x, int& y, int& value) const
{
    const QPoint d = pix2ScanCoord(p);
    x = d.x();
    y = d.y();
    return getValue(x, y, displayFwd, &value);
}

bool Waterfall::getEmpty(bool fwd) const
{
    if (!hasBuffers())
        return true;
    const std::vector<char>& valid = fwd ? fwdValid : bwdValid;
    const size_t last = size_t(rangeY - 1) * size_t(rangeX);
    for (size_t x = 0; x < size_t(rangeX); ++x) {
        if (valid[x] || valid[last + x])
            return false;
    }
    return true;
}

void Waterfall::getDataRange(int& min, int& max, bool complete) const
{
    min = max = 0;
    if (!hasBuffers())
        return;
    const std::vector<char>& taken =
        complete ? (displayFwd ? fwdComplete : bwdComplete) : (displayFwd ? fwdValid : bwdValid);
    const std::vector<int>& values = displayFwd ? fwdValues : bwdValues;
    const size_t n = taken.size();
    size_t first = 0;
    while (first < n && !taken[first])
        ++first;
    if (first == n)
        return;
    min = max = values[first];
    // The mean step between successive values sets how far a new extreme may lie from its neighbour: isolated
    // spikes (more than five mean steps away) do not stretch the range.
    double sum = 0;
    qint64 count = 0;
    qint64 prev = values[first];
    for (size_t i = first + 1; i < n; ++i) {
        if (!taken[i])
            continue;
        sum += std::abs(double(values[i] - prev));
        prev = values[i];
        ++count;
    }
    if (count == 0)
        return;
    const qint64 limit = qint64(5.0 * sum / double(count));
    prev = values[first];
    for (size_t i = first + 1; i < n; ++i) {
        if (!taken[i])
            continue;
        const qint64 v = values[i];
        if (v < min && v > prev - limit)
            min = int(v);
        if (v > max && v < prev + limit)
            max = int(v);
        prev = v;
    }
}

const QRgb* Waterfall::getColorList(int* count) const
{
    if (count)
        *count = colors.size();
    return colors.constData();
}

void Waterfall::setScale(int s)
{
    if (s == 0)
        s = 1; // not a scale; callers map it, but a stray 0 must not divide anything
    if (s == scale)
        return;
    const double g0 = scale >= 1 ? scale : 1.0 / std::abs(scale);
    double g1;
    if (s >= 1)
        g1 = qMin(s, 20);
    else if (s >= -19)
        g1 = 1.0 / std::abs(s);
    else
        g1 = 0.05;
    if (!selectionList.isEmpty())
        selectionZoom(g1 / g0);
    scale = qBound(-20, s, 20);
    applyWidgetSize();
    setChanged();
}

void Waterfall::updateFactor()
{
    const double span = double(gradEnd) - double(gradStart);
    factor = span == 0 ? 1e9 : colors.size() / span;
}

void Waterfall::setGradation(int start, int end)
{
    const bool changed = start != gradStart || end != gradEnd;
    gradStart = start;
    gradEnd = end;
    updateFactor();
    if (changed)
        setChanged();
}

void Waterfall::setFull()
{
    std::fill(fwdComplete.begin(), fwdComplete.end(), 0);
    std::fill(bwdComplete.begin(), bwdComplete.end(), 0);
}

void Waterfall::reset()
{
    for (auto* v : {&fwdValid, &bwdValid, &fwdComplete, &bwdComplete})
        std::fill(v->begin(), v->end(), 0);
    if (!img.isNull())
        img.fill(0);
    selectionList.clear();
    emit selected(NoSelection, SelectionList());
    update();
}

void Waterfall::setValueFwd(int x, int y, int yOffset, int value)
{
    setValue(true, x, y, yOffset, value);
}

void Waterfall::setValueBwd(int x, int y, int yOffset, int value)
{
    setValue(false, x, y, yOffset, value);
}

void Waterfall::setValue(bool fwd, int x, int y, int yOffset, int value)
{
    const qint64 i = qint64(yOffset) + x;
    if (!hasBuffers() || i < 0 || i >= qint64(fwdValues.size()))
        return;
    (fwd ? fwdValues : bwdValues)[size_t(i)] = value;
    (fwd ? fwdValid : bwdValid)[size_t(i)] = 1;
    (fwd ? fwdComplete : bwdComplete)[size_t(i)] = 1;
    if (fwd == displayFwd)
        paint(x, y);
}

void Waterfall::setDirection(bool forward)
{
    if (forward == displayFwd)
        return;
    displayFwd = forward;
    setChanged();
}

void Waterfall::getBuffers(bool fwd, int** buffer, char** valid)
{
    if (buffer)
        *buffer = hasBuffers() ? (fwd ? fwdValues.data() : bwdValues.data()) : nullptr;
    if (valid)
        *valid = hasBuffers() ? (fwd ? fwdValid.data() : bwdValid.data()) : nullptr;
}

void Waterfall::setColorTable(const QVector<QRgb>& table)
{
    colors = table;
    updateFactor();
    setChanged();
}

void Waterfall::setColorCoding(int colorCoding)
{
    if (colorCoding == 1)
        setColorTable(buildTable({qRgb(255, 0, 0), qRgb(255, 255, 0), qRgb(0, 255, 0), qRgb(0, 255, 255),
                                  qRgb(0, 0, 255), qRgb(255, 0, 255)}));
    else
        setColorTable(buildTable({qRgb(0, 0, 0), qRgb(255, 255, 255)}));
}

bool Waterfall::setColorCoding(QString lutFile)
{
    QVector<QRgb> table;
    if (!ColorTableReader::read(lutFile, &table))
        return false;
    setColorTable(table);
    return true;
}

void Waterfall::set3DMode(bool) {}

QImage Waterfall::get3DImage(QPoint*)
{
    return QImage();
}

QImage Waterfall::get3DImage()
{
    return QImage();
}

void Waterfall::selectionZoom(double f)
{
    for (QRect& r : selectionList)
        r.setCoords(roundHalfUp(r.left() * f), roundHalfUp(r.top() * f), roundHalfUp(r.right() * f),
                    roundHalfUp(r.bottom() * f));
}

void Waterfall::setFixXY(bool fix)
{
    fixXY = fix;
}

void Waterfall::setRotation(int rot)
{
    rotation = int(rot * 360 * 1.52587890625e-5);
    applyWidgetSize();
    update();
}

// Widget pixels to scaled image pixels. For quarter turns 1 and 3 this is the exact inverse of the drawing also for
// frames that are not square.
QPoint Waterfall::retransformCoord(QPoint p) const
{
    const int w = scaledWidth();
    const int h = scaledHeight();
    switch (quarter()) {
    case 1:
        return QPoint(w - 1 - p.y(), p.x());
    case 2:
        return QPoint(w - 1 - p.x(), h - 1 - p.y());
    case 3:
        return QPoint(p.y(), h - 1 - p.x());
    default:
        return p;
    }
}

QRect Waterfall::retransformCoord(QRect r) const
{
    return QRect(retransformCoord(r.topLeft()), retransformCoord(r.bottomRight()));
}

void Waterfall::transformCoord(QPoint& p, bool forward) const
{
    if (forward) {
        p = retransformCoord(p);
        return;
    }
    const int w = scaledWidth();
    const int h = scaledHeight();
    switch (quarter()) {
    case 1:
        p = QPoint(p.y(), w - 1 - p.x());
        break;
    case 2:
        p = QPoint(w - 1 - p.x(), h - 1 - p.y());
        break;
    case 3:
        p = QPoint(h - 1 - p.y(), p.x());
        break;
    default:
        break;
    }
}

QPoint Waterfall::pix2ScanCoord(const QPoint& p) const
{
    const QPoint r = retransformCoord(p);
    if (scale >= 1)
        return QPoint(r.x() / scale, r.y() / scale);
    return QPoint(r.x() * -scale, r.y() * -scale);
}

void Waterfall::normalizeRects(QVector<QRect>& rects)
{
    for (QRect& r : rects)
        r = r.normalized();
}

void Waterfall::normalizeRectsCenter(QVector<QRect>& rects)
{
    for (QRect& r : rects) {
        const int w = r.right() - r.left();
        const int h = r.bottom() - r.top();
        const int cx = (r.left() + r.right()) / 2;
        const int cy = (r.top() + r.bottom()) / 2;
        const int x1 = cx - w / 2;
        const int y1 = cy - h / 2;
        r.setCoords(x1, y1, x1 + w, y1 + h);
    }
}

void Waterfall::gridPointsXChanged(int points)
{
    gridPointsX = points;
    if (selectionMode != NoSelection)
        update();
}

void Waterfall::gridPointsYChanged(int points)
{
    gridPointsY = points;
    if (selectionMode != NoSelection)
        update();
}

void Waterfall::gridFixXy(bool on)
{
    gridFixXY = on;
}

void Waterfall::setFixedColorCoding(bool on)
{
    fixedColorCoding = on;
    setChanged();
}

void Waterfall::draw(QPainter& painter) const
{
    if (img.isNull())
        return;
    const int q = quarter();
    const bool turned = q >= 1 && q <= 3;
    if (scale == 1 && !turned) {
        painter.drawImage(0, 0, img);
        return;
    }
    // The painter renders only the exposed part, so a high zoom never makes a full-size copy of the image. A
    // magnified, turned image is turned first (a plain memory rotation of the small image), which is much cheaper
    // than a rotated and scaled draw; otherwise the painter does both at once.
    const double f = scale >= 1 ? scale : 1.0 / -scale;
    const double w = rangeX * f;
    const double h = rangeY * f;
    const bool preTurn = turned && scale >= 2;
    QTransform t;
    if (turned && !preTurn) {
        if (q == 1)
            t.translate(0, w);
        else if (q == 2)
            t.translate(w, h);
        else
            t.translate(h, 0);
        t.rotate(q * -90.0);
    }
    t.scale(f, f);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.setTransform(t, true);
    painter.drawImage(0, 0, preTurn ? img.transformed(QTransform().rotate(q * -90.0)) : img);
    painter.restore();
}

void Waterfall::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    draw(painter);
    painter.end();
    if (selectionMode != NoSelection)
        paintSelection();
}

QRect Waterfall::marker(const QPoint& pos)
{
    QRect r(QPoint(0, 0), QPoint(9, 9));
    r.moveCenter(pos);
    return r;
}

QPoint Waterfall::roundedPos(const QMouseEvent* event) const
{
    return QPoint(roundHalfUp(event->localPos().x()), roundHalfUp(event->localPos().y()));
}

void Waterfall::emitSelection()
{
    SelectionList copy = selectionList;
    if (selectionMode == PointSelection || selectionMode == PathSelection)
        normalizeRectsCenter(copy);
    else if (selectionMode != AngleSelection) // a line keeps its direction: it is the new x axis
        normalizeRects(copy);
    emit selected(selectionMode, copy);
}

void Waterfall::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragStarted = false;
    const QPoint p = roundedPos(event);
    switch (selectionMode) {
    case RangeSelection:
    case AngleSelection:
    case GridSelection:
        selectionList.clear();
        emit selected(NoSelection, SelectionList());
        selectionList.append(QRect(p, p));
        update();
        break;
    case PointSelection:
        selectionList.clear();
        selectionList.append(marker(p));
        break;
    case PathSelection:
        if (selectionList.size() < maxPathMarkers)
            selectionList.append(marker(p));
        break;
    default:
        return;
    }
    if (selectionMode == PointSelection || selectionMode == PathSelection) {
        paintSelection();
        emitSelection();
    }
}

void Waterfall::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    if (selectionMode == NoSelection) {
        if (selectionList.isEmpty())
            startDrag();
        return;
    }
    if (selectionList.isEmpty())
        return;
    const QPoint p = roundedPos(event);
    QRect& first = selectionList.first();
    switch (selectionMode) {
    case RangeSelection:
    case GridSelection:
        if (selectionMode == RangeSelection ? fixXY : gridFixXY) {
            const int dx = p.x() - first.left();
            const int dy = p.y() - first.top();
            const int side = qMax(std::abs(dx), std::abs(dy));
            first.setRight(first.left() + (dx >= 0 ? side : -side));
            first.setBottom(first.top() + (dy >= 0 ? side : -side));
        } else {
            first.setBottomRight(p);
        }
        break;
    case AngleSelection:
        first.setBottomRight(p);
        break;
    case PointSelection:
        first = marker(p);
        break;
    case PathSelection:
        selectionList.last() = marker(p);
        break;
    default:
        break;
    }
    paintSelection();
    emitSelection();
}

void Waterfall::startDrag()
{
    if (dragStarted || img.isNull())
        return;
    QWidget* container = nullptr;
    emit encodeMetadata(&container);
    if (!container)
        return;
    dragStarted = true;
    auto* drag = new QDrag(container);
    auto* mime = new QMimeData;
    mime->setImageData(img.copy());
    drag->setMimeData(mime);
    drag->setPixmap(QPixmap::fromImage(img.scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    drag->setHotSpot(QPoint(-5, -7));
    drag->exec(Qt::CopyAction);
}

void Waterfall::paintSelection()
{
    QBitmap bitmap(size());
    bitmap.fill(Qt::color1);
    QPainter p(&bitmap);
    p.setPen(QPen(Qt::color0, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.setBrush(Qt::NoBrush);
    auto circle = [&p](const QPoint& c) { p.drawEllipse(QRect(c.x() - 3, c.y() - 3, 6, 6)); };
    if (!selectionList.isEmpty()) {
        const QRect& r = selectionList.first();
        switch (selectionMode) {
        case RangeSelection:
            p.drawRect(r.normalized());
            break;
        case AngleSelection:
            p.drawLine(r.topLeft(), r.bottomRight());
            circle(r.topLeft());
            circle(r.bottomRight());
            break;
        case PointSelection:
            p.drawEllipse(r);
            break;
        case PathSelection:
            for (int i = 0; i < selectionList.size(); ++i) {
                p.drawEllipse(selectionList[i]);
                if (i > 0)
                    p.drawLine(selectionList[i - 1].center(), selectionList[i].center());
            }
            break;
        case GridSelection: {
            const QRect n = r.normalized();
            p.drawRect(n);
            const int w = n.right() - n.left();
            const int h = n.bottom() - n.top();
            const int dx = gridPointsX >= 2 ? qMax(w / (gridPointsX - 1), 3) : 2 * w + 6;
            const int dy = gridPointsY >= 2 ? qMax(h / (gridPointsY - 1), 3) : 2 * h + 6;
            const bool circles = dx >= 6 && dy >= 6;
            if (!circles)
                p.setPen(QPen(Qt::color0, 1));
            for (qint64 x = n.left(); x <= n.right() + dx / 10; x += dx) {
                for (qint64 y = n.top(); y <= n.bottom() + dy / 10; y += dy) {
                    if (circles)
                        circle(QPoint(int(x), int(y)));
                    else
                        p.drawPoint(int(x), int(y));
                }
            }
            break;
        }
        default:
            break;
        }
    }
    p.end();
    setMask(bitmap);
}
