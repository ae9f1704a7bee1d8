// File and directory tests, moves, enumeration, the well-known folders and the logical drives
// over Win32 calls.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <shlobj.h>
#include <userenv.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

// The framework's own MoveFile is defined here, not the Win32 macro's A/W function.
#undef MoveFile

#include "../FileSystem.h"
#include "ZRFileSystem.h"

namespace ZRFramework {

namespace ZRPlatform {

const char kPathSeparator = '\\';
const char kForeignSeparator = '/';

bool MakeSingleDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

namespace {

void Describe(const WIN32_FIND_DATAA& found, std::string& name, EntryKind& kind) {
    name = found.cFileName;
    kind = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kDirectory
                                                               : EntryKind::kFile;
}

}  // namespace

bool OpenEntries(zrDirectory* dir, bool onlyPrograms, std::string& name, EntryKind& kind) {
    // A caller restarting without closing must not leak the previous search.
    CloseEntries(dir);
    const std::string pattern = dir->dirPath + (onlyPrograms ? "\\*.exe" : "\\*");
    WIN32_FIND_DATAA found;
    dir->dirHandle = FindFirstFileA(pattern.c_str(), &found);
    if (dir->dirHandle == INVALID_HANDLE_VALUE) return false;
    Describe(found, name, kind);
    return true;
}

bool ReadEntry(zrDirectory* dir, std::string& name, EntryKind& kind) {
    if (dir->dirHandle == INVALID_HANDLE_VALUE) return false;
    WIN32_FIND_DATAA found;
    if (!FindNextFileA(dir->dirHandle, &found)) return false;
    Describe(found, name, kind);
    return true;
}

bool CloseEntries(zrDirectory* dir) {
    if (dir->dirHandle == INVALID_HANDLE_VALUE) return false;
    const bool closed = FindClose(dir->dirHandle) != 0;
    dir->dirHandle = INVALID_HANDLE_VALUE;
    return closed;
}

}  // namespace ZRPlatform

namespace ZRFileSystem {

namespace {

bool Attributes(const char* path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return path && GetFileAttributesExA(path, GetFileExInfoStandard, &data) != 0;
}

// FILETIME counts 100-nanosecond steps from 1601.
time_t ToUnixSeconds(const FILETIME& stamp) {
    const unsigned long long ticks =
        (static_cast<unsigned long long>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime;
    return static_cast<time_t>((static_cast<long long>(ticks) - 116444736000000000LL) / 10000000);
}

std::vector<std::string> LogicalDrives() {
    std::vector<std::string> drives;
    char names[512];
    const DWORD length = GetLogicalDriveStringsA(sizeof names, names);
    if (length == 0 || length > sizeof names) return drives;
    for (const char* name = names; *name; name += strlen(name) + 1)
        drives.push_back(std::string(name).substr(0, 2));
    return drives;
}

}  // namespace

bool CheckFile(std::string path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CheckDirectory(std::string path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveFile(std::string from, std::string to) {
    // One replacing move: deleting `to` first would lose it when the move then fails.
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

int GetFileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!Attributes(path, data)) return -1;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > INT_MAX) return INT_MAX;
    return static_cast<int>(data.nFileSizeLow);
}

time_t GetFileCreation(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) ? ToUnixSeconds(data.ftCreationTime) : -1;
}

time_t GetFileLastMod(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return Attributes(path, data) ? ToUnixSeconds(data.ftLastWriteTime) : -1;
}

std::string GetHomeFolder() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    char folder[MAX_PATH + 1];
    DWORD size = sizeof folder;
    const bool found = GetUserProfileDirectoryA(token, folder, &size) != 0;
    CloseHandle(token);
    return found ? folder : "";
}

std::string GetAppSettingsFolder() {
    char folder[MAX_PATH + 1];
    if (SHGetSpecialFolderPathA(nullptr, folder, CSIDL_LOCAL_APPDATA, TRUE)) return folder;
    return GetHomeFolder();
}

std::string GetTemporaryFolder() {
    char folder[MAX_PATH + 2];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder) return "";
    std::string path(folder, length);
    if (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

int GetNumOfLogicalDrives() {
    return static_cast<int>(LogicalDrives().size());
}

std::string DriveIndexToMountPoint(int index) {
    const std::vector<std::string> drives = LogicalDrives();
    if (index < 0 || static_cast<size_t>(index) >= drives.size()) return "";
    return drives[static_cast<size_t>(index)];
}

unsigned long long GetSizeOfLogicalDrive(std::string drive) {
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA((drive + "\\").c_str(), &available, &total, &free)) return 0;
    return total.QuadPart;
}

unsigned long long GetFreeSpaceOfLogicalDrive(std::string drive) {
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA((drive + "\\").c_str(), &available, &total, &free)) return 0;
    return available.QuadPart;
}

}  // namespace ZRFileSystem
}  // namespace ZRFramework
