// The application scanner: finds on this machine the applications that templates describe in
// their APPFINDER items, and writes one configuration section per found application.
#ifndef ZRTEMPLATEENGINE_TEMPLATESCANNER_H
#define ZRTEMPLATEENGINE_TEMPLATESCANNER_H

#include <memory>
#include <string>
#include <vector>

#include <ZRFramework/ZRConfig.h>
#include <ZRFramework/ZRProcesses.h>

#include "ZRTemplateEngineExport.h"
#include "ZRTemplateObjects.h"

namespace ZRFramework {
namespace ZRTemplateManager {

// Where an application is searched for.
constexpr int kScanSystemFile = 0;
constexpr int kScanSystemEnvironment = 1;
// Registry applications are collected everywhere but searched only by the Windows build.
constexpr int kScanSystemRegistry = 2;

// The block a template describes this platform in: "ENGINE_LINUX" when the template has one,
// otherwise "ENGINE_MAC", the POSIX block that templates carry already. The choice is made per
// template, by the block's presence alone: an ENGINE_LINUX block without a valid APPFINDER
// hides the template from the scanner rather than falling back.
ZRTEMPLATEENGINE_API const char* GetScannerPlatformBlock(zrTemplateEntry* entry);

// One application to find.
class ZRTEMPLATEENGINE_API zrTemplateScannerApp {
public:
    const std::string& name() const { return name_; }
    void setName(const std::string& name) { name_ = name; }
    const std::string& key() const { return key_; }
    void setKey(const std::string& key) { key_ = key; }
    // The folder that holds the found file, or the found folder itself.
    const std::string& basePath() const { return basePath_; }
    void setBasePath(const std::string& basePath) { basePath_ = basePath; }
    // The found file's name (file search), the variable's full value (file types) or the folder.
    const std::string& appExec() const { return appExec_; }
    void setAppExec(const std::string& appExec) { appExec_ = appExec; }
    int searchSystem() const { return searchSystem_; }
    void setSearchSystem(int searchSystem) { searchSystem_ = searchSystem; }
    // True for the file types, false for the folder types.
    bool searchExec() const { return searchExec_; }
    void setSearchExec(bool searchExec) { searchExec_ = searchExec; }
    bool isFound() const { return found_; }
    void setFound(bool found) { found_ = found; }
    // A disabled application is neither searched nor configured.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

private:
    std::string name_;
    int searchSystem_ = kScanSystemFile;
    std::string key_;
    std::string basePath_;
    bool found_ = false;
    std::string appExec_;
    bool searchExec_ = true;
    bool enabled_ = true;
};

typedef std::vector<std::unique_ptr<zrTemplateScannerApp>> zrTemplateScannerAppList;

enum class zrRegistryStatus { kOk, kAbsent, kFailed };

// A registry key as the registry scan reads it. The Windows build reads the system registry
// through it; any build can walk a tree of its own. The top key's subkeys are the root names
// (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...). Keys the reader may not open count as absent.
class zrRegistryKey {
public:
    virtual ~zrRegistryKey() = default;
    // The subkey `name`; null with kAbsent or kFailed in `status`.
    virtual std::unique_ptr<zrRegistryKey> openSubkey(const std::string& name,
                                                      zrRegistryStatus& status) = 0;
    // The name of the subkey at `index` in enumeration order; kAbsent past the last one. An
    // empty name stands for a subkey whose name cannot be read, and is skipped.
    virtual zrRegistryStatus subkeyName(unsigned long index, std::string& name) = 0;
    // The value `name` ("" is the key's default value): whether it holds text, and the text.
    virtual zrRegistryStatus readValue(const std::string& name, bool& isString,
                                       std::string& text) = 0;
};

// Callbacks may change an application's flags but must not fill or empty the scanner's lists.
// Called with the full path of each file about to be examined; false aborts the scan.
typedef bool (*zrScannerProgressCallback)(const char* path, void* userData);
// Called with an application whose key matches a file, and that file's full path; true accepts.
typedef bool (*zrScannerFoundCallback)(zrTemplateScannerApp* app, const char* path, void* userData);

// Calling order: initAppScanner; register the callbacks and run the scans; optionally disable
// applications the user deselects; buildConfiguration; shutdownAppScanner or DestroyUniqueClass.
// The scanner takes no lock: drive it from one thread at a time, and keep the process-wide
// template manager unchanged during initAppScanner and buildConfiguration.
class ZRTEMPLATEENGINE_API zrTemplateScanner {
public:
    // The process-wide scanner, created on first use without a lock.
    static zrTemplateScanner* GetUniqueClass();
    // Destroys it with all its applications; a later GetUniqueClass makes a new one.
    static void DestroyUniqueClass();

