#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

namespace {

// Enough to walk and read, nothing more.
constexpr REGSAM kReadAccess = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
// A key name has at most 255 characters; in a multibyte code page they may take more bytes.
constexpr DWORD kNameBytes = 1024;
// A path has at most 32767 characters; a larger value is no path and is not read.
constexpr DWORD kMaxValueBytes = 65536;
// Reads of a value that keeps growing between its size and its data.
constexpr int kValueReads = 3;

zrRegistryStatus StatusOf(LONG error) {
    switch (error) {
        case ERROR_SUCCESS:
            return zrRegistryStatus::kOk;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_ACCESS_DENIED:
        case ERROR_KEY_DELETED:
        case ERROR_BAD_PATHNAME:
            return zrRegistryStatus::kAbsent;
        default:
            return zrRegistryStatus::kFailed;
    }
}

class SystemKey : public zrRegistryKey {
public:
    // A predefined root key is not owned: closing it would close it for the whole process.
    SystemKey(HKEY key, bool owned, REGSAM view) : key_(key), owned_(owned), view_(view) {}
    ~SystemKey() override {
        if (owned_) RegCloseKey(key_);
    }
    SystemKey(const SystemKey&) = delete;
    SystemKey& operator=(const SystemKey&) = delete;

    std::unique_ptr<zrRegistryKey> openSubkey(const std::string& name,
                                              zrRegistryStatus& status) override {
        // One level at a time: an empty name would reopen this key, a backslash skip levels.
        if (name.empty() || name.find('\\') != std::string::npos) {
            status = zrRegistryStatus::kAbsent;
            return nullptr;
        }
        HKEY subkey = nullptr;
        const LONG error = RegOpenKeyExA(key_, name.c_str(), 0, kReadAccess | view_, &subkey);
        status = StatusOf(error);
        if (error != ERROR_SUCCESS) return nullptr;
        return std::make_unique<SystemKey>(subkey, true, view_);
    }

    zrRegistryStatus subkeyName(unsigned long index, std::string& name) override {
        char buffer[kNameBytes];
        DWORD length = sizeof buffer;
        const LONG error =
            RegEnumKeyExA(key_, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
        name.clear();
        if (error == ERROR_NO_MORE_ITEMS) return zrRegistryStatus::kAbsent;
        if (error == ERROR_MORE_DATA) return zrRegistryStatus::kOk;  // unreadable: skipped
        if (error != ERROR_SUCCESS) return StatusOf(error);
        name.assign(buffer, length < sizeof buffer ? length : 0);
        return zrRegistryStatus::kOk;
    }

    zrRegistryStatus readValue(const std::string& name, bool& isString,
                               std::string& text) override {
        isString = false;
        text.clear();
        for (int attempt = 0; attempt < kValueReads; ++attempt) {
            DWORD type = 0;
            DWORD size = 0;
            LONG error = RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size);
            if (error != ERROR_SUCCESS) return StatusOf(error);
            if ((type != REG_SZ && type != REG_EXPAND_SZ) || size > kMaxValueBytes)
                return zrRegistryStatus::kOk;
            std::vector<char> data(size + 1, '\0');
            DWORD read = size;
            error = RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &read);
            if (error == ERROR_MORE_DATA) continue;
            if (error != ERROR_SUCCESS) return StatusOf(error);
            if (type != REG_SZ && type != REG_EXPAND_SZ) return zrRegistryStatus::kOk;
            // The stored text need not end in a NUL, or may hold one early.
            const size_t stored = read < size ? read : size;
            text.assign(data.data(), strnlen(data.data(), stored));
            isString = true;
            return zrRegistryStatus::kOk;
        }
        return zrRegistryStatus::kOk;  // kept changing: not read as text
    }

private:
    HKEY key_;
    bool owned_;
    REGSAM view_;
};

struct Root {
    const char* name;
    HKEY key;
};

class RegistryTop : public zrRegistryKey {
public:
    explicit RegistryTop(REGSAM view) : view_(view) {}

    std::unique_ptr<zrRegistryKey> openSubkey(const std::string& name,
                                              zrRegistryStatus& status) override {
        for (const Root& root : Roots()) {
            if (name == root.name) {
                status = zrRegistryStatus::kOk;
                return std::make_unique<SystemKey>(root.key, false, view_);
            }
        }
        status = zrRegistryStatus::kAbsent;
        return nullptr;
    }

    zrRegistryStatus subkeyName(unsigned long index, std::string& name) override {
        const std::vector<Root>& roots = Roots();
        if (index >= roots.size()) return zrRegistryStatus::kAbsent;
        name = roots[index].name;
        return zrRegistryStatus::kOk;
    }

    zrRegistryStatus readValue(const std::string&, bool& isString, std::string& text) override {
        isString = false;
        text.clear();
        return zrRegistryStatus::kAbsent;
    }

private:
    static const std::vector<Root>& Roots() {
        static const std::vector<Root> roots = {{"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                                {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                                {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                                                {"HKEY_USERS", HKEY_USERS},
                                                {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}};
        return roots;
    }

    REGSAM view_;
};

}  // namespace

std::unique_ptr<zrRegistryKey> OpenRegistry(bool view64) {
    return std::make_unique<RegistryTop>(view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
}

}  // namespace ScanPlatform
}  // namespace ZRTemplateManager
}  // namespace ZRFramework
