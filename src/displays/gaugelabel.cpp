#include "displays/gaugelabel.h"

#include <QPainter>

GaugeLabel::GaugeLabel(QWidget* parent) : QWidget(parent) {}

void GaugeLabel::paintEvent(QPaintEvent*)
{
    const int w = rect().right() - rect().left();
    const int h = rect().bottom() - rect().top();
    if (w == 0 || h == 0)
        return;
    QPainter p(this);
    p.drawLine(0, 0, 0, h);
    p.drawLine(w, 0, w, h);
    p.drawLine(0, h / 2, w, h / 2);
}
