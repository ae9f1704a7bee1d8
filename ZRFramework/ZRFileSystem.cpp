// The platform-neutral half of the file system: recursive directory creation and the filtering
// of enumerated entries by kind. Everything else lives in platform/<system>/FileSystem.cpp.
#include "ZRFileSystem.h"

#include "ZRStringHelper.h"
#include "platform/FileSystem.h"

namespace ZRFramework {
namespace ZRFileSystem {

namespace {

using ZRPlatform::EntryKind;

bool NextOfKind(zrDirectory* dir, EntryKind wanted, std::string name, EntryKind kind,
                bool haveEntry) {
    while (haveEntry) {
        if (kind == wanted) {
            dir->currentName = name;
            return true;
        }
        haveEntry = ZRPlatform::ReadEntry(dir, name, kind);
    }
    return false;
}

bool FirstOfKind(zrDirectory* dir, EntryKind wanted, bool onlyPrograms) {
    if (!dir) return false;
    std::string name;
    EntryKind kind = EntryKind::kOther;
    const bool found = ZRPlatform::OpenEntries(dir, onlyPrograms, name, kind);
    return NextOfKind(dir, wanted, name, kind, found);
}

bool FollowingOfKind(zrDirectory* dir, EntryKind wanted) {
    if (!dir) return false;
    std::string name;
    EntryKind kind = EntryKind::kOther;
    const bool found = ZRPlatform::ReadEntry(dir, name, kind);
    return NextOfKind(dir, wanted, name, kind, found);
}

// The root a path starts from, which splitting at the separator would lose: a network prefix
// of two backslashes, else a leading separator.
std::string RootOf(const std::string& path) {
    const char separator = ZRPlatform::kPathSeparator;
    if (separator == '\\' && path.compare(0, 2, "\\\\") == 0) return "\\\\";
    if (!path.empty() && path[0] == separator) return std::string(1, separator);
    return "";
}

}  // namespace

bool MakeDirectory(std::string path, bool recursive) {
    if (!recursive) return ZRPlatform::MakeSingleDirectory(path);
    // Windows reads "/" as a separator too: split only at backslashes, "a/b" would be one level.
    if (ZRPlatform::kPathSeparator == '\\') path = ZRStringHelper::ConformToOS(path);

    const std::string separator(1, ZRPlatform::kPathSeparator);
    std::string prefix = RootOf(path);
    bool result = false;
    std::string token;
    while (ZRStringHelper::ExtractToken(path, token, separator.c_str())) {
        if (token.empty()) continue;
        prefix += token;
        result = MakeDirectory(prefix, false);
        prefix += separator;
    }
    return result;
}

bool EnumDirFirstFile(zrDirectory* dir, bool onlyPrograms) {
    return FirstOfKind(dir, EntryKind::kFile, onlyPrograms);
}

bool EnumDirNextFile(zrDirectory* dir) {
    return FollowingOfKind(dir, EntryKind::kFile);
}

bool EnumDirGetFirstDir(zrDirectory* dir) {
    return FirstOfKind(dir, EntryKind::kDirectory, false);
}

bool EnumDirGetNextDir(zrDirectory* dir) {
    return FollowingOfKind(dir, EntryKind::kDirectory);
}

bool EnumDirClose(zrDirectory* dir) {
    return dir && ZRPlatform::CloseEntries(dir);
}

}  // namespace ZRFileSystem
}  // namespace ZRFramework
