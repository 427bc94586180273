#pragma once
// Captions of numbered items parsed from a host text such as "Topography,Current,Phase" or "0=Off,3=Height".
// Entries are separated by commas (or new lines); an entry "n=caption" (or "n:caption") gives caption n, a plain
// entry takes the number after the previous one (starting at 0).

#include <QMap>
#include <QString>
#include <QStringList>

class EnumMap
{
public:
    explicit EnumMap(const QString& text = QString());
    /// The captions in the order they appear in the text.
    QStringList getCaptions() const { return captions; }
    /// The caption of item `index`, or "?" when the text has none.
    QString caption(int index) const { return byIndex.value(index, QStringLiteral("?")); }
    int count() const { return captions.size(); }
    /// Caption `index` of `text`, or "?".
    static QString extractCaption(const QString& text, int index);

private:
    QStringList captions;
    QMap<int, QString> byIndex;
};
