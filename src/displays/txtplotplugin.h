#pragma once
// TxtPlotPlugin ("Text Display"): ends a chain and shows the latest value of the stream as one large number with its
// unit. Data blocks only update the stored value; the label is rewritten on a 330 ms timer, so fast streams cost
// one formatting pass per tick at most.
// Properties: every property is forwarded unchanged.

#include "framework/gplugin.h"

#include <QPointer>

class QLabel;
class QTimer;

class TxtPlotPlugin : public GPlugin
{
    Q_OBJECT
public:
    TxtPlotPlugin(QWidget* parent, QString name);
    ~TxtPlotPlugin() override;

    QWidget* getWidget() override;
    int getStretch() override { return 2; }
    void setFrameStyle(int style);

    void init() override;
    void setOption(QString key, QString value) override;
    void setData(const int* data, int count, int index) override;
    void setDataOffsetVal(int value) override;
    void setDataPhysVal(int value) override;
    void setDataUnitVal(int unit) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;

    /// The value shown on the next refresh (already scaled); meaningful once a block has arrived.
    double currentValue() const { return value; }
    bool hasCurrentValue() const { return hasValue; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void updateDisplay();

private:
    QPointer<QLabel> label;
    QTimer* timer = nullptr;
    double factor = 1.0;
    int offsetVal = 0;
    int unitVal = 128;
    int encoding = 0;
    double value = 0.0;
    double step = 0.0001;
    bool hasValue = false;
};

GPlugin* txtPlotFactory(QWidget* parent, QString name);
