// Filter messages on standard error: debug lines and user-visible INFO lines
// in the job's language.
#pragma once

#include "filter_job.h"

#include <cstdarg>

namespace vexo::filter {

// The three wordings of one user message: first English, Chinese, second English.
// Passed by value: va_start needs a parameter that is not a reference.
struct UserText {
    const char* english;
    const char* chinese;
    const char* otherEnglish;
};

// Picks the wording from a locale text ("en_US", "zh-Hans", "fr", "en.UTF-8").
Wording wordingFor(const std::string& language);

// APPLE_LANGUAGE when set, else LANG, else the default "zh-Hans".
std::string messageLanguage(const char* appleLanguage, const char* lang);

void logLine(const FilterJob& job, const char* format, ...) __attribute__((format(printf, 2, 3)));
void say(const FilterJob& job, UserText text, ...);

}  // namespace vexo::filter
