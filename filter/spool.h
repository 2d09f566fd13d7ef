// Spool files: one JBIG image per page, kept until the job ends so that
// collated copies resend the same bytes.
#pragma once

#include <string>

namespace vexo::filter {

inline constexpr const char* kTempSuffix = "-jbigold";
inline constexpr const char* kFinalSuffix = "-jbig";

// $TMPDIR when the spooler set it, else the system spool folder; ends with '/'.
std::string spoolDirectory(const char* tmpdir);

// "<dir><job><suffix>-<page, at least four digits>".
std::string spoolName(const std::string& dir, const std::string& jobId, const char* suffix, int page);

// Creates `path` for writing in a shared folder: exclusive, never through a
// symbolic link, mode 0600. A stale file of that name is replaced. Returns a
// descriptor or -1 with errno set.
int createSpoolFile(const std::string& path);

// Opens a spool file for reading without following a symbolic link.
int openSpoolFile(const std::string& path);

// Removes the file if it exists; true when something was removed.
bool removeSpoolFile(const std::string& path);

}  // namespace vexo::filter
