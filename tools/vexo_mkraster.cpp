// vexo-mkraster: writes CUPS raster of sample pages, for trying the filter
// without a spooler.
#include "mkraster/raster_writer.h"
#include "mkraster/sample_page.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace vexo::mkraster;

namespace {

const char kUsage[] =
    "usage: vexo-mkraster [options] [> out.ras]\n"
    "  --pages N         number of pages (default 1)\n"
    "  --dpi N           resolution (default 600)\n"
    "  --size NAME|WxH   A4 (default), Letter, A5, or width x height in points\n"
    "  --space NAME      W (default), SW, K or RGB\n"
    "  --bits N          bits per colour: 1, 2, 4, 8 (default) or 16\n"
    "  --uncompressed    version 1 raster instead of compressed version 2\n"
    "  -o FILE           write to FILE instead of standard output\n";

[[noreturn]] void usage(const char* problem)
{
    if (problem)
        std::fprintf(stderr, "vexo-mkraster: %s\n", problem);
    std::fputs(kUsage, stderr);
    std::exit(2);
}

unsigned number(const char* text, unsigned low, unsigned high, const char* what)
{
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (!*text || *end || v < low || v > high)
        usage((std::string(what) + " must be " + std::to_string(low) + ".." + std::to_string(high)).c_str());
    return static_cast<unsigned>(v);
}

void parseSize(const std::string& text, PageFormat& f)
{
    struct Named {
        const char* name;
        unsigned w, h;
    };
    static constexpr Named kSizes[] = {{"A4", 595, 842}, {"Letter", 612, 792}, {"A5", 420, 595}};
    for (const auto& s : kSizes)
        if (text == s.name) {
            f.widthPt = s.w;
            f.heightPt = s.h;
            f.sizeName = s.name;
            return;
        }
    std::size_t x = text.find('x');
    if (x == std::string::npos)
        usage("--size takes A4, Letter, A5 or WxH in points");
    f.widthPt = number(text.substr(0, x).c_str(), 1, 14400, "page width");
    f.heightPt = number(text.substr(x + 1).c_str(), 1, 14400, "page height");
    f.sizeName = "Custom";
}

cups_cspace_t parseSpace(const std::string& text)
{
    if (text == "W")
        return CUPS_CSPACE_W;
    if (text == "SW")
        return CUPS_CSPACE_SW;
    if (text == "K")
        return CUPS_CSPACE_K;
    if (text == "RGB")
        return CUPS_CSPACE_RGB;
    usage("--space takes W, SW, K or RGB");
}

}  // namespace

int main(int argc, char* argv[])
{
    PageFormat format;
    unsigned pages = 1;
    bool compressed = true;
    const char* output = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                usage((arg + " needs a value").c_str());
            return argv[++i];
        };
        if (arg == "--pages")
            pages = number(value(), 1, 9999, "--pages");
        else if (arg == "--dpi")
            format.dpi = number(value(), 10, 2400, "--dpi");
        else if (arg == "--size")
            parseSize(value(), format);
        else if (arg == "--space")
            format.colorSpace = parseSpace(value());
        else if (arg == "--bits")
            format.bits = number(value(), 1, 16, "--bits");
        else if (arg == "--uncompressed")
            compressed = false;
        else if (arg == "-o")
            output = value();
        else if (arg == "-h" || arg == "--help")
            usage(nullptr);
        else
            usage(("unknown argument " + arg).c_str());
    }
    if (format.bits != 1 && format.bits != 2 && format.bits != 4 && format.bits != 8 && format.bits != 16)
        usage("--bits takes 1, 2, 4, 8 or 16");
    if (format.colorSpace == CUPS_CSPACE_RGB && format.bits != 8 && format.bits != 16)
        usage("RGB takes 8 or 16 bits");

    int fd = STDOUT_FILENO;
    if (output) {
        fd = ::open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "vexo-mkraster: %s: %s\n", output, std::strerror(errno));
            return 1;
        }
    } else if (::isatty(fd)) {
        usage("will not write raster to a terminal; redirect it or use -o");
    }

    const cups_page_header2_t header = pageHeader(format);
    const std::string caption = std::to_string(format.dpi) + " DPI " + std::to_string(format.widthPt) + "X" +
                                std::to_string(format.heightPt) + " PT";
    RasterWriter writer(fd, compressed);
    for (unsigned page = 1; page <= pages && writer.ok(); ++page)
        writer.writePage(header, samplePage(static_cast<int>(header.cupsWidth), static_cast<int>(header.cupsHeight),
                                            static_cast<int>(page), caption));
    bool written = writer.close();
    if (output && ::close(fd) != 0)
        written = false;
    if (!written) {
        std::fprintf(stderr, "vexo-mkraster: writing the raster failed\n");
        return 1;
    }
    return 0;
}
