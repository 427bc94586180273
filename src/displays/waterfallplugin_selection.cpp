#include "displays/waterfallplugin.h"

#include "displays/waterfallgriddlg.h"
#include "framework/logging.h"
#include "utilif/algo.h"
#include "utilif/qthelpers.h"

#include <QPushButton>
#include <QToolButton>
#include <cmath>

namespace {

const QColor selectionColor(255, 128, 0);

} // namespace

// ---- selection tools ----

QToolButton* WaterfallPlugin::toolButton(Waterfall::SelectionMode mode) const
{
    switch (mode) {
    case Waterfall::RangeSelection:
        return rangeButton;
    case Waterfall::AngleSelection:
        return angleButton;
    case Waterfall::PointSelection:
        return pointButton;
    case Waterfall::PathSelection:
        return pathButton;
    case Waterfall::GridSelection:
        return gridButton;
    default:
        return nullptr;
    }
}

void WaterfallPlugin::selectTool(Waterfall::SelectionMode mode, bool on)
{
    QToolButton* own = toolButton(mode);
    if (own->isChecked() != on) {
        // Called directly rather than by the button: bring the button in line, which calls back here.
        own->setChecked(on);
        return;
    }
    if (on) {
        for (QToolButton* b : {rangeButton, angleButton, pointButton, pathButton, gridButton}) {
            if (b != own && b->isChecked()) {
                const QSignalBlocker block(b);
                b->setChecked(false);
            }
        }
        gridDlg->setVisible(mode == Waterfall::GridSelection);
        accepted.clear(); // a selection made with another tool is not accepted by this one
        acceptButton->setEnabled(false);
        qth_setWidgetColor(frame, selectionColor, false);
        waterfall->setSelectionMode(mode);
        emit statusChanged(QString(), -1, 0);
    } else {
        if (waterfall->selectionMode != mode)
            return; // another tool took over
        if (mode == Waterfall::GridSelection)
            gridDlg->hide();
        acceptButton->setEnabled(false);
        qth_setWidgetColor(frame, Qt::black, false);
        waterfall->setSelectionMode(Waterfall::NoSelection);
    }
}

void WaterfallPlugin::setRgSelect(bool on)
{
    selectTool(Waterfall::RangeSelection, on);
}

void WaterfallPlugin::setAgSelect(bool on)
{
    selectTool(Waterfall::AngleSelection, on);
}

void WaterfallPlugin::setPtSelect(bool on)
{
    selectTool(Waterfall::PointSelection, on);
}

void WaterfallPlugin::setLsSelect(bool on)
{
    selectTool(Waterfall::PathSelection, on);
}

void WaterfallPlugin::setGrSelect(bool on)
{
    selectTool(Waterfall::GridSelection, on);
}