    zrTemplateScanner(const zrTemplateScanner&) = delete;
    zrTemplateScanner& operator=(const zrTemplateScanner&) = delete;

    // A null callback clears it.
    void registerProgressCallback(zrScannerProgressCallback callback, void* userData);
    void registerFoundCallback(zrScannerFoundCallback callback, void* userData);

    // Adds an application for every template of the process-wide manager with a valid
    // APPFINDER, highest UID first; of two with the same name in one list the first stays.
    // The lists are not emptied first.
    void initAppScanner();

    // Depth first from `root` ("/" when null or empty): each folder's subfolders, then its files.
    // Only the found callback marks an application found. Each directory is scanned once, even
    // when links reach it again, so link loops end. False when the progress callback aborted.
    bool startFileScan(bool reset, const char* root);
    // Looks each application's variable up in a snapshot of the process environment; always true.
    bool startEnvScan(bool reset);
    // The same against `environment`; null takes the snapshot.
    bool startEnvScan(bool reset, ZRProcesses::zrEnvironment* environment);

    // Walks each enabled, not yet found registry application's key in `registry`, a top key as
    // zrRegistryKey describes (null walks nothing). The key's parts are separated by backslashes
    // and the last one names the value. A part holding "*" matches subkey names as
    // compareFilePattern does; the matching subkeys are walked in enumeration order until the
    // application is found. Each value found is offered to the found callback with the path of
    // the key holding it; without a callback nothing is found. An accepted text value makes the
    // application found: "/" read as a backslash, a final backslash removed, app exec the text,
    // base path the text up to its last backslash (file types) or the text itself. Keys nested
    // deeper than the registry allows (512 levels) are never found. False when reading failed;
    // the scan stops there.
    bool startRegScan(bool reset, zrRegistryKey* registry);

    // One section per template whose application was found and is enabled, named by the
    // template's UID: its platform block's MAP items, expanded, and "enabled" = "1".
    void buildConfiguration(zrConfigManager* config);

    // Destroys every application of the three lists.
    void shutdownAppScanner();

    const zrTemplateScannerAppList& fileList() const { return fileList_; }
    const zrTemplateScannerAppList& environmentList() const { return environmentList_; }
    const zrTemplateScannerAppList& registryList() const { return registryList_; }

#ifdef _WIN32
    // The same in the system registry, opened read only (subkeys enumerated, values queried) in
    // the 64-bit view when `view64` is true and in the 32-bit view when it is false, whatever this
    // build's own width, so that either kind of installation can be found.
    bool startRegScan(bool reset, bool view64);
#endif

private:
    zrTemplateScanner();
    ~zrTemplateScanner();

    void checkFile(const std::string& folder, const std::string& fileName);
    bool scanFileList(const std::string& folder);
    bool checkMatchingSubkey(zrTemplateScannerApp* app, zrRegistryKey* key, const std::string& path,
                             const std::vector<std::string>& components, size_t next);

    zrScannerProgressCallback progressCallback_ = nullptr;
    void* progressUserData_ = nullptr;
    zrScannerFoundCallback foundCallback_ = nullptr;
    void* foundUserData_ = nullptr;
    zrTemplateScannerAppList fileList_;
    zrTemplateScannerAppList registryList_;
    zrTemplateScannerAppList environmentList_;
};

// Whether a file name matches an APPFINDER key, ignoring ASCII case. The key lists alternatives
// separated by "|". An alternative without "*" must equal the name. With "*", its first star
// stands for any run of characters: the name must begin with the text before it and end with
// the text after it (further stars are plain characters), so "maya*.bin" matches maya2009.bin.
ZRTEMPLATEENGINE_API bool compareFilePattern(const std::string& key, const std::string& fileName);

// Expands a configuration value for a found application, the first occurrence of each macro in
// this order: %ATTR(APPPATH) (base path), %ATTR(APPEXEC) (app exec), %ATTR(APPBIN) (app exec
// after its last "/"), %BACKPATH(kind,count) (APPPATH or APPEXEC with `count` trailing
// "/"-components removed; empty for another kind or a count below 1). A %BACKPATH( without ")"
// drops the rest of the text. Macros are recognised in the value's own text only, never inside
// a path already inserted.
ZRTEMPLATEENGINE_API std::string substConfigMacro(std::string value, zrTemplateScannerApp* app);

}  // namespace ZRTemplateManager
}  // namespace ZRFramework

#endif
