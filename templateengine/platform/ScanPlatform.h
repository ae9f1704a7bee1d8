// What the application scanner needs from each platform: its template block, its path
// separator, the identity of a folder, which lets a scan pass every folder once, and on Windows
// the registry.
#ifndef ZRTEMPLATEENGINE_PLATFORM_SCANPLATFORM_H
#define ZRTEMPLATEENGINE_PLATFORM_SCANPLATFORM_H

#include <memory>
#include <string>

#include "ZRTemplateScanner.h"

namespace ZRFramework {
namespace ZRTemplateManager {
namespace ScanPlatform {

// The block of a template that describes this platform's applications.
extern const char* const kBlock;
extern const char kSeparator;
// The characters that end a component of a found path, for %BACKPATH and %ATTR(APPBIN).
extern const char* const kComponentEnds;

// The folder a scan starts from: `root`, or the platform's top folder when it is null or empty,
// in a form to which the separator and a name can be appended.
std::string ScanRoot(const char* root);

// A text that is the same for two paths of one folder (through links or not), or empty when
// the folder cannot be examined.
std::string FolderIdentity(const std::string& path);

#ifdef _WIN32
// The system registry as a top key whose subkeys are the predefined root keys, every key opened
// read only in the 64-bit view (`view64`) or the 32-bit one.
std::unique_ptr<zrRegistryKey> OpenRegistry(bool view64);
#endif

}  // namespace ScanPlatform
}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
