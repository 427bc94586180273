#pragma once
// A display type registered only in the viewer's tests, so that layouts can name a type that always exists.

#include <QElapsedTimer>
#include <QString>
#include <QTest>

/// The catalogue name of the test type ("Viewer Test Display"); registered on first use.
QString viewerTestType();

/// Polls `done` with the event loop running until it holds or `ms` milliseconds pass.
template <typename F> bool pollUntil(F done, int ms = 15000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QTest::qWait(20);
    }
    return true;
}
