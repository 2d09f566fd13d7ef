// Job stream bytes through the inspector's parser and JBIG decoder.
#include "jobstream/jbig_decode.h"
#include "jobstream/job_stream_parser.h"

#include <cstdint>
#include <span>

using namespace vexo::jobstream;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        Job job = parseJobStream(std::span<const std::uint8_t>(data, size));
        for (const Page& page : job.pages) {
            try {
                BieHeader h = readBieHeader(page.data);
                if (static_cast<unsigned long long>(h.xd) * h.yd <= (1ull << 24))  // keeps a run in memory
                    decodeJbig(page.data);
            } catch (const JbigError&) {
            }
        }
    } catch (const StreamError&) {
    }
    return 0;
}
