#pragma once
// PolarPlotPlugin: the polar display, the parametric line display (points, X auto-scaling, no end-of-line handling)
// drawn in a PolarPlot. Adds the options "fixedwidth", "fixedheight" and "designmode" and a marker slot.
// Properties: every property is forwarded unchanged.

#include "displays/lineviewplugin.h"

class PolarPlot;

class PolarPlotPlugin : public LineViewPlugin
{
    Q_OBJECT
public:
    PolarPlotPlugin(QWidget* parent, QString name);

    void setOption(QString key, QString value) override;
    PolarPlot* getPolarView() const;

public slots:
    /// The marker angle in 1/1000 degree.
    void setMarker(int angle);
};

GPlugin* polarPlotFactory(QWidget* parent, QString name);
