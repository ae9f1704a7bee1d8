// How a configuration file's new text reaches the disk on each platform.
#ifndef ZRFRAMEWORK_PLATFORM_CONFIGFILES_H
#define ZRFRAMEWORK_PLATFORM_CONFIGFILES_H

#include <string>

namespace ZRFramework {
namespace ZRPlatform {

// Replaces the file at `path` by `text`, written in text mode, so that a crash leaves either the
// old or the new file, never a truncated one. False when nothing could be written.
bool ReplaceConfigFile(const std::string& path, const std::string& text);

}  // namespace ZRPlatform
}  // namespace ZRFramework

#endif
