// Configuration files reach the disk through a temporary file beside the target, written in
// text mode and moved over it in one step.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "../ConfigFiles.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

// Text mode turns each line feed into a carriage return and line feed.
bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const size_t chunk = std::min<size_t>(text.size() - done, 1 << 20);
        const int wrote = _write(fd, text.data() + done, static_cast<unsigned>(chunk));
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

int CreateTempBeside(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp." + std::to_string(GetCurrentProcessId()) + "." +
               std::to_string(counter++);
        const int fd = _open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT | _O_NOINHERIT,
                             _S_IREAD | _S_IWRITE);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool WriteInPlace(const std::string& target, const std::string& text) {
    FILE* file = fopen(target.c_str(), "wt");
    if (!file) return false;
    const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && written;
}

}  // namespace

bool ReplaceConfigFile(const std::string& path, const std::string& text) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

    std::string temp;
    const int fd = CreateTempBeside(path, temp);
    if (fd < 0) {
        // A folder that takes no new files may still hold a writable file.
        return exists && errno == EACCES && WriteInPlace(path, text);
    }
    bool ok = WriteAll(fd, text) && _commit(fd) == 0;
    ok = _close(fd) == 0 && ok;
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
