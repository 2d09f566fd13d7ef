// rastertovexo: CUPS filter from 8-bit gray raster to the printer's JBIG job stream.
//   rastertovexo printer job user title copies [options [file]]
#include "messages.h"
#include "options.h"
#include "page_loop.h"
#include "printer_state.h"
#include "side_channel.h"
#include "spool.h"
#include "termination.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace vexo::filter;

int main(int argc, char* argv[])
{
    if (argc < 5 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies [options [file]]\n",
                     argc > 0 ? argv[0] : "rastertovexo");
        return 1;
    }
    // The spooler names the document when this filter comes first in the
    // chain (a raster file printed as it is); standard input is then empty.
    int rasterFd = STDIN_FILENO;
    if (argc == 7) {
        rasterFd = ::open(argv[6], O_RDONLY | O_CLOEXEC);
        if (rasterFd < 0) {
            std::fprintf(stderr, "ERROR: cannot open the raster file %s: %s\n", argv[6], std::strerror(errno));
            return 1;
        }
    }
    installTerminationHandler();
    static char outBuffer[1 << 16];
    std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);

    FilterJob job;
    job.PrinterName = argv[0];
    job.JobIdChar = argv[1];
    job.JobId = std::atoi(argv[1]);
    job.spoolDir = spoolDirectory(std::getenv("TMPDIR"));

    bool optionsValid = true;
    PpdChoices ppd(std::getenv("PPD"), argc > 5 ? argv[5] : nullptr, optionsValid);
    if (!optionsValid) {
        logLine(job, "DEBUG:[Wren]illegal option.return 0\n");
        return 0;
    }
    job.appleLanguage = messageLanguage(std::getenv("APPLE_LANGUAGE"), std::getenv("LANG"));
    job.wording = wordingFor(job.appleLanguage);
    applyOptions(job, [&ppd](const char* option) { return ppd.choice(option); });
    applyCopies(job, argv[4]);

    CupsSideChannel sideChannel;
    if (!sideChannel.present())
        logLine(job, "DEBUG:[Wren] no side channel on descriptor 4; not waiting for the printer\n");
    job.sideChannel = &sideChannel;

    PrinterState printerState(job);
    job.printerState = &printerState;

    const int status = runJob(job, rasterFd, [](unsigned seconds) { ::sleep(seconds); });
    printerState.clear();
    return status;
}
