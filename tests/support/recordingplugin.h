#pragma once
// A plug-in for chain tests: logs every call it receives as a line of text ("setDataRangeX 512",
// "setData 3 @0: 1 2 3") and keeps the data words, then forwards like the base class.

#include "framework/gplugin.h"

#include <QStringList>
#include <QVector>

class RecordingPlugin : public GPlugin
{
    Q_OBJECT
public:
    explicit RecordingPlugin(const QString& name = QStringLiteral("rec"), QWidget* widget = nullptr);

    QStringList calls;       // one line per call, in order
    QVector<int> words;      // every data word received, in order
    QVector<int> indices;    // the index of each setData call
    QStringList options;     // "key=value" per setOption
    int lastValue(const QString& setter) const; // value of the last call of `setter`, or INT_MIN
    int count(const QString& setter) const;     // number of calls whose line starts with `setter`
    void clear();

    QWidget* getWidget() override { return widget; }
    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder v) override;
    void setDataEncoding(GPlugin::DataEncoding v) override;
    void setDataBinning(int v) override;
    void setDataRangeX(int v) override;
    void setDataRangeY(int v) override;
    void setDataRangeZ(int v) override;
    void setDataOffsetX(int v) override;
    void setDataOffsetY(int v) override;
    void setDataOffsetZ(int v) override;
    void setDataOffsetVal(int v) override;
    void setDataPhysX(int v) override;
    void setDataPhysY(int v) override;
    void setDataPhysZ(int v) override;
    void setDataPhysVal(int v) override;
    void setDataPhysValNumerator(int v) override;
    void setDataTrigger(GPlugin::DataTrigger v) override;
    void setDataRotation(int v) override;
    void setDataUnitX(int v) override;
    void setDataUnitZ(int v) override;
    void setDataUnitVal(int v) override;
    void setFixXY(bool v) override;
    void setDataScanSpeed(int v) override;
    void setData(const int* data, int count, int index) override;
    void setDataOdd(const int* data, int count, int index) override;

private:
    void log(const char* setter, int value);
    QWidget* widget;
};
