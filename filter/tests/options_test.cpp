#include "messages.h"
#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

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

TEST(Options, AbsentOptionsKeepTheDefaults)
{
    FilterJob job = jobWith({});
    EXPECT_EQ(job.isMediaType, 0);
    EXPECT_EQ(job.pageSize, "A4");
    EXPECT_EQ(job.isDuplex, 0);
    EXPECT_EQ(job.collate, 1);
    EXPECT_EQ(job.scaleRatio, 1.0);
    EXPECT_EQ(job.imageDarkness_type, 0);
    EXPECT_EQ(job.quality_type, 0);
}

TEST(Options, ChoicesMapOntoTheirCodesAndUnlistedOnesFallBack)
{
    struct Case {
        std::map<std::string, std::string> choices;
        int media, duplex, collate, darkness, quality;
        double ratio;
    };
    const Case cases[] = {
        {{{"MediaType", "SuperThick"}, {"Duplex", "DuplexTumble"}, {"GammaDarkness", "darkness5"}},
         3, 1, 1, 5, 0, 1.0},
        {{{"MediaType", "Card"}, {"Duplex", "DuplexNoTumble"}, {"Resolution", "1200*600dpi"}}, 5, 2, 1, 0, 1, 1.0},
        {{{"MediaType", "Envelope"}, {"Collate", "False"}, {"CScale", "50%"}, {"Resolution", "1200dpi"}},
         4, 0, 0, 0, 2, 0.5},
        // keywords are case-sensitive and unknown rows change nothing
        {{{"MediaType", "plain"}, {"Duplex", "None"}, {"Collate", "false"}, {"CScale", "125%"},
          {"GammaDarkness", "darkness7"}, {"Resolution", "300dpi"}},
         0, 0, 1, 0, 0, 1.0},
        {{{"MediaType", "Narrow"}, {"CScale", "150%"}, {"GammaDarkness", "darkness1"}}, 1, 0, 1, 1, 0, 1.5},
        {{{"Resolution", "1200x600dpi"}}, 0, 0, 1, 0, 1, 1.0},
    };
    for (const Case& c : cases) {
        FilterJob job = jobWith(c.choices);
        EXPECT_EQ(job.isMediaType, c.media);
        EXPECT_EQ(job.isDuplex, c.duplex);
        EXPECT_EQ(job.collate, c.collate);
        EXPECT_EQ(job.imageDarkness_type, c.darkness);
        EXPECT_EQ(job.quality_type, c.quality);
        EXPECT_DOUBLE_EQ(job.scaleRatio, c.ratio);
    }
    EXPECT_EQ(jobWith({{"PageSize", "Legal"}}).pageSize, "Legal");
}

TEST(Options, CopiesGoToTheFilterWhenCollatedAndToThePrinterOtherwise)
{
    FilterJob collated;
    applyCopies(collated, "3");
    EXPECT_EQ(collated.copies, 3);
    EXPECT_EQ(collated.jobCopies, "1");

    FilterJob uncollated;
    uncollated.collate = 0;
    applyCopies(uncollated, "3");
    EXPECT_EQ(uncollated.copies, 1);
    EXPECT_EQ(uncollated.jobCopies, "3");

    // text that is no count must never reach the job header
    uncollated.jobCopies.clear();
    applyCopies(uncollated, "3;Event=EndOfJob");
    EXPECT_EQ(uncollated.jobCopies, "1");
    FilterJob zero;
    applyCopies(zero, "0");
    EXPECT_EQ(zero.copies, 1);
}

TEST(Messages, WordingFollowsTheFirstTwoLettersOfTheLanguage)
{
    EXPECT_EQ(wordingFor("en_US"), Wording::English);
    EXPECT_EQ(wordingFor("en.UTF-8"), Wording::English);
    EXPECT_EQ(wordingFor("zh_CN"), Wording::Chinese);
    EXPECT_EQ(wordingFor("zh-Hans"), Wording::Chinese);
    EXPECT_EQ(wordingFor("fr"), Wording::OtherEnglish);
    EXPECT_EQ(wordingFor("C"), Wording::OtherEnglish);
    EXPECT_EQ(messageLanguage(nullptr, nullptr), "zh-Hans");
    EXPECT_EQ(messageLanguage("fr", "en.UTF-8"), "fr");
    EXPECT_EQ(messageLanguage(nullptr, "en.UTF-8"), "en.UTF-8");
    EXPECT_EQ(messageLanguage("", "de_DE"), "de_DE");
}

TEST(Options, PpdDefaultsAreMarkedAndJobOptionsOverrideThem)
{
    char path[] = "/tmp/vexo-options-XXXXXX.ppd";
    int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
                           "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n*PCFileName: \"T.PPD\"\n"
                           "*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n*ModelName: \"Test\"\n"
                           "*NickName: \"Test\"\n*ShortNickName: \"Test\"\n"
                           "*OpenUI *MediaType: PickOne\n*DefaultMediaType: Thick\n"
                           "*MediaType Plain: \"\"\n*MediaType Thick: \"\"\n*CloseUI: *MediaType\n"
                           "*OpenUI *GammaDarkness: PickOne\n*DefaultGammaDarkness: darkness3\n"
                           "*GammaDarkness darkness3: \"\"\n*GammaDarkness darkness5: \"\"\n"
                           "*CloseUI: *GammaDarkness\n";
    bool valid = false;
    PpdChoices choices(path, "GammaDarkness=darkness5 Other=1", valid);
    EXPECT_TRUE(valid);
    EXPECT_STREQ(choices.choice("MediaType"), "Thick");
    EXPECT_STREQ(choices.choice("GammaDarkness"), "darkness5");
    EXPECT_EQ(choices.choice("Duplex"), nullptr);
    std::remove(path);

    PpdChoices missing("/nonexistent.ppd", nullptr, valid);
    EXPECT_EQ(missing.choice("MediaType"), nullptr);
}
