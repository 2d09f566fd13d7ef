#include "jbig_page.h"

#include "spool.h"

#include <cstdio>
#include <unistd.h>

extern "C" {
#include <jbig.h>
}

namespace vexo::filter {
namespace {

struct BieSink {
    std::FILE* file;
    bool failed;
};

void output_bie(unsigned char* start, std::size_t length, void* file)
{
    auto* sink = static_cast<BieSink*>(file);
    if (!sink->failed && std::fwrite(start, 1, length, sink->file) != length)
        sink->failed = true;
}

}  // namespace

unsigned long stripeLines(unsigned long height)
{
    unsigned long l0 = height / 35;
    if (l0 > 128)
        l0 = 128;
    if (l0 < 2)
        l0 = 2;
    return l0;
}

int bmp_to_jbg(const std::string& path, const std::uint8_t* bitmap, int width, int height)
{
    int fd = createSpoolFile(path);
    if (fd < 0)
        return 0;
    std::FILE* file = ::fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        return 0;
    }
    static char buffer[1 << 16];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);

    BieSink sink{file, false};
    // The encoder only reads the plane; its interface is not const-correct.
    unsigned char* planes[1] = {const_cast<unsigned char*>(bitmap)};
    jbg_enc_state state;
    jbg_enc_init(&state, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 1, planes,
                 output_bie, &sink);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
    bool closed = std::fclose(file) == 0;
    return (!sink.failed && closed) ? 1 : 0;
}

}  // namespace vexo::filter
