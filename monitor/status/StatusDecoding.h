#pragma once

#include "StatusReading.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// What the status panel shows for a status code.
struct DecodedStatus {
    std::int64_t level;       // 1 normal, 2 warning, 3 error
    std::string message;
    std::string discription;  // advice, may be empty
};

// Never fails: a code no consulted table holds decodes to a level 3 "错误码" text.
DecodedStatus decodeStatusInfo(std::int64_t code, std::string_view printerName);

// What every program shows for a printer that did not answer (kStatusNoAnswer):
// an error whose advice depends on how the printer is reached.
DecodedStatus noAnswerStatus(Link link);

struct StatusEntry {
    std::int64_t code;
    std::int64_t level;
    std::string_view message;
    std::string_view advice;
};

// A model family: the model names it covers and the codes whose meaning
// depends on the family.
struct StatusSeries {
    std::string_view name;
    std::span<const std::string_view> models;
    std::span<const StatusEntry> table;
};

// Codes that mean the same on every model; looked up before any series table.
std::span<const StatusEntry> baseStatus();

// Families in lookup order; the first one naming the model wins.
std::span<const StatusSeries> statusSeries();
