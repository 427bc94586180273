#include "displays/lineviewplugin.h"

#include "displays/scalegraph.h"
#include "utilif/algo.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

namespace {

constexpr double kQuarterOctaveUp = 1.189207115002721;    // 2^(1/4)
constexpr double kQuarterOctaveDown = 0.8408964152537146; // 2^(-1/4)

double clampTo(double v, double lo, double hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

} // namespace

// ---- ranges ----

void LineViewPlugin::autoscaleRgY(bool force)
{
    if (!widgetAlive)
        return;
    if (!force && autoscaleClock.isValid() && autoscaleClock.elapsed() <= 400)
        return;
    autoscaleClock.start();
    autoscaleTimer->start(800);

    bool valid = false;
    const QRectF b = view->getDataBounds(&valid);
    QRectF u = b;
    bool uValid = valid;
    if (prevValid) {
        if (uValid) {
            const double l = std::min(u.left(), prevBounds.left()), r = std::max(u.right(), prevBounds.right());
            const double t = std::min(u.top(), prevBounds.top()), bo = std::max(u.bottom(), prevBounds.bottom());
            u = QRectF(l, t, r - l, bo - t);
        } else {
            u = prevBounds;
            uValid = true;
        }
    }
    const QRectF win = view->getWindow(false);
    const int mode = getYMode();
    // Follows the data with a 25 % margin on both sides, and moves only when an edge is off by more than that.
    auto follow = [](double start, double size, double winStart, double winSize, double* ns, double* nsz) {
        double m = size * 0.25, t = 1.01 * m;
        if (m == 0) {
            m = 1e-6;
            t = 1.01e-6;
        }
        *ns = start - m;
        *nsz = size + 2 * m;
        return std::fabs(*ns - winStart) > t || std::fabs(*ns + *nsz - (winStart + winSize)) > t;
    };
    double ns = 0, nsz = 0;
    if (mode == yMaximum && zoomYMax > zoomYMin) {
        setRangeEditsY(zoomYMin, zoomYMax);
        onRgYEdit();
    } else if (mode != yManual && uValid && follow(u.y(), u.height(), win.y(), win.height(), &ns, &nsz)) {
        setRangeEditsY(ns, nsz);
        onRgYEdit();
    }
    if (parametric && !hasXManual() && uValid && follow(u.x(), u.width(), win.x(), win.width(), &ns, &nsz)) {
        setRangeEditsX(ns, nsz);
        onRgXEdit();
    }
    prevBounds = b;
    prevValid = valid;
}

void LineViewPlugin::onRgYEdit()
{
    const double minWidth = std::fabs(meta.yScale);
    edYWidth->setMinimum(minWidth);
    const double start = edYStart->getValue();
    double width = edYWidth->getValue();
    if (width < minWidth) {
        width = minWidth;
        const QSignalBlocker b(edYWidth);
        edYWidth->setValue(width);
    }
    const QRectF win = view->getWindow(false);
    view->setWindow(QRectF(win.x(), start, win.width(), width), meta.unitXText, meta.unitValText);
    scaleGraph->setWindow(QRectF(0, start, 0, width));
}

void LineViewPlugin::onRgYModeChg(int mode)
{
    if (mode < 0 || mode >= cbYMode->count())
        mode = yAuto;
    {
        const QSignalBlocker b(cbYMode);
        cbYMode->setCurrentIndex(mode);
    }
    const bool manual = mode == yManual;
    {
        const QSignalBlocker b(btnYManual);
        btnYManual->setChecked(manual);
    }
    btnZoomIn->setEnabled(manual);
    btnZoomOut->setEnabled(manual);
    edYStart->setEnabled(manual);
    edYWidth->setEnabled(manual);
    setSelectMode(false, LineView::SelNone);
    view->setFixedYStep(mode == yFixedDiv);
    view->setChanged();
    if (!manual)
        autoscaleRgY(true);
}

void LineViewPlugin::onRgYManuChg(bool on)
{
    const int mode = getYMode();
    if (on && mode != yManual)
        onRgYModeChg(yManual);
    else if (!on && mode == yManual)
        onRgYModeChg(yAuto);
    else
        onRgYModeChg(mode);
}

void LineViewPlugin::zoomY(double f, QPoint c)
{
    const QRectF win = view->getWindow(false);
    const double y0 = win.y(), h = win.height();
    double centre;
    if (c.isNull()) {
        const QPointF a = view->getDataAverage();
        centre = y0 + h / 2;
        const double d = std::trunc(h * f * 0.4);
        if (a.y() < centre - d)
            centre = a.y() + d;
        if (centre + d < a.y())
            centre = a.y() - d;
    } else {
        centre = view->pixel2Unit(c).y();
    }
    const double start = y0 * f + centre * (1 - f);
    const double height = (y0 + h) * f + centre * (1 - f) - start;
    setRangeEditsY(start, height);
    onRgYEdit();
}

void LineViewPlugin::onRgYDec()
{
    zoomY(0.7071067811865475, QPoint());
}

void LineViewPlugin::onRgYInc()
{
    zoomY(1.4142135623730951, QPoint());
}

void LineViewPlugin::updateRgXBoxes()
{
    xFromView = hasXManual() || !meta.hasOrder;
    edXStart->setEnabled(xFromView && (parametric || meta.hasOrder));
    chkRolling->setEnabled(!parametric && !meta.hasOrder);
    edXWidth->setEnabled(xFromView);
    btnXEnlarge->setEnabled(xFromView);
    btnXReduce->setEnabled(xFromView);
    char prefix = ' ';
    const QString unit = algoGetBaseUnit(meta.unitX, &prefix, nullptr);
    edXStart->setUnit(unit);
    edXWidth->setUnit(unit);
    if (!xFromView) {
        setRangeEditsX(meta.x0, (meta.pointsPerLine - 1) * meta.dx);
    } else {
        const QRectF win = view->getWindow(false);
        setRangeEditsX(meta.hasOrder || parametric ? win.x() : 0.0, win.width());
    }
    const bool lineControls = meta.hasOrder && !parametric;
    spLines->setEnabled(lineControls);
    chkAverage->setEnabled(lineControls);
    if (!lineControls)
        chkAverage->setChecked(false);
}

void LineViewPlugin::updateRgYBoxes()
{
    char prefix = ' ';
    const QString unit = algoGetBaseUnit(meta.unitVal, &prefix, nullptr);
    edYStart->setUnit(unit);
    edYWidth->setUnit(unit);
    edYWidth->setMinimum(std::fabs(meta.yScale));
    const QRectF win = view->getWindow(false);
    setRangeEditsY(win.y(), win.height());
}

void LineViewPlugin::onRgXEdit()
{
    double start = edXStart->getValue();
    double width = edXWidth->getValue();
    if (!parametric) {
        const double lo = std::fabs(meta.dx), hi = (maxPoints - 1) * std::fabs(meta.dx);
        const double clamped = clampTo(width, lo, hi);
        if (clamped != width) {
            widthClamped = true;
            width = clamped;
            setRangeEditsX(start, width);
        } else if (widthClamped && initialXWidth > 0) {
            start = initialXMin;
            width = initialXWidth;
            setRangeEditsX(start, width);
            widthClamped = false;
        }
    }
    const QRectF win = view->getWindow(false);
    QRectF nw;
    if (!meta.hasOrder && !parametric) {
        const double right = win.x() + win.width();
        nw = QRectF(isRolling() ? right - width : 0.0, win.y(), width, win.height());
    } else {
        nw = QRectF(start, win.y(), width, win.height());
    }
    view->setWindow(nw, meta.unitXText, meta.unitValText);
    scaleGraph->setWindow(view->getWindow(false));
}

void LineViewPlugin::onRgXManuChg(bool on)
{
    {
        const QSignalBlocker b1(btnXManual), b2(chkXManual);
        btnXManual->setChecked(on);
        chkXManual->setChecked(on);
    }
    updateRgXBoxes();
    onRgXEdit();
    setSelectMode(false, LineView::SelNone);
}

void LineViewPlugin::zoomX(double f, QPoint c)
{
    if (!(hasXManual() || !meta.hasOrder))
        return;
    const QRectF win = view->getWindow(false);
    const double centre = c.isNull() ? win.x() + win.width() / 2 : view->pixel2Unit(c).x();
    if (!meta.hasOrder && !parametric) {
        const double dx = std::fabs(meta.dx);
        setRangeEditsX(edXStart->getValue(), clampTo(f * win.width(), dx, dx * (maxPoints - 1)));
    } else {
        const double start = win.x() * f + centre * (1 - f);
        const double width = (win.x() + win.width()) * f + centre * (1 - f) - start;
        setRangeEditsX(start, width);
    }
    onRgXEdit();
}

void LineViewPlugin::onRgXDec()
{
    zoomX(0.5, QPoint());
}

void LineViewPlugin::onRgXInc()
{
    zoomX(2.0, QPoint());
}

void LineViewPlugin::onXRollChg(bool)
{
    curveStartX = 0;
    curveStartSet = false;
    const QRectF win = view->getWindow(false);
    view->setWindow(QRectF(0, win.y(), win.width(), win.height()), meta.unitXText, meta.unitValText);
    view->finishCurve(false);
    clearDisplay(false);
}

void LineViewPlugin::setWindow(const QRectF& win)
{
    if (!(win.width() > 0 && win.height() > 0))
        return;
    if (hasXManual()) {
        if (!meta.hasOrder && !parametric)
            setRangeEditsX(edXStart->getValue(), win.width());
        else
            setRangeEditsX(win.x(), win.width());
        onRgXEdit();
    }
    if (getYMode() == yManual) {
        setRangeEditsY(win.y(), win.height());
        onRgYEdit();
    }
}

void LineViewPlugin::onWheel(QWheelEvent* ev)
{
    const double factor = ev->angleDelta().y() > 0 ? kQuarterOctaveUp : kQuarterOctaveDown;
    const QPoint pos = ev->position().toPoint();
    bool used = false;
    if (hasYManual()) {
        zoomY(factor, pos);
        used = true;
    }
    if (hasXManual()) {
        zoomX(factor, pos);
        used = true;
    }
    if (used)
        ev->accept();
}

void LineViewPlugin::setDialEvent(int dial, int delta)
{
    const double factor = delta == 0 ? 1.0 : delta > 0 ? kQuarterOctaveUp : kQuarterOctaveDown;
    if (dial == 1)
        zoomX(factor, QPoint(0, 0));
    else if (dial == 2)
        zoomY(factor, QPoint(0, 0));
}

QVariantMap LineViewPlugin::displayState() const
{
    const QRectF r = getRangeEdits();
    return QVariantMap{{QStringLiteral("yMode"), getYMode()},
                       {QStringLiteral("yStart"), r.y()},
                       {QStringLiteral("yHeight"), r.height()}};
}

void LineViewPlugin::applyDisplayState(const QVariantMap& state)
{
    bool ok = false;
    const int mode = state.value(QStringLiteral("yMode")).toInt(&ok);
    if (!ok || mode < 0 || mode >= getYModes().size())
        return;
    onRgYModeChg(mode);
    if (mode != yManual)
        return;
    bool okStart = false;
    bool okHeight = false;
    const double start = state.value(QStringLiteral("yStart")).toDouble(&okStart);
    const double height = state.value(QStringLiteral("yHeight")).toDouble(&okHeight);
    if (okStart && okHeight && std::isfinite(start) && std::isfinite(height) && height > 0) {
        setRangeEditsY(start, height);
        onRgYEdit();
    }
}
