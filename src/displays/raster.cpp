#include "displays/raster.h"

#include "utilif/algo.h"

#include <algorithm>

Raster::Raster(const QRectF& window, const QSize& size)
{
    const int n = std::max(1, std::min((size.width() + size.height()) / 50 + 25, size.height() / 5));
    algoCalcScaleTics(window.x(), window.x() + window.width(), size.width() / n, &xStart, &xStep, &xFactor);
    algoCalcScaleTics(window.y(), window.y() + window.height(), size.height() / n, &yStart, &yStep, &yFactor);
}
