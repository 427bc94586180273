#pragma once
// Reader of colour lookup tables (*.col, *.lut) for the frame display.
//
// Three layouts exist: 768 bytes of binary (256 red, 256 green, 256 blue), the same after a 32-byte header (800
// bytes), and text: unsigned decimal components, three per colour, optionally with a leading index number on every
// line (detected by any non-blank character before the first digit of the file). The reader never changes its
// output unless the whole table is valid.

#include <QByteArray>
#include <QRgb>
#include <QString>
#include <QVector>

class ColorTableReader
{
public:
    /// Largest text table: 2000 colours, 6000 components; a longer file gives its first 2000 colours.
    static constexpr int maxEntries = 2000;
    /// Text tables beyond this size are rejected before they are read.
    static constexpr qint64 maxFileSize = 1 << 20;

    /// Reads a table file. On failure `table` is untouched, `error` (if given) says why and the result is false.
    static bool read(const QString& path, QVector<QRgb>* table, QString* error = nullptr);
    /// Parses the bytes of a table file (layout chosen by size as for a file).
    static bool parse(const QByteArray& bytes, QVector<QRgb>* table, QString* error = nullptr);

private:
    static bool parseText(const QByteArray& bytes, QVector<QRgb>* table, QString* error);
};
