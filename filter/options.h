// Job options: the queue's marked PPD choices mapped onto the job state.
#pragma once

#include "filter_job.h"

#include <functional>

struct ppd_file_s;

namespace vexo::filter {

// Returns the marked choice keyword of a PPD option, or nullptr when absent.
using ChoiceLookup = std::function<const char*(const char* option)>;

// Applies MediaType, PageSize, InputSlot, Duplex, Collate, CScale,
// GammaDarkness and Resolution, in that order, logging each.
void applyOptions(FilterJob& job, const ChoiceLookup& lookup);

// Copies from the command line; needs `collate` set first.
void applyCopies(FilterJob& job, const char* copiesArgument);

// Marked choices of the PPD named by `ppdPath` after its defaults and the job's
// option string; nullptr lookups when the PPD cannot be opened. Returns false
// when the option string is malformed.
class PpdChoices {
public:
    PpdChoices(const char* ppdPath, const char* optionString, bool& optionsValid);
    ~PpdChoices();
    PpdChoices(const PpdChoices&) = delete;
    PpdChoices& operator=(const PpdChoices&) = delete;

    const char* choice(const char* option) const;

private:
    ::ppd_file_s* ppd_ = nullptr;
};

}  // namespace vexo::filter
