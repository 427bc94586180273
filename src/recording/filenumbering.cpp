#include "recording/filenumbering.h"

#include <QDir>

namespace {

// A run of decimal digits that fits with room for the increment; longer numbers count as text.
bool parseNumber(const QString& text, qulonglong* n)
{
    if (text.isEmpty() || text.size() > 18)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *n = text.toULongLong();
    return true;
}

} // namespace

QString increaseFileNumber(const QFileInfo& file)
{
    const QString base = file.baseName();
    const QString suffix = file.suffix();
    const int underscore = base.lastIndexOf(QLatin1Char('_'));
    const QString tail = underscore >= 0 ? base.mid(underscore + 1) : base;
    const QString head = underscore >= 0 ? base.left(underscore) : base;
    qulonglong n = 0;
    const QString newBase =
        parseNumber(tail, &n) ? QStringLiteral("%1_%2").arg(head).arg(n + 1) : base + QLatin1String("_0");
    QString result = file.path() + QDir::separator() + newBase;
    if (!suffix.isEmpty())
        result += QLatin1Char('.') + suffix;
    return result;
}
