// File and directory tests, moves, recursive creation, enumeration and well-known folders.
#ifndef ZRFRAMEWORK_FILESYSTEM_H
#define ZRFRAMEWORK_FILESYSTEM_H

#include <ctime>
#include <string>

#ifdef _WIN32
#include <cstdint>
#else
#include <dirent.h>
#endif

#include "ZRFrameworkExport.h"

namespace ZRFramework {

// The state of one enumeration; the caller sets dirPath (no trailing separator) first.
struct zrDirectory {
#ifdef _WIN32
    // The find handle; INVALID_HANDLE_VALUE when none is open.
    void* dirHandle = reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));
#else
    DIR* dirHandle = nullptr;
#endif
    std::string currentName;
    std::string dirPath;
};

namespace ZRFileSystem {

ZRFRAMEWORK_API bool CheckFile(std::string path);
ZRFRAMEWORK_API bool CheckDirectory(std::string path);
// Replaces `to` when it is a file (on POSIX also an empty folder); a failed move leaves `to` as
// it was. <windows.h> maps MoveFile to MoveFileA or MoveFileW: declare the real name whatever
// was included before, and forwarders for the mapped names that a later include produces.
#pragma push_macro("MoveFile")
#undef MoveFile
ZRFRAMEWORK_API bool MoveFile(std::string from, std::string to);
inline bool MoveFileA(std::string from, std::string to) {
    return MoveFile(from, to);
}
inline bool MoveFileW(std::string from, std::string to) {
    return MoveFile(from, to);
}
#pragma pop_macro("MoveFile")
// Recursive: the result is that of the last level, so an existing path gives false.
ZRFRAMEWORK_API bool MakeDirectory(std::string path, bool recursive);
// -1 when the path cannot be examined; sizes beyond the int range give INT_MAX.
ZRFRAMEWORK_API int GetFileSize(const char* path);
// Seconds since 1970, -1 on failure. POSIX gives the status-change time as the creation time.
ZRFRAMEWORK_API time_t GetFileCreation(const char* path);
ZRFRAMEWORK_API time_t GetFileLastMod(const char* path);

ZRFRAMEWORK_API bool EnumDirFirstFile(zrDirectory* dir, bool onlyPrograms);
ZRFRAMEWORK_API bool EnumDirNextFile(zrDirectory* dir);
ZRFRAMEWORK_API bool EnumDirGetFirstDir(zrDirectory* dir);
ZRFRAMEWORK_API bool EnumDirGetNextDir(zrDirectory* dir);
ZRFRAMEWORK_API bool EnumDirClose(zrDirectory* dir);

ZRFRAMEWORK_API std::string GetHomeFolder();
ZRFRAMEWORK_API std::string GetAppSettingsFolder();
ZRFRAMEWORK_API std::string GetTemporaryFolder();

// Drives exist only on Windows; elsewhere there are none. A drive is a letter and a colon.
ZRFRAMEWORK_API int GetNumOfLogicalDrives();
ZRFRAMEWORK_API std::string DriveIndexToMountPoint(int index);
ZRFRAMEWORK_API unsigned long long GetSizeOfLogicalDrive(std::string drive);
ZRFRAMEWORK_API unsigned long long GetFreeSpaceOfLogicalDrive(std::string drive);

}  // namespace ZRFileSystem
}  // namespace ZRFramework

#endif
