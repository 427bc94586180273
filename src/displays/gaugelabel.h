#pragma once
// GaugeLabel: the bracket of the frame display's length scale bar; the plug-in sets its width to the bar length.

#include <QWidget>

class GaugeLabel : public QWidget
{
    Q_OBJECT
public:
    explicit GaugeLabel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};