void WaterfallPlugin::onSelection(Waterfall::SelectionMode mode, Waterfall::SelectionList list)
{
    // The clearing signal of a new press keeps the selection that is ready to be accepted.
    if (list.isEmpty())
        return;
    Waterfall::SelectionList data;
    data.reserve(list.size());
    for (const QRect& r : list)
        data.append(QRect(waterfall->pix2ScanCoord(r.topLeft()), waterfall->pix2ScanCoord(r.bottomRight())));
    accepted = data;
    qCDebug(lcDisplays) << "OnSel: in " << list << " out " << data;

    QString text;
    switch (mode) {
    case Waterfall::RangeSelection: {
        const QRect p = pixelToPhys(accepted.first(), true);
        accepted.first() = p;
        text = QStringLiteral("Selection: X: %1 - %2  Y: %3 - %4")
                   .arg(formatX(p.left()), formatX(p.right()), formatX(p.top()), formatX(p.bottom()));
        break;
    }
    case Waterfall::AngleSelection: {
        const QPoint a = accepted.first().topLeft();
        const QPoint b = accepted.first().bottomRight();
        qint64 rot =
            qint64((std::atan2(double(b.y() - a.y()), -double(b.x() - a.x())) + M_PI) / radPerRotUnit) + meta.rotation;
        while (rot > 65534)
            rot -= 65535;
        while (rot < 0)
            rot += 65535;
        newRotation = int(rot);
        const QPoint pa = pixelToPhys(a, false);
        const QPoint pb = pixelToPhys(b, false);
        const double dist = std::hypot(double(pb.x() - pa.x()), double(pb.y() - pa.y()));
        int z0 = 0;
        int z1 = 0;
        waterfall->getValue(a.x(), a.y(), &z0);
        waterfall->getValue(b.x(), b.y(), &z1);
        const double v0 = (double(z0) - meta.offsetVal) * meta.valFactor;
        const double v1 = (double(z1) - meta.offsetVal) * meta.valFactor;
        text = QStringLiteral("Selected: %1°, Dist: %2, Z0: %3, Z1: %4, dZ: %5")
                   .arg(QString::number(newRotation * 360.0 / 65535.0, 'g'), formatX(dist), formatVal(v0),
                        formatVal(v1), formatVal(v1 - v0));
        break;
    }
    case Waterfall::PointSelection: {
        const QRect m = accepted.first();
        const int cx = (m.left() + m.right()) / 2;
        const int cy = (m.top() + m.bottom()) / 2;
        const int x1 = cx - (meta.rangeX - 1) / 2;
        const int y1 = cy - (meta.rangeY - 1) / 2;
        const QRect area(QPoint(x1, y1), QPoint(x1 + meta.rangeX - 1, y1 + meta.rangeY - 1));
        const QRect p = pixelToPhys(area, true);
        accepted.first() = p;
        text = QStringLiteral("Selection: X: %1 Y: %2")
                   .arg(formatX(p.left() + p.width() / 2), formatX(p.top() + p.height() / 2));
        if (sendCoordToPeers) {
            const QString raw = QStringLiteral("%1,%2")
                                    .arg((area.left() + area.right()) / 2)
                                    .arg(meta.rangeY - (area.top() + area.bottom()) / 2);
            sendEventToPeers(QStringLiteral("rawcoord"), raw, true);
        }
        break;
    }
    case Waterfall::PathSelection:
        for (QRect& r : accepted)
            r = pixelToPhys(r, true);
        text = QStringLiteral("Selection: X: %1 Y: %2")
                   .arg(formatX(accepted.last().left() + accepted.last().width() / 2),
                        formatX(accepted.last().top() + accepted.last().height() / 2));
        break;
    case Waterfall::GridSelection: {
        const QRect r = accepted.first();
        accepted = {QRect(pixelToPhys(QPoint(r.left(), r.top()), true), QSize(1, 1)),
                    QRect(pixelToPhys(QPoint(r.right(), r.top()), true), QSize(1, 1)),
                    QRect(pixelToPhys(QPoint(r.left(), r.bottom()), true), QSize(1, 1))};
        break;
    }
    default:
        break;
    }
    emit statusChanged(text, 60000, 0);
    acceptButton->setEnabled(mode != Waterfall::NoSelection);
}

void WaterfallPlugin::acceptSelection()
{
    if (accepted.isEmpty())
        return;
    emit statusChanged(QString(), -1, 0);
    const Waterfall::SelectionMode mode = waterfall->selectionMode;
    switch (mode) {
    case Waterfall::AngleSelection:
        emit angleSelected(newRotation);
        break;
    case Waterfall::RangeSelection:
    case Waterfall::PointSelection:
        emit rangeSelected(accepted.first(), meta.trigger);
        break;
    case Waterfall::GridSelection:
        if (accepted.size() == 3) {
            const PathList pts{accepted[0].topLeft(), (gridPointsX < 2 ? accepted[0] : accepted[1]).topLeft(),
                               (gridPointsY < 2 ? accepted[0] : accepted[2]).topLeft()};
            emit gridSelected(pts, gridPointsX, gridPointsY, meta.trigger);
        }
        break;
    case Waterfall::PathSelection: {
        PathList centres;
        centres.reserve(accepted.size());
        for (const QRect& r : accepted)
            centres.append(QPoint((r.left() + r.right()) / 2, (r.top() + r.bottom()) / 2));
        emit pathSelected(centres, meta.trigger);
        break;
    }
    default:
        break;
    }
    const bool offsetMove = int(meta.trigger) == originOffsetMove;
    if (mode == Waterfall::PathSelection) {
        if (offsetMove)
            pointButton->setEnabled(false);
        return;
    }
    if (mode != Waterfall::GridSelection) {
        for (QToolButton* b : {angleButton, pointButton, pathButton, rangeButton})
            b->setChecked(false);
        acceptButton->setEnabled(false);
    }
    if (offsetMove)
        pointButton->setEnabled(false);
}

void WaterfallPlugin::gridPointsXChanged(int points)
{
    gridPointsX = points;
}

void WaterfallPlugin::gridPointsYChanged(int points)
{
    gridPointsY = points;
}
