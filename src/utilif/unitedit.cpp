#include "utilif/unitedit.h"

#include "utilif/algo.h"

#include <QRegularExpression>
#include <cmath>

NumberEdit::NumberEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::editingFinished, this, [this]() { commitText(); });
}

void NumberEdit::setUnit(const QString& unit, char prefix)
{
    unitText = unit;
    prefixChar = (prefix == 'X' || prefix == 0) ? ' ' : prefix;
    refresh();
}

void NumberEdit::configureField(const QString& unit, char prefix, double minimum, double maximum, int resolution,
                                double factor, double offset)
{
    unitText = unit;
    prefixChar = (prefix == 'X' || prefix == 0) ? ' ' : prefix;
    digits = qBound(0, resolution, 17);
    inputFactor = (factor != 0.0 && std::isfinite(factor)) ? factor : 1.0;
    inputOffset = std::isfinite(offset) ? offset : 0.0;
    setLimits(minimum, maximum);
}

void NumberEdit::setLimits(double minimum, double maximum)
{
    min = qMin(minimum, maximum);
    max = qMax(minimum, maximum);
    storeValue(current);
}

bool NumberEdit::storeValue(double raw)
{
    if (!std::isfinite(raw)) {
        refresh();
        return false;
    }
    const double v = qBound(min, representable(raw), max);
    const bool differs = v != current;
    current = v;
    refresh();
    return differs;
}

void NumberEdit::commitText()
{
    double raw = 0;
    if (!parse(text(), &raw)) {
        refresh(); // not a number: the previous value comes back
        return;
    }
    if (storeValue(raw))
        emitChanged();
}

void NumberEdit::refresh()
{
    setText(format(current));
}

void NumberEdit::setInputFactor(double factor)
{
    if (factor != 0.0 && std::isfinite(factor))
        inputFactor = factor;
    refresh();
}

void NumberEdit::setInputOffset(double offset)
{
    if (std::isfinite(offset))
        inputOffset = offset;
    refresh();
}

void NumberEdit::setResolution(int d)
{
    digits = qBound(0, d, 17);
    refresh();
}

QString NumberEdit::format(double raw) const
{
    const double shown = raw * inputFactor + inputOffset;
    const QString number = digits > 0 ? QString::number(shown, 'g', digits) : QString::number(shown, 'g', 15);
    const QString suffix = algoGetPrintablePrefix(prefixChar) + unitText;
    return suffix.isEmpty() ? number : number + QLatin1Char(' ') + suffix;
}

bool NumberEdit::parse(const QString& text, double* raw) const
{
    static const QRegularExpression re(
        QStringLiteral("^\\s*([-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?)\\s*(\\S*)\\s*$"));
    const auto m = re.match(text);
    if (!m.hasMatch())
        return false;
    bool ok = false;
    double v = m.captured(1).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    // A bare number is in the field's prefix; with a unit it is in that unit with whatever prefix is typed.
    QString rest = m.captured(2);
    char typed = prefixChar;
    if (!unitText.isEmpty() && rest.endsWith(unitText)) {
        rest.chop(unitText.size());
        typed = ' ';
    }
    if (!rest.isEmpty()) {
        if (rest == QString::fromUtf8("µ"))
            typed = 'u';
        else if (rest.size() == 1 && QByteArrayLiteral("afpnumkMGTPE").contains(rest.at(0).toLatin1()))
            typed = rest.at(0).toLatin1();
        else
            return false;
    }
    // The typed number is in units of `typed`; the field counts in units of its own prefix.
    v *= algoGetPrefixFactor(typed) / algoGetPrefixFactor(prefixChar);
    *raw = (v - inputOffset) / inputFactor;
    return std::isfinite(*raw);
}

UnitEdit::UnitEdit(QWidget* parent) : NumberEdit(parent)
{
    configureField(QString(), ' ', -2147483647.0 - 1.0, 2147483647.0, 0, 1.0, 0.0);
}

void UnitEdit::configure(const QString& unit, char prefix, int minimum, int maximum, int resolution, double factor,
                         double offset)
{
    configureField(unit, prefix, minimum, maximum, resolution, factor, offset);
}

double UnitEdit::representable(double raw) const
{
    return algoNearest(raw);
}

DblEdit::DblEdit(QWidget* parent) : NumberEdit(parent)
{
    configureField(QString(), ' ', -1e300, 1e300, 0, 1.0, 0.0);
}

void DblEdit::configure(const QString& unit, char prefix, double minimum, double maximum, int resolution,
                        double factor, double offset)
{
    configureField(unit, prefix, minimum, maximum, resolution, factor, offset);
}
