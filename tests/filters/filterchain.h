#pragma once
// A filter under test with a RecordingPlugin as its successor.

#include "support/recordingplugin.h"

#include <QVector>
#include <memory>

template <class F>
struct FilterChain
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
