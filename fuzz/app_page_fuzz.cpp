// The printer application's page callbacks as a client drives them: page
// headers of any content, lines of any length and number, pages ended or
// not, jobs finished or cancelled. Whatever comes in, what goes to the
// printer must be a well-formed job stream.
#include "print_job.h"

#include "jobstream/job_stream_parser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace vexo::app;

namespace {

constexpr unsigned long long kFuzzPixelCap = 1u << 22;  // keeps a run fast

class Capture final : public Output {
public:
    bool write(const void* data, std::size_t size) override
    {
        bytes.append(static_cast<const char*>(data), size);
        return true;
    }
    void flush() override {}
    std::string bytes;
};

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    std::uint32_t u32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return v;
    }
    // Up to `n` bytes, as many as are left.
    std::vector<std::uint8_t> bytes(std::size_t n)
    {
        n = std::min(n, size_ - std::min(pos_, size_));
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

cups_page_header2_t header(Input& in)
{
    cups_page_header2_t h{};
    // small sizes mostly, any size sometimes
    const std::uint8_t shape = in.byte();
    h.cupsWidth = shape & 1 ? in.u32() : in.byte() * 8u + in.byte();
    h.cupsHeight = shape & 2 ? in.u32() : in.byte() * 4u + in.byte();
    const unsigned space = shape & 4 ? in.byte() : CUPS_CSPACE_SW;
    std::memcpy(&h.cupsColorSpace, &space, sizeof space);  // any number, as on the wire
    h.cupsBitsPerColor = shape & 8 ? in.byte() : 8;
    h.cupsBitsPerPixel = shape & 16 ? in.byte() : 8;
    h.cupsBytesPerLine = shape & 32 ? in.u32() : h.cupsWidth;
    const unsigned dpi = shape & 64 ? 1200 : 600;
    h.HWResolution[0] = shape & 128 ? in.u32() : dpi;
    h.HWResolution[1] = shape & 128 ? in.u32() : dpi;
    h.PageSize[0] = in.byte() * 4u;
    h.PageSize[1] = in.byte() * 4u;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Input in(data, size);
    const std::uint8_t knobs = in.byte();
    Capture out;
    PrintJob job(out, {knobs % 6, knobs / 6 % 3, knobs / 18 % 6});
    unsigned width = 0;
    bool finished = false;
    while (!in.empty() && !finished) {
        switch (in.byte() % 5) {
        case 0: {
            const cups_page_header2_t h = header(in);
            if (static_cast<unsigned long long>(h.cupsWidth) * h.cupsHeight > kFuzzPixelCap)
                break;
            width = job.startPage(h).empty() ? h.cupsWidth : 0;
            break;
        }
        case 1: {
            // A line is always as long as the page is wide: PAPPL allocates it so.
            const unsigned y = in.byte() * 256u + in.byte();
            std::vector<std::uint8_t> line = in.bytes(width);
            line.resize(width, 0x80);
            job.writeLine(y, line.data());
            break;
        }
        case 2: job.endPage(); break;
        case 3: finished = job.finish(); break;
        default:
            job.cancel();
            finished = true;
            break;
        }
    }
    if (!out.bytes.empty()) {
        try {
            vexo::jobstream::parseJobStream(
                {reinterpret_cast<const std::uint8_t*>(out.bytes.data()), out.bytes.size()});
        } catch (const vexo::jobstream::StreamError&) {
            // a stream cut between pages is fine while the job is unfinished
            if (finished)
                std::abort();
        }
    }
    return 0;
}
