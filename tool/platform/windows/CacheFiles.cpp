// The cache's file operations on Windows: file attributes, a unique temporary file and
// MoveFileEx, which replaces the destination in one step.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "../../CacheFiles.h"

zdFolderKind inspectFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? zdFolderKind::kAbsent
                   : zdFolderKind::kMissing;
    }
    // A junction or symbolic link is a reparse point: it could lead out of the cache.
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    return folder ? zdFolderKind::kReal : zdFolderKind::kNotReal;
}

// New files inherit the folder's permissions, and MoveFileEx keeps those of a replaced file's
// folder as well, which is what the cache needs on Windows.
bool storeCacheFile(const std::string& folder, const std::string& path, const char* content,
                    unsigned long size) {
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder.c_str(), "zdt", 0, temporary) == 0) return false;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    for (unsigned long written = 0; ok && written < size;) {
        DWORD n = 0;
        ok = WriteFile(file, content + written, size - written, &n, nullptr) && n > 0;
        written += n;
    }
    if (file != INVALID_HANDLE_VALUE) ok = CloseHandle(file) && ok;
    ok = ok &&
         MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temporary);
    return ok;
}
