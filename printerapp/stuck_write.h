// Breaking off a device write that the printer does not take.
#pragma once

#include <string_view>

namespace vexo::app {

// Shuts this process's TCP connection to the printer of a socket:// URI, so
// that a write blocked on it fails at once. False when the URI is not a
// socket:// one or no such connection is open. PAPPL keeps its connection to
// itself; the connection is found by its peer address.
bool breakConnection(std::string_view deviceUri);

}  // namespace vexo::app
