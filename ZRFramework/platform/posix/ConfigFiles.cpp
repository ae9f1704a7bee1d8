// Configuration files reach the disk through a temporary file beside the target, renamed over
// it; the old file's permissions and, where allowed, its owner are kept, and a symbolic link is
// followed so that it stays a link.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "../ConfigFiles.h"

namespace ZRFramework {
namespace ZRPlatform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<size_t>(wrote);
    }
    return true;
}

// The file a path finally names, so that saving through a symbolic link keeps the link.
std::string FollowLinks(std::string path) {
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string target(static_cast<size_t>(PATH_MAX), '\0');
        const ssize_t length = readlink(path.c_str(), &target[0], target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) break;
        target.resize(static_cast<size_t>(length));
        const size_t slash = path.rfind('/');
        path = (target[0] == '/' || slash == std::string::npos)
                   ? target
                   : path.substr(0, slash + 1) + target;
    }
    return path;
}

// Mode 0666 lets the umask decide, as it would for a file opened for writing.
int CreateTempBeside(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = target + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

void SyncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    Descriptor dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) fsync(dir.get());
}

bool WriteInPlace(const std::string& target, const std::string& text) {
    Descriptor fd(open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0) return false;
    const bool written = WriteAll(fd.get(), text);
    return fd.Close() && written;
}

bool WriteReplacing(const std::string& target, const std::string& text) {
    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, text);

    std::string temp;
    Descriptor fd(CreateTempBeside(target, temp));
    if (fd.get() < 0) {
        // A folder that takes no new files may still hold a writable file.
        const bool refused = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
        return refused && exists && WriteInPlace(target, text);
    }
    if (exists) {
        if (fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
            // Only the owner's group or a privileged user may hand the file back; keep ours.
        }
        fchmod(fd.get(), old.st_mode & 07777);
    }
    bool ok = WriteAll(fd.get(), text) && fsync(fd.get()) == 0;
    ok = fd.Close() && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}

}  // namespace

bool ReplaceConfigFile(const std::string& path, const std::string& text) {
    return WriteReplacing(FollowLinks(path), text);
}

}  // namespace ZRPlatform
}  // namespace ZRFramework
