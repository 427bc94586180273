#pragma once
// Raster: the ticks of a line view's grid for a data window shown at a pixel size.

#include <QRectF>
#include <QSize>

class Raster
{
public:
    /// About one tick per n pixels, n = min((width + height)/50 + 25, height/5), at least 1.
    Raster(const QRectF& window, const QSize& size);

    double xStart = 0, yStart = 0; // first tick, in data units
    double xStep = 1, yStep = 1;   // tick distance, in data units
    double xFactor = 1, yFactor = 1; // label divisor
};
