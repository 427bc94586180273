#pragma once
// Para16Filter ("Para16 Filter"): every word is one point of a parametric curve, y in the low and x in the high
// 16 bits (both signed). Each point goes on as one value at position x + 32768, so that a line display draws y(x).

#include "framework/gplugin.h"

class Para16Filter : public GPlugin
{
    Q_OBJECT
public:
    Para16Filter(QWidget* parent, QString name);

    void setData(const int* data, int count, int index) override;
    int blockCount() const { return blocks; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    int blocks = 0;
};

GPlugin* para16FilterFactory(QWidget* parent, QString name);
