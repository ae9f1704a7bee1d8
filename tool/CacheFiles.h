// The template cache's file operations that differ between platforms: what stands at a folder's
// place, and replacing a file without ever leaving it half written.
#ifndef ZDTOOL_CACHEFILES_H
#define ZDTOOL_CACHEFILES_H

#include <string>

enum class zdFolderKind {
    kReal,     // a folder, not a link to one
    kNotReal,  // a file, a link or anything else
    kAbsent,   // nothing there
    kMissing,  // cannot be looked at
};

zdFolderKind inspectFolder(const std::string& path);

// Writes `size` bytes to `path` through a temporary file in `folder`, which then replaces the
// file at once. A replaced file keeps its permissions; a new one gets the usual ones.
bool storeCacheFile(const std::string& folder, const std::string& path, const char* content,
                    unsigned long size);

#endif
