#pragma once

#include <QLoggingCategory>

// Diagnostic lines; enable with QT_LOGGING_RULES="vexo.monitor.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcMonitor)
