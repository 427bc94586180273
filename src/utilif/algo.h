#pragma once
// Numeric and unit helpers shared by every layer.
//
// Unit codes come in two families (see README "Unit codes"):
//  - basic codes 0..6 (pm, uV, Hz, ns, V, ms, cos): a fixed unit; algoGetBaseUnit returns the prefix 'X' and the
//    factor to the base unit, and labels of such units are not rescaled;
//  - kind codes: code = kind << 8 | (128 + p), p the power of 1000 of the decimal prefix; the factor is 1000^p.
// Codes outside the table resolve to "" with prefix ' ' and factor 1.

#include <QString>
#include <QtGlobal>

/// Rounds to the nearest integer (halves away from zero); saturates at the int range, NaN gives 0.
int algoNearest(double value);
/// 64-bit twin of algoNearest.
qint64 algoNearestLongLong(double value);
/// floor(log2 n); 0 for n <= 1.
int algoLogb(quint64 n);

/// Base-unit text of a unit code; fills its prefix character and its factor to the base unit when asked.
QString algoGetBaseUnit(int unitCode, char* prefix = nullptr, double* factor = nullptr);
/// Factor of a prefix character ('k' -> 1e3, 'u' -> 1e-6, ' ' and anything unknown -> 1).
double algoGetPrefixFactor(char prefix);
/// Printable form of a prefix character: 'u' gives "µ", ' ' (and 'X') gives "".
QString algoGetPrintablePrefix(char prefix);
/// Power of 1000 of a prefix character, or 0 for ' ', 'X' and unknown characters.
int algoPrefixPower(char prefix);
/// Prefix character of a power of 1000 (clamped to -6..6).
char algoPrefixOfPower(int power);

/// Rescales `*value`, given in units of `prefix`, to the prefix that puts its magnitude into [1, threshold*10)
/// (threshold 100: engineering notation, mantissa below 1000) and returns that prefix. `allowed` optionally lists the
/// prefix characters that may be chosen. 'X' counts as no prefix. A zero or non-finite value keeps its prefix.
char algoNormalize(double* value, char prefix, const char* allowed = nullptr, int threshold = 100);
/// Converts `*value` from prefix `from` to prefix `to` and returns `to`.
char algoNormalizeFixed(double* value, char from, char to);
/// Significant digits needed to tell `a` from `b` in the 'g' format (1..17).
int algoDigits(double a, double b);

/// Rescales `*value` (in `*unitCode`) to a prefix that keeps the mantissa in [1, 1000), updates the code and returns
/// the factor that was applied (new = old * factor). Basic and unknown codes are left alone (factor 1).
double algoRescaleUnit(double* value, int* unitCode, bool integerOnly = false);
/// Rescales an integer resolution `value` given in `*unitCode`: while it is at least 1000 (and, with `exact`, divisible
/// by 1000) it moves one prefix up. Returns the new resolution (0 only for a value of 0).
int algoRescaleUnitInt(int value, int* unitCode, bool exact);

/// Ticks for about `count` steps over [min, max]: first tick, step (1, 2 or 5 times a power of ten) and a label
/// divisor (a power of 1000). Returns false (and a step of 1) for an empty or invalid range.
bool algoCalcScaleTics(double min, double max, int count, double* start, double* step, double* factor);
/// Round scale-bar: `pixels` pixels span `length` in units of `prefix`. Picks a 1-2-5 bar value of about a quarter of
/// the length; returns its pixel length, its value and its prefix (value normalised). False when nothing fits.
bool algoCalcGaugeDisplay(int pixels, double length, char prefix, int* barPixels, double* barValue, char* barPrefix);
