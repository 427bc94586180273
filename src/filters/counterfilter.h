#pragma once
// CounterFilter ("Counter Filter"): counts the incoming words and, once per period, sends the measured rate in words
// per second to its successor as a stream of its own. The input itself does not go on.
// Properties: order, encoding, line length, x offset and extent, value resolution, rotation and the x and value
// units are rewritten with the filter's own description of the rate stream; the others are forwarded unchanged.

#include "framework/gplugin.h"

class QTimer;

class CounterFilter : public GPlugin
{
    Q_OBJECT
public:
    CounterFilter(QWidget* parent, QString name);

    /// "exposure": the output period in milliseconds (values below 1 are ignored).
    void setOption(QString key, QString value) override;
    void setData(const int* data, int count, int index) override;

    // The output stream's own description replaces what the predecessor sends.
    void setDataOrder(GPlugin::DataOrder) override;
    void setDataRangeX(int) override;
    void setDataOffsetX(int) override;
    void setDataPhysX(int) override;
    void setDataEncoding(GPlugin::DataEncoding) override;
    void setDataPhysVal(int) override;
    void setDataRotation(int) override;
    void setDataUnitX(int) override;
    void setDataUnitVal(int) override;

    int getPeriod() const { return period; }
    double pendingCount() const { return count; }
    QTimer* getTimer() const { return timer; }

    static const GPlugin::PluginDescriptor _descriptor;
    /// Output positions run from 0 to 2^29 - 1 and then start again.
    static constexpr int _indexRange = 1 << 29;

public slots:
    void outputRate();

protected:
    QTimer* timer = nullptr;
    int period = 330;
    double count = 0.0;
    int outIndex = 0;
};

GPlugin* counterFilterFactory(QWidget* parent, QString name);
