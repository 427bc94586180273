#include "displays/colortablereader.h"

#include <QChar>
#include <QFile>

namespace {

// Blanks as the text tables use them: the C locale's white space plus, above 127, the Latin-1 characters that Qt
// counts as spaces (NEL and no-break space).
bool isBlank(uchar c)
{
    if (c == ' ' || (c >= '\t' && c <= '\r'))
        return true;
    return c > 127 && QChar(QLatin1Char(char(c))).isSpace();
}

bool isDigit(uchar c)
{
    return c >= '0' && c <= '9';
}

} // namespace

bool ColorTableReader::read(const QString& path, QVector<QRgb>* table, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open the file");
        return false;
    }
    const qint64 size = file.size();
    if (size > maxFileSize) {
        if (error)
            *error = QStringLiteral("file too large for a colour table");
        return false;
    }
    const QByteArray bytes = file.read(maxFileSize + 1);
    if (bytes.size() != size) {
        if (error)
            *error = QStringLiteral("read error");
        return false;
    }
    return parse(bytes, table, error);
}

bool ColorTableReader::parse(const QByteArray& bytes, QVector<QRgb>* table, QString* error)
{
    if (bytes.isEmpty()) {
        if (error)
            *error = QStringLiteral("empty file");
        return false;
    }
    if (bytes.size() > maxFileSize) {
        if (error)
            *error = QStringLiteral("file too large for a colour table");
        return false;
    }
    if (bytes.size() == 768 || bytes.size() == 800) {
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + (bytes.size() - 768);
        QVector<QRgb> result(256);
        for (int i = 0; i < 256; ++i)
            result[i] = qRgb(p[i], p[256 + i], p[512 + i]);
        *table = result;
        return true;
    }
    return parseText(bytes, table, error);
}

bool ColorTableReader::parseText(const QByteArray& bytes, QVector<QRgb>* table, QString* error)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const int size = bytes.size();
    auto fail = [error](const char* why) {
        if (error)
            *error = QString::fromLatin1(why);
        return false;
    };
    // A NUL byte never occurs in a text table: such a file is binary of the wrong size.
    if (bytes.contains('\0'))
        return fail("binary data of unexpected size");

    int pos = 0;
    bool labels = false;
    while (pos < size && !isDigit(p[pos])) {
        if (!isBlank(p[pos]))
            labels = true;
        ++pos;
    }

    // Reads the next unsigned number after blanks; false at the end or at anything that is not a number.
    // Values saturate just above 255, which is all the caller needs to know.
    auto next = [&](int* value) {
        while (pos < size && isBlank(p[pos]))
            ++pos;
        if (pos >= size || !isDigit(p[pos]))
            return false;
        int v = 0;
        while (pos < size && isDigit(p[pos])) {
            v = qMin(v * 10 + (p[pos] - '0'), 100000);
            ++pos;
        }
        *value = v;
        return true;
    };

    const int maxComponents = 3 * maxEntries;
    QVector<int> comps;
    comps.reserve(maxComponents);
    int v = 0;
    bool tooLarge = false;
    while (comps.size() < maxComponents) {
        if (labels && comps.size() % 3 == 0 && !next(&v))
            break;
        if (!next(&v))
            break;
        comps.append(v);
        if (v > 255) {
            tooLarge = true;
            break;
        }
    }
    if (comps.isEmpty())
        return fail("no colour values found");
    if (tooLarge)
        return fail("colour value above 255");
    if (comps.size() % 3 != 0)
        return fail("number of colour values is not a multiple of 3");
    // Reading stopped after the last entry a table holds: the colours after it are not used.
    QVector<QRgb> result(comps.size() / 3);
    for (int i = 0; i < result.size(); ++i)
        result[i] = qRgb(comps[3 * i], comps[3 * i + 1], comps[3 * i + 2]);
    *table = result;
    return true;
}
