// Value formatting with units and decimal prefixes, and the design-mode keywords.

#include "framework/gplugin.h"
#include "utilif/algo.h"

#include <QCoreApplication>

namespace {

QString composeValue(double value, double resolution, int digits, const QString& unit)
{
    if (resolution != 0.0)
        digits = qMax(digits, algoDigits(value, value - resolution));
    return QCoreApplication::translate("GPlugin", "%1 %2").arg(QString::number(value, 'g', qMax(1, digits)), unit);
}

} // namespace

QString GPlugin::formatValue(double value, QString unit, double resolution, int digits)
{
    bool rescale = true;
    if (unit.startsWith(QLatin1Char('+')) || unit.startsWith(QLatin1Char('-'))) {
        rescale = unit.at(0) != QLatin1Char('-');
        unit.remove(0, 1);
    }
    if (rescale) {
        const double before = value;
        const char prefix = algoNormalize(&value, ' ', nullptr, 100);
        // The resolution follows the value's prefix so that both are compared on one scale.
        if (before != 0.0)
            resolution *= value / before;
        unit.prepend(algoGetPrintablePrefix(prefix));
    }
    return composeValue(value, resolution, digits, unit);
}

QString GPlugin::formatValue(double value, int unitCode, double resolution, char prefix, int digits)
{
    value *= algoGetPrefixFactor(prefix);
    char unitPrefix = ' ';
    double factor = 1.0;
    QString unit = algoGetBaseUnit(unitCode, &unitPrefix, &factor);
    if (unitPrefix == 'X') {
        value *= factor;
        resolution *= factor;
    }
    const double before = value;
    const char valuePrefix = algoNormalize(&value, unitPrefix, nullptr, 100);
    if (before != 0.0)
        resolution *= value / before;
    unit.prepend(algoGetPrintablePrefix(valuePrefix));
    return composeValue(value, resolution, digits, unit);
}

QString GPlugin::printUnit(int unitCode)
{
    char prefix = ' ';
    const QString base = algoGetBaseUnit(unitCode, &prefix, nullptr);
    return algoGetPrintablePrefix(prefix) + base;
}

int string2DesignMode(QString text)
{
    const QString t = text.toLower();
    if (t == QLatin1String("designorvik") || t == QLatin1String("orvik"))
        return 1;
    if (t == QLatin1String("disigntebran") || t == QLatin1String("tebran"))
        return 2;
    return 0;
}
