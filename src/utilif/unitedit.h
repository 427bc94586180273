#pragma once
// Number fields with a base unit and a decimal prefix.
//
// A field holds a raw value; it shows raw * inputFactor + inputOffset in units of its prefix, followed by the
// prefix and unit ("40 kHz"). The user may type a number with or without a prefix and unit ("1.5 M", "200 mV",
// "3e3"); the entry is converted back to a raw value, limited to [minimum, maximum] and, when it changed, reported
// by changed(). An entry that does not parse puts the previous value back.

#include <QLineEdit>

class NumberEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit NumberEdit(QWidget* parent = nullptr);
    /// Unit text (e.g. "Hz") and the prefix the displayed numbers are in (' ' for none).
    void setUnit(const QString& unit, char prefix = ' ');
    void setInputFactor(double factor);
    void setInputOffset(double offset);
    /// Significant digits shown (0: as many as needed).
    void setResolution(int digits);
    QString unit() const { return unitText; }
    char prefix() const { return prefixChar; }

protected:
    /// Sets everything at once; limits are swapped when given the wrong way round.
    void configureField(const QString& unit, char prefix, double minimum, double maximum, int resolution,
                        double inputFactor, double inputOffset);
    /// Stores a raw value (made representable and limited) and shows it; returns whether it changed.
    bool storeValue(double raw);
    void setLimits(double minimum, double maximum);
    /// Turns a raw value into one the field can hold (the integer field rounds).
    virtual double representable(double raw) const { return raw; }
    virtual void emitChanged() = 0;

    double current = 0.0;
    double min = -1e300;
    double max = 1e300;

private:
    bool parse(const QString& text, double* raw) const;
    QString format(double raw) const;
    void commitText();
    void refresh();

    QString unitText;
    char prefixChar = ' ';
    double inputFactor = 1.0;
    double inputOffset = 0.0;
    int digits = 0;
};

/// Integer field: changed(int).
class UnitEdit : public NumberEdit
{
    Q_OBJECT
public:
    explicit UnitEdit(QWidget* parent = nullptr);
    /// Sets unit, prefix, limits, resolution (significant digits, 0 = all) and input factor/offset in one call.
    void configure(const QString& unit, char prefix, int minimum, int maximum, int resolution = 0,
                   double inputFactor = 1.0, double inputOffset = 0.0);
    int getValue() const { return int(current); }
    void setValue(int value) { storeValue(value); }
    void setMinimum(int value) { setLimits(value, qMax(double(value), max)); }
    void setMaximum(int value) { setLimits(qMin(min, double(value)), value); }
    int minimum() const { return int(min); }
    int maximum() const { return int(max); }

signals:
    void changed(int value);

protected:
    double representable(double raw) const override;
    void emitChanged() override { emit changed(getValue()); }
};

/// Floating-point field: changed(double).
class DblEdit : public NumberEdit
{
    Q_OBJECT
public:
    explicit DblEdit(QWidget* parent = nullptr);
    void configure(const QString& unit, char prefix, double minimum, double maximum, int resolution = 0,
                   double inputFactor = 1.0, double inputOffset = 0.0);
    double getValue() const { return current; }
    void setValue(double value) { storeValue(value); }
    void setMinimum(double value) { setLimits(value, qMax(value, max)); }
    void setMaximum(double value) { setLimits(qMin(min, value), value); }
    double minimum() const { return min; }
    double maximum() const { return max; }

signals:
    void changed(double value);

protected:
    void emitChanged() override { emit changed(current); }
};
