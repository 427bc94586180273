#pragma once
// A display type registered only in the viewer's tests, so that layouts can name a type that always exists.

#include <QString>

/// The catalogue name of the test type ("Viewer Test Display"); registered on first use.
QString viewerTestType();
