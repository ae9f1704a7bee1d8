#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "../ScanPlatform.h"

namespace ZRFramework {
namespace ZRTemplateManager {
namespace ScanPlatform {

const char* const kBlock = "ENGINE_WIN";
const char* const kComponentEnds = "/\\";
const char kSeparator = '\\';

std::string ScanRoot(const char* root) {
    std::string path = root != nullptr ? root : "";
    for (char& c : path)
        if (c == '/') c = '\\';
    // Without its final backslashes: "C:\\" would become "C:\\\\name", and a lone "\\" a
    // network path, once a name is appended.
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (!path.empty()) return path;
    char windows[MAX_PATH + 1];
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    return length >= 2 && length <= MAX_PATH && windows[1] == ':' ? std::string(windows, 2)
                                                                  : std::string("C:");
}

// The volume and the file index, which stat does not give on Windows (its inode is always 0).
std::string FolderIdentity(const std::string& path) {
    const HANDLE folder = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return std::string();
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(folder, &information) != 0;
    CloseHandle(folder);
    if (!known) return std::string();
    const unsigned long long index =
        (static_cast<unsigned long long>(information.nFileIndexHigh) << 32) |
        information.nFileIndexLow;
    return std::to_string(information.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

}  // namespace ScanPlatform
}  // namespace ZRTemplateManager
}  // namespace ZRFramework
