#include "framework/logging.h"

Q_LOGGING_CATEGORY(lcFramework, "orvik.framework")
Q_LOGGING_CATEGORY(lcConnection, "orvik.connection")
Q_LOGGING_CATEGORY(lcSnapshot, "orvik.snapshot")
Q_LOGGING_CATEGORY(lcDisplays, "orvik.displays")
Q_LOGGING_CATEGORY(lcFilters, "orvik.filters")
Q_LOGGING_CATEGORY(lcRecording, "orvik.recording")
Q_LOGGING_CATEGORY(lcRouting, "orvik.routing")
