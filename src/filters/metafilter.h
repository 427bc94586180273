#pragma once
// MetaFilter ("Meta Data Filter"): shows the last value of fifteen data properties and, with "Override" set, blocks
// them from upstream so that the values the user types reach the later plug-ins instead. Data words pass unchanged.
// Properties: the fifteen shown properties are forwarded unchanged while the filter passes through and consumed
// while it overrides (the typed values go on instead); the others are always forwarded unchanged.

#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

class QFrame;

class MetaFilter : public GPlugin
{
    Q_OBJECT
public:
    /// The properties the filter shows and overrides, in the order of the selector (propertyOf maps them to the
    /// stream description).
    enum Property {
        Order,
        Encoding,
        Binning,
        RangeX,
        RangeY,
        OffsetX,
        OffsetY,
        PhysX,
        PhysY,
        PhysVal,
        Trigger,
        Rotation,
        UnitX,
        UnitVal,
        OffsetVal,
        PropertyCount
    };

    MetaFilter(QWidget* parent, QString name);
    ~MetaFilter() override;

    QWidget* getWidget() override;
    /// A new measurement resets the later plug-ins too; the filter itself keeps its values.
    void init() override;
    void setOption(QString key, QString value) override;

    void setDataOrder(GPlugin::DataOrder v) override { incoming(Order, int(v)); }
    void setDataEncoding(GPlugin::DataEncoding v) override { incoming(Encoding, int(v)); }
    void setDataBinning(int v) override { incoming(Binning, v); }
    void setDataRangeX(int v) override { incoming(RangeX, v); }
    void setDataRangeY(int v) override { incoming(RangeY, v); }
    void setDataOffsetX(int v) override { incoming(OffsetX, v); }
    void setDataOffsetY(int v) override { incoming(OffsetY, v); }
    void setDataPhysX(int v) override { incoming(PhysX, v); }
    void setDataPhysY(int v) override { incoming(PhysY, v); }
    void setDataPhysVal(int v) override { incoming(PhysVal, v); }
    void setDataTrigger(GPlugin::DataTrigger v) override { incoming(Trigger, int(v)); }
    void setDataRotation(int v) override { incoming(Rotation, v); }
    void setDataUnitX(int v) override { incoming(UnitX, v); }
    void setDataUnitVal(int v) override { incoming(UnitVal, v); }
    void setDataOffsetVal(int v) override { incoming(OffsetVal, v); }

    /// The stream property of a selector entry (0…14).
    static StreamFormat::Property propertyOf(int index);

    bool isPassingThrough() const { return passThrough; }
    /// The stored value of a property; false when none has arrived or been typed yet.
    bool storedValue(int index, int* value) const;

    QLineEdit* valueField() const { return valueEdit; }
    QCheckBox* overrideCheckBox() const { return overrideBox; }
    QComboBox* selector() const { return selectorBox; }
    QPushButton* rawButton() const { return rawBtn; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void changeEnable(bool on);
    void changeMeta(int index);
    void changeMetaData();
    void changeRaw();

private:
    void incoming(int index, int value);
    void store(int index, int value);
    /// Sends a value to the successor through the base setter of the property.
    void forward(int index, int value);
    void setRawInterpretation(bool withEncoding);

    // Guarded: the page may delete its widgets before the chain.
    QPointer<QLineEdit> valueEdit;
    QPointer<QFrame> panel;
    bool passThrough = true;
    int selection = 0;
    QPointer<QCheckBox> overrideBox;
    QPointer<QComboBox> selectorBox;
    QPointer<QPushButton> rawBtn;
    StreamFormat stored; // the last value of each shown property (arrived or typed)
};

GPlugin* metaFilterFactory(QWidget* parent, QString name);
