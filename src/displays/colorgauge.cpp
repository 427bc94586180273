#include "displays/colorgauge.h"

#include "displays/waterfall.h"

#include <QPainter>

ColorGauge::ColorGauge(const Waterfall* waterfall, QWidget* parent) : QWidget(parent), waterfall(waterfall) {}

void ColorGauge::paintEvent(QPaintEvent*)
{
    int n = 0;
    const QRgb* colors = waterfall ? waterfall->getColorList(&n) : nullptr;
    const int h = rect().bottom() - rect().top();
    if (!colors || n < 2 || h < 1)
        return;
    QPainter p(this);
    for (int y = 0; y <= h; ++y) {
        p.setPen(QColor(colors[qint64(h - y) * (n - 1) / h]));
        p.drawLine(0, y, width(), y);
    }
}
