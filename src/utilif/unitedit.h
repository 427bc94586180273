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
    /// Parses user text into a raw value; false when it is not a number.
    bool parse(const QString& text, double* raw) const;
    QString format(double raw) const;
    virtual void commitText() = 0;
    virtual void refresh() = 0;

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
    int getValue() const { return current; }
    void setValue(int value);
    void setMinimum(int value);
    void setMaximum(int value);
    int minimum() const { return min; }
    int maximum() const { return max; }

signals:
    void changed(int value);

protected:
    void commitText() override;
    void refresh() override;

private:
    int current = 0;
    int min = -2147483647 - 1;
    int max = 2147483647;
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
    void setValue(double value);
    void setMinimum(double value);
    void setMaximum(double value);
    double minimum() const { return min; }
    double maximum() const { return max; }

signals:
    void changed(double value);

protected:
    void commitText() override;
    void refresh() override;

private:
    double current = 0.0;
    double min = -1e300;
    double max = 1e300;
};
