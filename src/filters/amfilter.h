#pragma once
// AmFilter ("AM Filter"): unless bypassed, multiplies every value by a cosine of the set modulation frequency. The
// cosine runs on over the samples of the stream, across blocks.
// Properties: every property is forwarded unchanged (the x extent also sets the sample distance).

#include "framework/gplugin.h"

#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QPointer>

class QFrame;

class AmFilter : public GPlugin
{
    Q_OBJECT
public:
    AmFilter(QWidget* parent, QString name);
    ~AmFilter() override;

    QWidget* getWidget() override;
    /// The property is the sample distance in nanoseconds.
    void setDataPhysX(int value) override;
    void setData(const int* data, int count, int index) override;

    QCheckBox* bypassBox() const { return bypass; }
    UnitEdit* frequencyField() const { return frequencyEdit; }
    qint64 getSampleNumber() const { return sampleNumber; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    QPointer<QFrame> panel;
    // The page may have deleted its widgets first: the data then pass unchanged.
    QPointer<QCheckBox> bypass;
    QPointer<UnitEdit> frequencyEdit;
    double sampleTime = 0.0;
    bool hasSampleTime = false;
    bool warned = false;
    qint64 sampleNumber = 0; // 64 bits: a long stream would overflow an int within the hour
};

GPlugin* amFilterFactory(QWidget* parent, QString name);
