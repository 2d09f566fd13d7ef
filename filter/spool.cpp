#include "spool.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vexo::filter {

std::string spoolDirectory(const char* tmpdir)
{
    std::string dir = (tmpdir && *tmpdir) ? tmpdir : "/var/spool/cups/tmp/";
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

std::string spoolName(const std::string& dir, const std::string& jobId, const char* suffix, int page)
{
    // The job id comes from the command line; it must never lead out of the
    // spool folder or into another name.
    std::string safeId = jobId;
    for (char& c : safeId)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_')
            c = '_';
    char number[16];
    std::snprintf(number, sizeof number, "-%04d", page);
    return dir + safeId + suffix + number;
}

int createSpoolFile(const std::string& path)
{
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFlags, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Left over from a crashed run, or planted: unlink removes the name
        // itself (a link is not followed), then create afresh.
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            fd = ::open(path.c_str(), kFlags, 0600);
    }
    return fd;
}

int openSpoolFile(const std::string& path)
{
    return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

bool removeSpoolFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0;
}

}  // namespace vexo::filter
