#pragma once
// ColorGauge: the colour scale beside the frame display, drawn from the Waterfall's colour table (last colour at the
// top, first at the bottom).

#include <QWidget>

class Waterfall;

class ColorGauge : public QWidget
{
    Q_OBJECT
public:
    ColorGauge(const Waterfall* waterfall, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Waterfall* waterfall;
};
