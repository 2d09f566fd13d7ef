#include "jbig_page.h"

#include "spool.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace vexo::filter {
namespace {

class FileSink final : public joblang::ByteSink {
public:
    explicit FileSink(std::FILE* file) : file_(file) {}
    void write(const std::uint8_t* data, std::size_t length) override
    {
        if (!failed && std::fwrite(data, 1, length, file_) != length)
            failed = true;
    }
    bool failed = false;

private:
    std::FILE* file_;
};

}  // namespace

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
    // Per call: pages may be encoded on several threads at once.
    constexpr std::size_t kBuffer = 1 << 16;
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    std::setvbuf(file, buffer.get(), _IOFBF, kBuffer);

    FileSink sink(file);
    joblang::encodeJbig(bitmap, width, height, sink);
    bool closed = std::fclose(file) == 0;
    return (!sink.failed && closed) ? 1 : 0;
}

}  // namespace vexo::filter
