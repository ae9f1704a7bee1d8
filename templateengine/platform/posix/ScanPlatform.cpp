#include "../ScanPlatform.h"

#include <sys/stat.h>

#include <string>

namespace ZRFramework {
namespace ZRTemplateManager {
namespace ScanPlatform {

const char* const kBlock = "ENGINE_MAC";
const char* const kComponentEnds = "/";
const char kSeparator = '/';

std::string ScanRoot(const char* root) {
    // "/" stays as it is: a scan from it yields paths that begin with two slashes.
    return root != nullptr && *root != '\0' ? root : "/";
}

std::string FolderIdentity(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return std::string();
    return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(info.st_ino));
}

}  // namespace ScanPlatform
}  // namespace ZRTemplateManager
}  // namespace ZRFramework
