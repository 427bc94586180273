#include "support/recordingplugin.h"

#include <climits>

RecordingPlugin::RecordingPlugin(const QString& name, QWidget* widget)
    : GPlugin(nullptr, name, nullptr), widget(widget)
{
}

void RecordingPlugin::log(const char* setter, int value)
{
    calls << QStringLiteral("%1 %2").arg(QLatin1String(setter)).arg(value);
}

int RecordingPlugin::lastValue(const QString& setter) const
{
    for (int i = calls.size() - 1; i >= 0; --i) {
        const QStringList parts = calls.at(i).split(QLatin1Char(' '));
        if (parts.size() >= 2 && parts.at(0) == setter)
            return parts.at(1).toInt();
    }
    return INT_MIN;
}

int RecordingPlugin::count(const QString& setter) const
{
    int n = 0;
    for (const QString& c : calls)
        if (c == setter || c.startsWith(setter + QLatin1Char(' ')))
            ++n;
    return n;
}

void RecordingPlugin::clear()
{
    calls.clear();
    words.clear();
    indices.clear();
    options.clear();
}

void RecordingPlugin::setOption(QString key, QString value)
{
    options << key + QLatin1Char('=') + value;
    calls << QStringLiteral("setOption %1=%2").arg(key, value);
}

void RecordingPlugin::init()
{
    calls << QStringLiteral("init");
    GPlugin::init();
}

#define REC(setter, Type)                                                                                              \
    void RecordingPlugin::setter(Type v)                                                                               \
    {                                                                                                                  \
        log(#setter, int(v));                                                                                          \
        GPlugin::setter(v);                                                                                            \
    }
REC(setDataOrder, GPlugin::DataOrder)
REC(setDataEncoding, GPlugin::DataEncoding)
REC(setDataBinning, int)
REC(setDataRangeX, int)
REC(setDataRangeY, int)
REC(setDataRangeZ, int)
REC(setDataOffsetX, int)
REC(setDataOffsetY, int)
REC(setDataOffsetZ, int)
REC(setDataOffsetVal, int)
REC(setDataPhysX, int)
REC(setDataPhysY, int)
REC(setDataPhysZ, int)
REC(setDataPhysVal, int)
REC(setDataPhysValNumerator, int)
REC(setDataTrigger, GPlugin::DataTrigger)
REC(setDataRotation, int)
REC(setDataUnitX, int)
REC(setDataUnitZ, int)
REC(setDataUnitVal, int)
REC(setFixXY, bool)
REC(setDataScanSpeed, int)
#undef REC

void RecordingPlugin::setData(const int* data, int count, int index)
{
    QString line = QStringLiteral("setData %1 @%2:").arg(count).arg(index);
    for (int i = 0; i < count && i < 16; ++i)
        line += QLatin1Char(' ') + QString::number(data[i]);
    calls << line;
    indices << index;
    for (int i = 0; i < count; ++i)
        words << data[i];
    GPlugin::setData(data, count, index);
}

void RecordingPlugin::setDataOdd(const int* data, int count, int index)
{
    calls << QStringLiteral("setDataOdd %1 @%2").arg(count).arg(index);
    GPlugin::setDataOdd(data, count, index);
}
