// The cache's file operations on POSIX: lstat, mkstemp and rename.
#include "../../CacheFiles.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What open(2) with 0666 would give: the umask is read once (zdtool is single-threaded).
mode_t newFileMode() {
    static const mode_t mode = [] {
        mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

}  // namespace

zdFolderKind inspectFolder(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno == ENOENT ? zdFolderKind::kAbsent : zdFolderKind::kMissing;
    return S_ISDIR(info.st_mode) ? zdFolderKind::kReal : zdFolderKind::kNotReal;
}

// mkstemp makes the file private; it gets the mode of the file it replaces, or that of a new
// file, so a cache shared between accounts stays readable.
bool storeCacheFile(const std::string& folder, const std::string& path, const char* content,
                    unsigned long size) {
    std::string temporary = folder + "/.zdtool-XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) return false;
    struct stat replaced;
    mode_t mode = newFileMode();
    if (lstat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        mode = replaced.st_mode & 0777;
    }
    // Where modes cannot be set the file stays private: safe, and still a working cache.
    (void)fchmod(fd, mode);
    bool ok = true;
    for (unsigned long written = 0; ok && written < size;) {
        ssize_t n = write(fd, content + written, size - written);
        ok = n > 0;
        if (ok) written += static_cast<unsigned long>(n);
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}
