#include "UsbPreload.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace usbemu {

namespace {

constexpr const char* preloadLibrary = "libumockdev-preload.so.0";

bool preloaded()
{
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

void prependEnv(const char* name, const std::string& value, char separator)
{
    const char* old = std::getenv(name);
    const std::string merged = old && *old ? value + separator + old : value;
    setenv(name, merged.c_str(), 1);
}

}  // namespace

void runWithUsbEmulation(char** argv)
{
    if (preloaded())
        return;
    prependEnv("LD_PRELOAD", preloadLibrary, ':');
    // Under the sanitizers the preload comes before their runtime in the
    // library list, which they would otherwise refuse; later options win,
    // so this must come last.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0").c_str(),
           1);
    execv("/proc/self/exe", argv);
    std::perror("cannot run again with the usb emulation");
    std::exit(1);
}

}  // namespace usbemu
