#include "messages.h"

#include <cstdio>

namespace vexo::filter {

Wording wordingFor(const std::string& language)
{
    if (language.compare(0, 2, "en") == 0)
        return Wording::English;
    if (language.compare(0, 2, "zh") == 0)
        return Wording::Chinese;
    return Wording::OtherEnglish;
}

std::string messageLanguage(const char* appleLanguage, const char* lang)
{
    if (appleLanguage && *appleLanguage)
        return appleLanguage;
    if (lang && *lang)
        return lang;
    return "zh-Hans";
}

void logLine(const FilterJob& job, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(job.log, format, args);
    va_end(args);
}

void say(const FilterJob& job, UserText text, ...)
{
    const char* format = text.chinese;
    if (job.wording == Wording::English)
        format = text.english;
    else if (job.wording == Wording::OtherEnglish)
        format = text.otherEnglish;
    va_list args;
    va_start(args, text);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vfprintf(job.log, format, args);
#pragma GCC diagnostic pop
    va_end(args);
    std::fflush(job.log);
}

}  // namespace vexo::filter
