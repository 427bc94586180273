#pragma once
// Logging category of the view library; the "debug log" lines go to qCDebug(lcFramework) and its siblings.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFramework)
Q_DECLARE_LOGGING_CATEGORY(lcConnection)
Q_DECLARE_LOGGING_CATEGORY(lcSnapshot)
Q_DECLARE_LOGGING_CATEGORY(lcDisplays)
Q_DECLARE_LOGGING_CATEGORY(lcFilters)
Q_DECLARE_LOGGING_CATEGORY(lcRecording)
Q_DECLARE_LOGGING_CATEGORY(lcRouting)
