#pragma once

#include <QMetaType>

enum class TimerMode { running = 0, stopped = 1, paused = 2 };

inline const char* timerModeName(TimerMode mode)
{
    switch (mode) {
    case TimerMode::running: return "running";
    case TimerMode::stopped: return "stopped";
    case TimerMode::paused: return "paused";
    }
    return "unknown";
}

Q_DECLARE_METATYPE(TimerMode)
