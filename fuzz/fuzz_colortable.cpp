// Fuzz target of the colour lookup table reader: any bytes must give either a valid table or a failure that leaves
// the previous table as it was.
#include "displays/colortablereader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    const QVector<QRgb> previous{qRgb(1, 2, 3)};
    QVector<QRgb> table = previous;
    QString error;
    if (ColorTableReader::parse(bytes, &table, &error)) {
        if (table.isEmpty() || table.size() > ColorTableReader::maxEntries)
            abort();
        for (QRgb c : table) {
            if (qAlpha(c) != 255)
                abort();
        }
    } else if (table != previous || error.isEmpty()) {
        abort();
    }
    return 0;
}
