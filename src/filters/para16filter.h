#pragma once
// Para16Filter ("Para16 Filter"): every word is one point of a parametric curve, y in the low and x in the high
// 16 bits (both signed). Each point goes on as one value at position x + 32768, so that a line display draws y(x).
// Properties: the filter describes its output itself (order, encoding, line length, x extent and offset, value
// resolution, x and value units, sent once before the first points); these eight are consumed when they arrive from
// upstream, before and after its own description, so that a replay cannot undo it. The others are forwarded.

#include "framework/gplugin.h"

class Para16Filter : public GPlugin
{
    Q_OBJECT
public:
    Para16Filter(QWidget* parent, QString name);

    void setData(const int* data, int count, int index) override;
    // The properties of the filter's own description: consumed.
    void setDataOrder(GPlugin::DataOrder) override {}
    void setDataEncoding(GPlugin::DataEncoding) override {}
    void setDataRangeX(int) override {}
    void setDataPhysX(int) override {}
    void setDataOffsetX(int) override {}
    void setDataPhysVal(int) override {}
    void setDataUnitX(int) override {}
    void setDataUnitVal(int) override {}
    int blockCount() const { return blocks; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    int blocks = 0;
};

GPlugin* para16FilterFactory(QWidget* parent, QString name);
