#pragma once

// A program that puts the emulated USB bus in its own process needs
// libumockdev-preload from its start; without it the program runs itself
// again with it preloaded, so "ctest", a debugger or a plain shell all work.
namespace usbemu {

// Returns only once the preload is in place; on failure exits with status 1.
void runWithUsbEmulation(char** argv);

}  // namespace usbemu
