// File and directory tests, moves, directory creation and enumeration, and the well-known
// folders, over POSIX calls.
#include "ZRFileSystem.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>

#include "ZRStringHelper.h"

namespace ZRFramework {
namespace ZRFileSystem {

namespace {

enum class EntryKind { File, Directory };

bool OpenEnumeration(zrDirectory* dir) {
    if (dir->dirHandle) {
        // A caller restarting without closing must not leak the previous stream.
        closedir(dir->dirHandle);
        dir->dirHandle = nullptr;
    }
    dir->dirHandle = opendir(dir->dirPath.c_str());
    return dir->dirHandle != nullptr;
}

bool NextEntry(zrDirectory* dir, EntryKind kind) {
    if (!dir || !dir->dirHandle) return false;
    while (struct dirent* entry = readdir(dir->dirHandle)) {
        const std::string name = entry->d_name;
        struct stat info;
        if (stat((dir->dirPath + "/" + name).c_str(), &info) != 0) continue;
        const bool accepted =
            kind == EntryKind::File ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode);
        if (accepted) {
            dir->currentName = name;
            return true;
        }
    }
    return false;
}

}  // namespace

bool CheckFile(std::string path) {
    FILE* file = fopen(path.c_str(), "r");
    if (!file) return false;
    fclose(file);
    return true;
}

bool CheckDirectory(std::string path) {
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    closedir(dir);
    return true;
}

bool MoveFile(std::string from, std::string to) {
    // rename replaces `to` atomically; removing it first would lose it when the move fails.
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    // Only an empty folder in the way is removed first (a file cannot be renamed over one); it
    // is put back when the move still fails.
    struct stat folder;
    if (errno != EISDIR || lstat(to.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return false;
    if (rmdir(to.c_str()) != 0) return false;
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    mkdir(to.c_str(), folder.st_mode & 07777);
    return false;
}

bool MakeDirectory(std::string path, bool recursive) {
    if (!recursive) return mkdir(path.c_str(), 0700) == 0;

    std::string prefix = (!path.empty() && path[0] == '/') ? "/" : "";
    bool result = false;
    std::string token;
    while (ZRStringHelper::ExtractToken(path, token, "/")) {
        if (token.empty()) continue;
        prefix += token;
        result = MakeDirectory(prefix, false);
        prefix += "/";
    }
    return result;
}

int GetFileSize(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    // Larger sizes do not fit the result; saturate rather than wrap to a negative size.
    if (info.st_size > INT_MAX) return INT_MAX;
    return static_cast<int>(info.st_size);
}

long GetFileCreation(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    return static_cast<long>(info.st_ctime);
}

long GetFileLastMod(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    return static_cast<long>(info.st_mtime);
}

bool EnumDirFirstFile(zrDirectory* dir, bool /*onlyPrograms*/) {
    if (!dir || !OpenEnumeration(dir)) return false;
    return NextEntry(dir, EntryKind::File);
}

bool EnumDirNextFile(zrDirectory* dir) {
    return NextEntry(dir, EntryKind::File);
}

bool EnumDirGetFirstDir(zrDirectory* dir) {
    if (!dir || !OpenEnumeration(dir)) return false;
    return NextEntry(dir, EntryKind::Directory);
}

bool EnumDirGetNextDir(zrDirectory* dir) {
    return NextEntry(dir, EntryKind::Directory);
}

bool EnumDirClose(zrDirectory* dir) {
    if (!dir || !dir->dirHandle) return false;
    const bool closed = closedir(dir->dirHandle) == 0;
    dir->dirHandle = nullptr;
    return closed;
}

std::string GetHomeFolder() {
    const char* home = getenv("HOME");
    return home ? home : "";
}

std::string GetAppSettingsFolder() {
    return GetHomeFolder();
}

std::string GetTemporaryFolder() {
    return "/tmp";
}

int GetNumOfLogicalDrives() {
    return 0;
}

std::string DriveIndexToMountPoint(int) {
    return "";
}

unsigned long long GetSizeOfLogicalDrive(std::string) {
    return 0;
}

unsigned long long GetFreeSpaceOfLogicalDrive(std::string) {
    return 0;
}

}  // namespace ZRFileSystem
}  // namespace ZRFramework
