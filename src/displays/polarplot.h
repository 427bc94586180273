#pragma once
// PolarPlot: a line view that shows curves as r(phi): each point's x is an angle in degrees (clockwise from straight
// up) and its y a radius in pixels. The grid is a set of spokes and circles whose radial scale follows the data
// drawn so far. It has no mouse selection.

#include "displays/lineview.h"

class PolarPlot : public LineView
{
    Q_OBJECT
public:
    PolarPlot(QWidget* parent, bool pointMode);

    using LineView::pixel2Unit;
    /// Polar mapping of (angle, radius); the radius is used in pixels, truncated toward zero.
    QPoint unit2Pixel(const QPointF& p) const;
    /// The pixel of a raw (angle, radius) pair on the radial scale of the circles.
    QPoint getPosFromRaw(int angleDeg, int r) const;

    void makeGrid() override;
    void drawToDblBuf() override;
    void drawCurveToDblBuf(LvCurve& curve, QPainter& painter) override;

    QPoint getCenter() const { return center; }
    double getRadius() const { return radius; }
    double getMarker() const { return marker; }
    int getDesignMode() const { return designMode; }
    int getSpokes() const { return spokes; }
    bool hasRadiusLabels() const { return showRadiusLabels; }

public slots:
    void setValue(int, const int*) {}
    /// Angle and radius of a pixel; the radius is scaled by the lower bound of the drawn data.
    void pixel2Unit(const QPoint& q, double* angle, double* r) const;
    void setMarker(double angle);
    void setDesignMode(int mode);
    void updateDesignSetting();

protected:
    void mousePressEvent(QMouseEvent* ev) override;
    void mouseMoveEvent(QMouseEvent* ev) override;
    void resizeEvent(QResizeEvent* ev) override;

private:
    QPoint center;
    double radius = 1.0;
    double marker = -1.0;
    int designMode = 1;
    int spokes = 8;
    bool showRadiusLabels = true;
};

/// The view factory of the polar display.
LineView* makePolarWidget(QWidget* parent, bool pointMode);
