#pragma once

#include <cstdint>
#include <optional>

// How a printer is reached for its status.
enum class Link { usb, network };

// Outcome of one status exchange with a printer.
struct StatusReading {
    bool answered = false;  // false: unplugged, switched off or timed out
    std::int64_t code = 0;
    std::optional<std::int64_t> toner;  // percent 0..100; absent when unreadable
};
