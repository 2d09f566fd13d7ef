#include "options.h"

#include "messages.h"

// The PPD API is marked deprecated but is what a classic PPD-driven filter uses.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace vexo::filter {
namespace {

struct MediaRow {
    const char* choice;
    int code;
};
constexpr MediaRow kMediaTypes[] = {
    {"Plain", 0}, {"Narrow", 1}, {"Thick", 2}, {"SuperThick", 3}, {"Envelope", 4}, {"Card", 5},
};

struct ScaleRow {
    const char* choice;
    double ratio;
};
constexpr ScaleRow kScales[] = {
    {"50%", 0.5}, {"60%", 0.6}, {"70%", 0.7}, {"80%", 0.8}, {"90%", 0.9}, {"100%", 1.0},
    {"110%", 1.1}, {"120%", 1.2}, {"130%", 1.3}, {"140%", 1.4}, {"150%", 1.5},
};

constexpr const char* kDarkness[] = {"darkness0", "darkness1", "darkness2",
                                     "darkness3", "darkness4", "darkness5"};
constexpr const char* kResolutions[] = {"600dpi", "1200*600dpi", "1200dpi"};

void applyMediaType(FilterJob& job, const char* choice)
{
    if (!choice) {
        logLine(job, "DEBUG:[Wren]media_type=##\n");
        return;
    }
    job.media_type = choice;
    for (const auto& row : kMediaTypes) {
        if (std::strcmp(row.choice, choice) == 0) {
            job.isMediaType = row.code;
            logLine(job, "DEBUG:[Wren]media_type=%s\n", choice);
            return;
        }
    }
    logLine(job, "DEBUG:[Wren]media_type =%s\n", choice);
    job.isMediaType = 0;
    logLine(job, "DEBUG:[Wren]media_type=%s\n", choice);
}

void applyPageSize(FilterJob& job, const char* choice)
{
    if (!choice) {
        logLine(job, "DEBUG:[Wren]InputSlot =NULL, so set pagesize to default A4\n");
        job.pageSize = "A4";
        return;
    }
    job.pageSize = choice;
    logLine(job, "DEBUG:[Wren]pageSize =%s\n", choice);
}

void applyInputSlot(FilterJob& job, const char* choice)
{
    if (!choice) {
        logLine(job, "DEBUG:[Wren]InputSlot =NULL\n");
        return;
    }
    job.InputSlot = choice;
    logLine(job, "DEBUG:[Wren]InputSlot =%s\n", choice);
    logLine(job, "DEBUG:[Wren]isInputSlot =%d\n", 0);
}

void applyDuplex(FilterJob& job, const char* choice)
{
    if (!choice) {
        logLine(job, "DEBUG:[Wren]Duplex =NULL\n");
        job.isDuplex = 0;
        return;
    }
    job.Duplex = choice;
    logLine(job, "DEBUG:[Wren]Duplex =%s\n", choice);
    if (std::strcmp(choice, "DuplexTumble") == 0)
        job.isDuplex = 1;
    else if (std::strcmp(choice, "DuplexNoTumble") == 0)
        job.isDuplex = 2;
    else
        job.isDuplex = 0;
}

void applyCollate(FilterJob& job, const char* choice)
{
    if (!choice) {
        logLine(job, "DEBUG:[Wren]collateChoice = NULL\n");
    } else {
        logLine(job, "DEBUG:[Wren]collateChoice =%s\n", choice);
        if (std::strcmp(choice, "False") == 0)
            job.collate = 0;
    }
    logLine(job, "DEBUG:[Wren]collate =%d\n", job.collate);
}

void applyScale(FilterJob& job, const char* choice)
{
    job.scaleRatio = 1.0;
    if (!choice)
        return;
    for (const auto& row : kScales) {
        if (std::strcmp(row.choice, choice) == 0) {
            job.scaleRatio = row.ratio;
            break;
        }
    }
    logLine(job, "DEBUG:[Wren]CScale =%s and ratio = %f\n", choice, job.scaleRatio);
}

// Index of `choice` in `table`, or -1.
template <std::size_t N>
int indexOf(const char* const (&table)[N], const char* choice)
{
    for (std::size_t i = 0; i < N; ++i)
        if (std::strcmp(table[i], choice) == 0)
            return static_cast<int>(i);
    return -1;
}

void applyDarkness(FilterJob& job, const char* choice)
{
    if (choice) {
        logLine(job, "DEBUG:[Wren]imageDarkness choice = %s\n", choice);
        if (int level = indexOf(kDarkness, choice); level >= 0)
            job.imageDarkness_type = level;
    }
    logLine(job, "DEBUG:[Wren]imageDarkness=%d, 0 = off ,1->5 = ligth->dark\n", job.imageDarkness_type);
}

void applyResolution(FilterJob& job, const char* choice)
{
    if (choice) {
        logLine(job, "DEBUG:[Wren]Resolution = %s\n", choice);
        if (int code = indexOf(kResolutions, choice); code >= 0)
            job.quality_type = code;
        else if (std::strcmp(choice, "1200x600dpi") == 0)
            job.quality_type = 1;  // the spelling a PPD may carry for 1200*600dpi
    }
    logLine(job, "DEBUG:[Wren]Resolution_type=%d, 0->600dpi, 1->1200*600dpi, 2->1200dpi\n",
            job.quality_type);
}

bool isDecimal(const char* text)
{
    if (!text || !*text)
        return false;
    for (const char* p = text; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

}  // namespace

void applyOptions(FilterJob& job, const ChoiceLookup& lookup)
{
    applyMediaType(job, lookup("MediaType"));
    applyPageSize(job, lookup("PageSize"));
    applyInputSlot(job, lookup("InputSlot"));
    applyDuplex(job, lookup("Duplex"));
    applyCollate(job, lookup("Collate"));
    applyScale(job, lookup("CScale"));
    applyDarkness(job, lookup("GammaDarkness"));
    applyResolution(job, lookup("Resolution"));
}

void applyCopies(FilterJob& job, const char* copiesArgument)
{
    // A count that is no plain positive number would put arbitrary text into
    // the job header; it counts as one copy.
    constexpr long kMaxCopies = 9999;
    long count = isDecimal(copiesArgument) ? std::strtol(copiesArgument, nullptr, 10) : 1;
    if (count < 1)
        count = 1;
    if (count > kMaxCopies)
        count = kMaxCopies;
    // Collated copies are sent by the filter, the others made by the printer.
    const bool collated = job.collate == 1;
    job.copies = collated ? static_cast<int>(count) : 1;
    std::string header(1, '1');
    if (!collated)
        header = isDecimal(copiesArgument) && std::strlen(copiesArgument) <= 4 ? std::string(copiesArgument)
                                                                               : std::to_string(count);
    job.jobCopies = std::move(header);
}

PpdChoices::PpdChoices(const char* ppdPath, const char* optionString, bool& optionsValid)
{
    cups_option_t* options = nullptr;
    int numOptions = 0;
    optionsValid = true;
    if (optionString) {
        numOptions = cupsParseOptions(optionString, 0, &options);
        if (numOptions < 0) {
            optionsValid = false;
            return;
        }
    }
    if (ppdPath)
        ppd_ = ppdOpenFile(ppdPath);
    if (ppd_) {
        ppdMarkDefaults(ppd_);
        cupsMarkOptions(ppd_, numOptions, options);
    }
    cupsFreeOptions(numOptions, options);
}

PpdChoices::~PpdChoices()
{
    if (ppd_)
        ppdClose(ppd_);
}

const char* PpdChoices::choice(const char* option) const
{
    if (!ppd_)
        return nullptr;
    ppd_choice_t* marked = ppdFindMarkedChoice(ppd_, option);
    return marked ? marked->choice : nullptr;
}

}  // namespace vexo::filter
