// What the file-system functions need from each platform: its separator, single directories and
// the raw steps of a directory enumeration.
#ifndef ZRFRAMEWORK_PLATFORM_FILESYSTEM_H
#define ZRFRAMEWORK_PLATFORM_FILESYSTEM_H

#include <string>

#include "ZRFileSystem.h"

namespace ZRFramework {
namespace ZRPlatform {

// The separator of the platform's own path syntax, and the one it replaces.
extern const char kPathSeparator;
extern const char kForeignSeparator;

bool MakeSingleDirectory(const std::string& path);

enum class EntryKind { kFile, kDirectory, kOther };

// Opens the enumeration of dir->dirPath (closing any left open) and reads its first entry;
// false when the directory cannot be listed or is empty. `onlyPrograms` narrows the search where
// the platform has a notion of program files.
bool OpenEntries(zrDirectory* dir, bool onlyPrograms, std::string& name, EntryKind& kind);
// The next entry, or false at the end.
bool ReadEntry(zrDirectory* dir, std::string& name, EntryKind& kind);
// False when no enumeration was open.
bool CloseEntries(zrDirectory* dir);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
