// vexo-jobstream: checks the framing of a printer job stream, lists its job
// header and pages, and can decode the pages to PNG.
#include "jobstream/jbig_decode.h"
#include "jobstream/job_stream_parser.h"
#include "jobstream/png_write.h"

#include <filesystem>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

using namespace vexo::jobstream;

namespace {

const char kUsage[] =
    "usage: vexo-jobstream [--png DIR] [FILE]\n"
    "  Reads a job stream from FILE (or standard input, also for \"-\"), checks it and\n"
    "  prints the job header and one line per page. --png DIR writes DIR/page-NNN.png.\n"
    "  Exits 1 when the stream or one of its page images is malformed.\n";

bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes)
{
    if (path == "-") {
        std::cin >> std::noskipws;
        bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return !std::cin.bad();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char* argv[])
{
    std::string pngDir, path = "-";
    bool havePath = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--png" && i + 1 < argc) {
            pngDir = argv[++i];
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if ((arg == "-" || arg[0] != '-') && !havePath) {
            path = arg;
            havePath = true;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    std::vector<std::uint8_t> bytes;
    if (!readAll(path, bytes)) {
        std::fprintf(stderr, "vexo-jobstream: %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    const char* name = path == "-" ? "stdin" : path.c_str();

    Job job;
    try {
        job = parseJobStream(bytes);
    } catch (const StreamError& e) {
        std::fprintf(stderr, "vexo-jobstream: %s: %s\n", name, e.what());
        return 1;
    }

    std::printf("%s: %zu bytes\n", name, bytes.size());
    if (job.started)
        std::printf("job: Resolution=%s MediaType=%s Sides=%s Copies=%s MediaInputTrayCheck=%s\n",
                    job.header.resolution.c_str(), job.header.mediaType.c_str(), job.header.sides.c_str(),
                    job.header.copies.c_str(), job.header.trayCheck.c_str());
    else
        std::printf("job: no pages, no job header\n");

    int status = 0;
    if (!pngDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(pngDir, error);
        if (error) {
            std::fprintf(stderr, "vexo-jobstream: %s: %s\n", pngDir.c_str(), error.message().c_str());
            return 2;
        }
    }
    for (std::size_t i = 0; i < job.pages.size(); ++i) {
        const Page& page = job.pages[i];
        std::printf("page %zu: %s %d x %d, %zu bytes in %zu chunk(s)", i + 1, page.mediaSize.c_str(), page.width,
                    page.height, page.data.size(), page.chunks.size());
        if (page.data.empty()) {
            std::printf(", no image\n");
            continue;
        }
        try {
            DecodedImage image = decodeJbig(page.data);
            const Bitmap& bitmap = image.bitmap;
            if (bitmap.width != static_cast<unsigned long>(page.width) ||
                bitmap.height != static_cast<unsigned long>(page.height))
                throw JbigError("image is " + std::to_string(bitmap.width) + " x " + std::to_string(bitmap.height) +
                                ", the page header says " + std::to_string(page.width) + " x " +
                                std::to_string(page.height));
            double share = 100.0 * static_cast<double>(bitmap.blackPixels()) /
                           (static_cast<double>(bitmap.width) * static_cast<double>(bitmap.height));
            std::printf(", %.2f%% black\n", share);
            if (!pngDir.empty()) {
                char file[32];
                std::snprintf(file, sizeof file, "/page-%03zu.png", i + 1);
                writePng(pngDir + file, bitmap);
            }
        } catch (const JbigError& e) {
            std::printf("\n");
            std::fprintf(stderr, "vexo-jobstream: %s: page %zu (offset %zu): %s\n", name, i + 1, page.offset,
                         e.what());
            status = 1;
        } catch (const std::exception& e) {
            std::printf("\n");
            std::fprintf(stderr, "vexo-jobstream: %s\n", e.what());
            status = 1;
        }
    }
    std::printf("end: %s\n", job.ending == Ending::Cancelled ? "CancelJob?" : "Event=EndOfJob;");
    return status;
}
