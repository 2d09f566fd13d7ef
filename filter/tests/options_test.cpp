#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

using namespace vexo::filter;

namespace {

// Runs the option lookup against a fixed set of marked choices.
FilterJob jobWith(const std::map<std::string, std::string>& choices)
{
    FilterJob job;
    job.log = std::fopen("/dev/null", "w");
    applyOptions(job, [&](const char* option) -> const char* {
        auto it = choices.find(option);
        return it == choices.end() ? nullptr : it->second.c_str();
    });
    std::fclose(job.log);
    job.log = stderr;
    return job;
}

}  // namespace

TEST(Options, ChoicesMapOntoTheirCodesAndUnlistedOnesFallBack)
{
    struct Case {
        std::map<std::string, std::string> choices;
        int media, duplex, collate, darkness, quality;
        double ratio;
        const char* pageSize;
    };
    const Case cases[] = {
        {{}, 0, 0, 1, 0, 0, 1.0, "A4"},
        {{{"MediaType", "SuperThick"}, {"Duplex", "DuplexTumble"}, {"GammaDarkness", "darkness5"}, {"PageSize", "Legal"}},
         3, 1, 1, 5, 0, 1.0, "Legal"},
        {{{"MediaType", "Card"}, {"Duplex", "DuplexNoTumble"}, {"Resolution", "1200*600dpi"}}, 5, 2, 1, 0, 1, 1.0, "A4"},
        {{{"MediaType", "Envelope"}, {"Collate", "False"}, {"CScale", "50%"}, {"Resolution", "1200dpi"}},
         4, 0, 0, 0, 2, 0.5, "A4"},
        // keywords are case-sensitive and unknown rows change nothing
        {{{"MediaType", "plain"}, {"Duplex", "None"}, {"Collate", "false"}, {"CScale", "125%"},
          {"GammaDarkness", "darkness7"}, {"Resolution", "300dpi"}},
         0, 0, 1, 0, 0, 1.0, "A4"},
        {{{"MediaType", "Narrow"}, {"CScale", "150%"}, {"GammaDarkness", "darkness1"}}, 1, 0, 1, 1, 0, 1.5, "A4"},
        {{{"Resolution", "1200x600dpi"}}, 0, 0, 1, 0, 1, 1.0, "A4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.choices));
        FilterJob job = jobWith(c.choices);
        EXPECT_EQ(job.isMediaType, c.media);
        EXPECT_EQ(job.isDuplex, c.duplex);
        EXPECT_EQ(job.collate, c.collate);
        EXPECT_EQ(job.imageDarkness_type, c.darkness);
        EXPECT_EQ(job.quality_type, c.quality);
        EXPECT_DOUBLE_EQ(job.scaleRatio, c.ratio);
        EXPECT_EQ(job.pageSize, c.pageSize);
    }
}

TEST(Options, CopiesGoToTheFilterWhenCollatedAndToThePrinterOtherwise)
{
    struct Case {
        int collate;
        const char* argument;
        int copies;
        const char* jobCopies;
    };
    const Case cases[] = {
        {1, "3", 3, "1"},
        {0, "3", 1, "3"},
        {0, "3;Event=EndOfJob", 1, "1"},  // text that is no count must never reach the job header
        {1, "0", 1, "1"},
        {0, "123456", 1, "9999"},
    };
    for (const Case& c : cases) {
        FilterJob job;
        job.collate = c.collate;
        applyCopies(job, c.argument);
        EXPECT_EQ(job.copies, c.copies) << c.argument;
        EXPECT_EQ(job.jobCopies, c.jobCopies) << c.argument;
    }
}
