// File and directory tests, moves, enumeration and the well-known folders over POSIX calls.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <climits>

#include "../FileSystem.h"
#include "ZRFileSystem.h"

namespace ZRFramework {

namespace ZRPlatform {

const char kPathSeparator = '/';
const char kForeignSeparator = '\\';

bool MakeSingleDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0;
}

bool OpenEntries(zrDirectory* dir, bool /*onlyPrograms*/, std::string& name, EntryKind& kind) {
    // A caller restarting without closing must not leak the previous stream.
    CloseEntries(dir);
    dir->dirHandle = opendir(dir->dirPath.c_str());
    return dir->dirHandle != nullptr && ReadEntry(dir, name, kind);
}

bool ReadEntry(zrDirectory* dir, std::string& name, EntryKind& kind) {
    if (!dir->dirHandle) return false;
    struct dirent* entry = readdir(dir->dirHandle);
    if (!entry) return false;
    name = entry->d_name;
    struct stat info;
    if (stat((dir->dirPath + "/" + name).c_str(), &info) != 0) {
        kind = EntryKind::kOther;
    } else {
        kind = S_ISREG(info.st_mode)   ? EntryKind::kFile
               : S_ISDIR(info.st_mode) ? EntryKind::kDirectory
                                       : EntryKind::kOther;
    }
    return true;
}

bool CloseEntries(zrDirectory* dir) {
    if (!dir->dirHandle) return false;
    const bool closed = closedir(dir->dirHandle) == 0;
    dir->dirHandle = nullptr;
    return closed;
}

}  // namespace ZRPlatform

namespace ZRFileSystem {

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

int GetFileSize(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    // Larger sizes do not fit the result; saturate rather than wrap to a negative size.
    if (info.st_size > INT_MAX) return INT_MAX;
    return static_cast<int>(info.st_size);
}

time_t GetFileCreation(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    return info.st_ctime;
}

time_t GetFileLastMod(const char* path) {
    struct stat info;
    if (!path || stat(path, &info) != 0) return -1;
    return info.st_mtime;
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
