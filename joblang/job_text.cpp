#include "job_text.h"

#include <cstdio>

namespace vexo::joblang {
namespace {

struct MediaSizeRow {
    const char* keyword;
    const char* field;
    const char* debug;
};
constexpr MediaSizeRow kMediaSizes[] = {
    {"A4", "MediaSize=na_a4_210x297mm;", "DEBUG:[Wren]MediaSize=na_a4_210x297mm;\n"},
    {"A5", "MediaSize=na_a5_148x210mm;", "DEBUG:[Wren]MediaSize=na_a5_148x210mm;\n"},
    {"A5-R", "MediaSize=na_a5-TRANSVERSE_210x148mm;", "DEBUG:[Wren]MediaSize=na_a5-TRANSVERSE_210x148mm;\n"},
    {"A6", "MediaSize=na_a6_105x148mm;", "DEBUG:[Wren]MediaSize=na_a6_105x148mm;\n"},
    {"B5", "MediaSize=na_b5_182x257mm;", "DEBUG:[Wren]MediaSize=na_b5_182x257mm;\n"},
    {"B6", "MediaSize=na_b6_128x182mm;", "DEBUG:[Wren]MediaSize=na_b6_128x182mm;\n"},
    {"16K", "MediaSize=na_16k_195x270mm;", "DEBUG:[Wren]MediaSize=na_16k_195x270mm(else);\n"},
    {"Custom.595.28x841.89", "MediaSize=na_16k_195x270mm;", "DEBUG:[Wren]MediaSize=na_16k_195x270mm(else);\n"},
    {"32K", "MediaSize=na_32k_135x195mm;", "DEBUG:[Wren]MediaSize=na_32k_135x195mm;\n"},
    {"Letter", "MediaSize=na_LETTER_216x279mm;", "DEBUG:[Wren]MediaSize=na_letter_216x279mm;"},
    {"85x170mm", "MediaSize=na_bank_85x170mm;", "DEBUG:[Wren]MediaSize=na_bank_85x170mm;"},
};
constexpr const char* kOtherSizeField = "MediaSize=na_a4_210x297mm;";
constexpr const char* kOtherSizeDebug = "DEBUG:[Wren]MediaSize=na_a4_210x297mm(other);\n";

std::string customSizeField(int width, int height, int quality)
{
    double dx = quality == 0 ? 23.6 : 47.2;
    double dy = quality == 2 ? 47.2 : 23.6;
    char field[50];
    std::snprintf(field, sizeof field, "MediaSize=na_customsize_%dx%dmm;", static_cast<int>(width / dx),
                  static_cast<int>(height / dy));
    return field;
}

}  // namespace

const char* resolutionField(int quality)
{
    switch (quality) {
    case 1: return "Resolution=1200x600;";
    case 2: return "Resolution=1200x1200;";
    default: return "Resolution=600x600;";
    }
}

MediaTypeRow mediaTypeRow(int code)
{
    switch (code) {
    case 0: return {"MediaType=plain;", "DEBUG:[Wren]MediaType=plain(NULL);\n"};
    case 1: return {"MediaType=Narrow;", "DEBUG:[Wren]MediaType=thin or narrow;\n"};
    case 2: return {"MediaType=Thick;", "DEBUG:[Wren]MediaType=thick;\n"};
    case 3: return {"MediaType=Superthick;", "DEBUG:[Wren]MediaType=Superthick;\n"};
    case 4: return {"MediaType=envelope;", "DEBUG:[Wren]MediaType=envelope;\n"};
    default: return {"MediaType=plain;", "DEBUG:[Wren]MediaType=plain;\n"};
    }
}

const char* sidesField(int duplex)
{
    if (duplex == 0)
        return "Sides=OneSided;";
    return duplex == 1 ? "Sides=TwoSidedShortEdge;" : "Sides=TwoSidedLongEdge;";
}

std::string jobHeaderText(const JobSettings& settings)
{
    std::string text = resolutionField(settings.quality);
    text += mediaTypeRow(settings.mediaType).field;
    text += sidesField(settings.duplex);
    text += "Copies=" + settings.copies + ";";
    text += "MediaInputTrayCheck=auto;";
    return text;
}

std::string mediaSizeField(const std::string& pageSize, int width, int height, int quality)
{
    for (const auto& row : kMediaSizes)
        if (pageSize == row.keyword)
            return row.field;
    if (pageSize == "Custom")
        return customSizeField(width, height, quality);
    return kOtherSizeField;
}

const char* mediaSizeDebug(const std::string& pageSize)
{
    for (const auto& row : kMediaSizes)
        if (pageSize == row.keyword)
            return row.debug;
    return kOtherSizeDebug;
}

std::string pageHeaderText(const std::string& pageSize, int width, int height, int quality)
{
    std::string text = mediaSizeField(pageSize, width, height, quality);
    text += "RasterObject.Width=" + std::to_string(roundUpTo8(width)) + ";";
    text += "RasterObject.Height=" + std::to_string(height) + ";";
    return text;
}

std::string chunkHeader(std::size_t count)
{
    return "RasterObject.Data#" + std::to_string(count) + "=";
}

}  // namespace vexo::joblang
