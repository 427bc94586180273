#include "utilif/enummap.h"

#include <QRegularExpression>

EnumMap::EnumMap(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[,\\n]"));
    static const QRegularExpression numbered(QStringLiteral("^\\s*(-?\\d+)\\s*[=:]\\s*(.*)$"));
    int next = 0;
    const QStringList entries = text.split(separators, Qt::SkipEmptyParts);
    for (const QString& raw : entries) {
        QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        int index = next;
        const auto m = numbered.match(entry);
        if (m.hasMatch()) {
            bool ok = false;
            const int n = m.captured(1).toInt(&ok);
            if (ok) {
                index = n;
                entry = m.captured(2).trimmed();
            }
        }
        captions.append(entry);
        byIndex.insert(index, entry);
        next = index + 1;
    }
}

QString EnumMap::extractCaption(const QString& text, int index)
{
    return EnumMap(text).caption(index);
}
