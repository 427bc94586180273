#pragma once
// A filter under test with a RecordingPlugin as its successor.

#include "support/recordingplugin.h"

#include <QVector>
#include <memory>

template <class F> struct FilterChain
{
    std::unique_ptr<F> filter = std::make_unique<F>(nullptr, QStringLiteral("f"));
    RecordingPlugin* rec = new RecordingPlugin;

    FilterChain() { filter->setSuccessor(rec); }
    F* operator->() { return filter.get(); }
    void feed(const QVector<int>& words, int index) { filter->setData(words.constData(), words.size(), index); }
};

/// `first`, `first + step`, ... (`count` words).
inline QVector<int> ramp(int count, int first = 0, int step = 1)
{
    QVector<int> v(count);
    for (int i = 0; i < count; ++i)
        v[i] = first + i * step;
    return v;
}

/// The position of every word the recorder received, from its setData calls.
inline QVector<int> wordPositions(const RecordingPlugin& rec)
{
    QVector<int> positions;
    for (const QString& call : rec.calls) {
        if (!call.startsWith(QLatin1String("setData ")))
            continue;
        const QStringList parts = call.split(QLatin1Char(' '));
        const int n = parts.at(1).toInt(), at = parts.at(2).mid(1).chopped(1).toInt();
        for (int k = 0; k < n; ++k)
            positions << at + k;
    }
    return positions;
}
