#include "displays/lineviewplugin.h"

#include "utilif/algo.h"
#include "utilif/qthelpers.h"

#include <QPushButton>
#include <QToolButton>

namespace {

// Range selections in volts go to the server as counts of 1/3276.75 V.
constexpr double kVoltCounts = 3276.75;

// Truncation toward zero that saturates at the int range (NaN gives 0).
int truncInt(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0)
        return -2147483647 - 1;
    return int(v);
}

} // namespace

// ---- selection ----

void LineViewPlugin::updateSelectButtons()
{
    const LineView::SelectionMode m = view->getSelectionMode();
    const QSignalBlocker b1(btnSelRange), b2(btnSelX), b3(btnSelY);
    btnSelRange->setChecked(m == LineView::SelRangeX);
    btnSelX->setChecked(m == LineView::SelPointX);
    btnSelY->setChecked(m == LineView::SelPointY);
}

void LineViewPlugin::setSelectMode(bool on, LineView::SelectionMode mode)
{
    LineView::SelectionMode m = mode;
    if (!on) {
        const int v = (hasXManual() ? 1 : int(hasYManual())) + 2 * int(meta.hasOrder);
        m = v == 1 ? LineView::SelZoomFromLeft : v == 3 ? LineView::SelZoom : LineView::SelNone;
    }
    if (m != view->getSelectionMode()) {
        emit statusChanged(QString(), 0, 0);
        QColor bg(255, 128, 128);
        if (m == LineView::SelNone)
            bg = Qt::black;
        else if (m == LineView::SelZoom || m == LineView::SelZoomFromLeft)
            bg = Qt::green;
        qth_setWidgetColor(frame, bg, false);
        btnAccept->setEnabled(false);
        view->setSelectionMode(m);
    }
    updateSelectButtons();
}

void LineViewPlugin::onSelModeRgX(bool on)
{
    setSelectMode(on, LineView::SelRangeX);
}

void LineViewPlugin::onSelModePtX(bool on)
{
    setSelectMode(on, LineView::SelPointX);
}

void LineViewPlugin::onSelModePtY(bool on)
{
    setSelectMode(on, LineView::SelPointY);
}

void LineViewPlugin::onSelChange()
{
    const QRectF r = view->getSelection();
    const LineView::SelectionMode m = view->getSelectionMode();
    const bool ranged = m == LineView::SelRangeX || m == LineView::SelZoom || m == LineView::SelZoomFromLeft;
    if (ranged && !(r.width() > 0 && r.height() > 0)) {
        btnAccept->setEnabled(false);
        return;
    }
    btnAccept->setEnabled(true);
    QString text;
    if (m == LineView::SelPointY)
        text = "Selection Y: " + formatValue(r.y(), meta.unitValText, 0, 4);
    else
        text = "Selection X: " + formatValue(r.x(), meta.unitXText, 0, 4);
    if (ranged)
        text += " - " + formatValue(r.x() + r.width(), meta.unitXText, 0, 4);
    emit statusChanged(text, 60000, 0);
}

void LineViewPlugin::onSelAccept(int btnNo)
{
    emit statusChanged(QString(), 0, 0);
    const QRectF r = view->getSelection();
    switch (view->getSelectionMode()) {
    case LineView::SelPointY:
        if (pointY.address >= 1)
            emit pointSelected(algoNearest(pointY.scale * r.y()), pointY.address, pointY.index);
        break;
    case LineView::SelPointX:
        if (pointX.address >= 1)
            emit pointSelected(algoNearest(pointX.scale * r.x()), pointX.address, pointX.index);
        break;
    case LineView::SelRangeX: {
        if (((meta.unitX & ~0xff) | 0x80) == 0x280) {
            const int x1 = truncInt(r.x() * kVoltCounts);
            const int x2 = int(qint64(truncInt(r.width() * kVoltCounts)) - 1 + x1);
            emit rangeSelected(QRect(QPoint(x1, 0), QPoint(x2, -1)), meta.trigger);
        }
        if (rangeStart.address >= 1)
            emit pointSelected(algoNearest(rangeStart.scale * r.x()), rangeStart.address, rangeStart.index);
        if (rangeEnd.address >= 1)
            emit pointSelected(algoNearest((r.x() + r.width()) * rangeEnd.scale), rangeEnd.address, rangeEnd.index);
        sendEventToPeers(QStringLiteral("RangeXStart"), QString::number(rangeStart.scale * r.x(), 'g', 6), true);
        sendEventToPeers(QStringLiteral("RangeXEnd"), QString::number((r.x() + r.width()) * rangeEnd.scale, 'g', 6),
                         true);
        break;
    }
    case LineView::SelZoom:
    case LineView::SelZoomFromLeft:
        if (btnNo == 1) {
            setWindow(r);
        } else if (r.width() > 0 && r.height() > 0) {
            // Zoom out: the present window shrinks into the rectangle.
            const QRectF win = view->getWindow(false);
            const double fx = win.width() / r.width(), fy = win.height() / r.height();
            const QPointF c = r.center();
            setWindow(QRectF(c.x() - fx * (c.x() - win.x()), c.y() - fy * (c.y() - win.y()), fx * win.width(),
                             fy * win.height()));
        }
        break;
    default:
        break;
    }
    setSelectMode(false, LineView::SelNone);
    updateSelectButtons();
    btnAccept->setEnabled(false);
}
