#pragma once
// AvgFilter ("Average Filter", line by line): replaces every line by the running average of the lines so far.
// The first `depth` lines give their cumulative mean, later ones an exponential average with weight 1/depth.
// Properties: every property is forwarded unchanged, a repeated line length included.

#include "filters/linefilter.h"

#include <vector>

class AvgFilter : public LineFilter
{
    Q_OBJECT
public:
    AvgFilter(QWidget* parent, QString name);

    /// "depth": lines averaged; values below 1 count as 1 (no averaging).
    void setOption(QString key, QString value) override;
    /// A new line length restarts the average; an unchanged one keeps it. Both are forwarded.
    void setDataRangeX(int n) override;
    void filterPeaks() override {}
    bool filterLine() override;
    int getDepth() const { return depth; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    int count = 0;
    int depth = 1;
    std::vector<double> avg;
};

GPlugin* avgFilterFactory(QWidget* parent, QString name);
