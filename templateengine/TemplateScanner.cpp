// TemplateScanner: collects the APPFINDER descriptions of the registered templates, searches the
// file system and the environment for them, and writes what it found into a configuration.
#include <cctype>
#include <climits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ZRConfig.h"
#include "ZRFileSystem.h"
#include "ZRProcesses.h"
#include "ZRStringHelper.h"
#include "ZRTemplateManager.h"
#include "ZRTemplateScanner.h"
#include "platform/ScanPlatform.h"

namespace ZRFramework {
namespace ZRTemplateManager {

// The process-wide manager the scanner reads templates through. Fetched again before every use,
// so a manager destroyed and made anew in between is never read through a stale pointer.
zrTemplateManager* gSTTemplateManager = nullptr;

namespace {

zrTemplateScanner* _unique_scanner = nullptr;

const char* const kRegistryRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                      "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

struct SearchType {
    const char* name;
    int system;
    bool exec;
};
constexpr SearchType kSearchTypes[] = {{"EXECUTABLE", kScanSystemFile, true},
                                       {"ENVIRONMENTFILE", kScanSystemEnvironment, true},
                                       {"ENVIRONMENTPATH", kScanSystemEnvironment, false},
                                       {"REGISTRYFILE", kScanSystemRegistry, true},
                                       {"REGISTRYPATH", kScanSystemRegistry, false}};

// The first APPFINDER item of a template's platform block, when it is complete and its type known.
struct AppFinder {
    std::string name;
    std::string key;
    int system = kScanSystemFile;
    bool exec = true;
};

bool ReadAppFinder(zrTemplateEntry* entry, AppFinder* finder) {
    const char* block = GetScannerPlatformBlock(entry);
    std::string type;
    if (!entry->GetString(block, "APPFINDER", kTemplateItemSet, finder->name, 0) ||
        !entry->GetString(block, "APPFINDER", kTemplateItemSet, type, 1) ||
        !entry->GetString(block, "APPFINDER", kTemplateItemSet, finder->key, 2))
        return false;
    if (finder->name.empty() || type.empty() || finder->key.empty()) return false;
    for (const SearchType& known : kSearchTypes) {
        if (type == known.name) {
            finder->system = known.system;
            finder->exec = known.exec;
            return true;
        }
    }
    return false;
}

bool HasRegistryRoot(const std::string& key) {
    for (const char* root : kRegistryRoots)
        if (key.rfind(root, 0) == 0) return true;
    return false;
}

// The registry nests keys no deeper than this; a longer key path cannot name a key, and walking
// it would only deepen the recursion.
constexpr size_t kMaxRegistryDepth = 512;

// The key path's components after the root name; the last names the value.
std::vector<std::string> RegistryComponents(const std::string& key) {
    std::vector<std::string> components;
    size_t start = 0;
    for (;;) {
        const size_t end = key.find('\\', start);
        components.push_back(key.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return components;
}

bool IsRegistryRoot(const std::string& name) {
    for (const char* root : kRegistryRoots)
        if (name == root) return true;
    return false;
}

// A registry value names a Windows path whichever build reads it.
void SetFoundFromRegistry(zrTemplateScannerApp* app, std::string value) {
    for (char& c : value)
        if (c == '/') c = '\\';
    if (!value.empty() && value.back() == '\\') value.pop_back();
    app->setAppExec(value);
    // The folder of a file is up to its last separator: "C:\\Program Files\\App\\app.exe"
    // lives in "C:\\Program Files\\App", not in "C:".
    const size_t separator = app->searchExec() ? value.rfind('\\') : std::string::npos;
    app->setBasePath(separator == std::string::npos ? value : value.substr(0, separator));
    app->setFound(true);
}

zrTemplateManager* Templates() {
    gSTTemplateManager = zrTemplateManager::GetUniqueClass();
    return gSTTemplateManager;
}

// Closes an enumeration on every way out.
class DirectoryWalk {
public:
    explicit DirectoryWalk(const std::string& path) { dir_.dirPath = path; }
    ~DirectoryWalk() { ZRFileSystem::EnumDirClose(&dir_); }
    DirectoryWalk(const DirectoryWalk&) = delete;
    DirectoryWalk& operator=(const DirectoryWalk&) = delete;
    zrDirectory* get() { return &dir_; }

private:
    zrDirectory dir_;
};

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + ScanPlatform::kSeparator + name;
}

std::vector<std::string> ListSubfolders(const std::string& path) {
    std::vector<std::string> names;
    DirectoryWalk walk(path);
    for (bool more = ZRFileSystem::EnumDirGetFirstDir(walk.get()); more;
         more = ZRFileSystem::EnumDirGetNextDir(walk.get())) {
        const std::string& name = walk.get()->currentName;
        if (name != "." && name != "..") names.push_back(name);
    }
    return names;
}

// As atoi, but saturating instead of overflowing.
int ToCount(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = INT_MAX;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

std::string BackPath(std::string path, int count) {
    for (int i = 0; i < count; ++i) {
        const size_t slash = path.find_last_of(ScanPlatform::kComponentEnds);
        if (slash == std::string::npos) break;  // nothing left to remove
        path.erase(slash);
    }
    return path;
}

// A text under expansion that remembers which spans it inserted, so that a found path which
// happens to contain macro text is never expanded itself.
class Expansion {
public:
    explicit Expansion(std::string text) : text_(std::move(text)) {}

    const std::string& text() const { return text_; }

    size_t Find(const char* macro) const {
        size_t position = text_.find(macro);
        while (position != std::string::npos && Inserted(position))
            position = text_.find(macro, position + 1);
        return position;
    }

    void Replace(size_t position, size_t length, const std::string& with) {
        text_.replace(position, length, with);
        const size_t end = position + length;
        std::vector<std::pair<size_t, size_t>> kept;
        for (const auto& span : inserted_) {
            if (span.second <= position) {
                kept.push_back(span);
            } else if (span.first >= end) {
                kept.emplace_back(span.first - length + with.size(),
                                  span.second - length + with.size());
            } else if (span.second > end) {
                kept.emplace_back(position + with.size(), span.second - length + with.size());
            }
        }
        if (!with.empty()) kept.emplace_back(position, position + with.size());
        inserted_ = std::move(kept);
    }

    void ReplaceFirst(const char* macro, const std::string& with) {
        const size_t position = Find(macro);
        if (position != std::string::npos) Replace(position, std::string(macro).size(), with);
    }

private:
    bool Inserted(size_t position) const {
        for (const auto& span : inserted_)
            if (position >= span.first && position < span.second) return true;
        return false;
    }

    std::string text_;
    std::vector<std::pair<size_t, size_t>> inserted_;
};

}  // namespace

const char* GetScannerPlatformBlock(zrTemplateEntry* entry) {
#ifndef _WIN32
    if (entry && entry->GetBlockByName("ENGINE_LINUX")) return "ENGINE_LINUX";
#endif
    (void)entry;
    return ScanPlatform::kBlock;
}

bool compareFilePattern(const std::string& key, const std::string& fileName) {
    std::string alternatives = ZRStringHelper::ToLower(key);
    const std::string name = ZRStringHelper::ToLower(fileName);
    std::string alternative;
    while (ZRStringHelper::ExtractToken(alternatives, alternative, "|")) {
        if (alternative == name) return true;
        const size_t star = alternative.find('*');
        if (star == std::string::npos) continue;
        const size_t prefixLength = star;
        const size_t suffixLength = alternative.size() - star - 1;
        // Prefix and suffix may not share characters of the name.
        if (name.size() < prefixLength + suffixLength) continue;
        if (name.compare(0, prefixLength, alternative, 0, prefixLength) == 0 &&
            name.compare(name.size() - suffixLength, suffixLength, alternative, star + 1,
                         suffixLength) == 0)
            return true;
    }
    return false;
}

std::string substConfigMacro(std::string value, zrTemplateScannerApp* app) {
    if (!app) return value;
    const std::string& exec = app->appExec();
    const size_t lastSlash = exec.find_last_of(ScanPlatform::kComponentEnds);
    Expansion expansion(std::move(value));
    expansion.ReplaceFirst("%ATTR(APPPATH)", app->basePath());
    expansion.ReplaceFirst("%ATTR(APPEXEC)", exec);
    expansion.ReplaceFirst("%ATTR(APPBIN)",
                           lastSlash == std::string::npos ? exec : exec.substr(lastSlash + 1));

    static const char kBackPath[] = "%BACKPATH(";
    const size_t start = expansion.Find(kBackPath);
    if (start != std::string::npos) {
        const size_t open = start + sizeof(kBackPath) - 1;
        const size_t close = expansion.text().find(')', open);
        if (close == std::string::npos) {
            expansion.Replace(start, expansion.text().size() - start, "");
        } else {
            std::string arguments = expansion.text().substr(open, close - open);
            std::string kind;
            ZRStringHelper::ExtractToken(arguments, kind, ",");
            const int count = ToCount(arguments);
            std::string replacement;
            if (count >= 1 && kind == "APPPATH")
                replacement = BackPath(app->basePath(), count);
            else if (count >= 1 && kind == "APPEXEC")
                replacement = BackPath(exec, count);
            expansion.Replace(start, close + 1 - start, replacement);
        }
    }
    return expansion.text();
}

zrTemplateScanner::zrTemplateScanner() {
    Templates();
}

zrTemplateScanner::~zrTemplateScanner() {
    shutdownAppScanner();
}

zrTemplateScanner* zrTemplateScanner::GetUniqueClass() {
    if (!_unique_scanner) _unique_scanner = new zrTemplateScanner();
    return _unique_scanner;
}

void zrTemplateScanner::DestroyUniqueClass() {
    delete _unique_scanner;
    _unique_scanner = nullptr;
}

void zrTemplateScanner::registerProgressCallback(zrScannerProgressCallback callback,
                                                 void* userData) {
    progressCallback_ = callback;
    progressUserData_ = callback ? userData : nullptr;
}

void zrTemplateScanner::registerFoundCallback(zrScannerFoundCallback callback, void* userData) {
    foundCallback_ = callback;
    foundUserData_ = callback ? userData : nullptr;
}

void zrTemplateScanner::initAppScanner() {
    zrTemplateManager* manager = Templates();
    zrTemplateListIterator position;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&position); entry;
         entry = manager->GetNextTemplate(&position)) {
        AppFinder finder;
        if (!ReadAppFinder(entry, &finder)) continue;
        if (finder.system == kScanSystemRegistry && !HasRegistryRoot(finder.key)) continue;
        zrTemplateScannerAppList& list = finder.system == kScanSystemFile ? fileList_
                                         : finder.system == kScanSystemEnvironment
                                             ? environmentList_
                                             : registryList_;
        bool known = false;
        for (const auto& app : list)
            known = known || app->name() == finder.name;
        if (known) continue;  // the first template of a name wins
        auto app = std::make_unique<zrTemplateScannerApp>();
        app->setName(finder.name);
        app->setKey(finder.key);
        app->setSearchSystem(finder.system);
        app->setSearchExec(finder.exec);
        list.push_back(std::move(app));
    }
}

bool zrTemplateScanner::startFileScan(bool reset, const char* root) {
    if (fileList_.empty()) return true;
    if (reset)
        for (const auto& app : fileList_)
            app->setFound(false);

    // Depth first without recursion: a frame holds one folder's subfolders still to visit; its
    // files are examined once they are all done. Directories already visited (by their
    // identity on disk) are skipped, so links that lead back up the tree or across it cannot
    // loop.
    struct Frame {
        std::string path;
        std::vector<std::string> subfolders;
        size_t next = 0;
    };
    std::set<std::string> visited;
    std::vector<Frame> stack;
    auto enter = [&](std::string path) {
        const std::string identity = ScanPlatform::FolderIdentity(path);
        if (!identity.empty() && !visited.insert(identity).second) return;
        Frame frame;
        frame.subfolders = ListSubfolders(path);
        frame.path = std::move(path);
        stack.push_back(std::move(frame));
    };

    enter(ScanPlatform::ScanRoot(root));
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.subfolders.size()) {
            enter(JoinPath(top.path, top.subfolders[top.next++]));
            continue;
        }
        const std::string folder = std::move(top.path);
        stack.pop_back();
        if (!scanFileList(folder)) return false;
    }
    return true;
}

bool zrTemplateScanner::scanFileList(const std::string& folder) {
    DirectoryWalk walk(folder);
    for (bool more = ZRFileSystem::EnumDirFirstFile(walk.get(), false); more;
         more = ZRFileSystem::EnumDirNextFile(walk.get())) {
        const std::string name = walk.get()->currentName;
        if (progressCallback_) {
            const std::string path = JoinPath(folder, name);
            if (!progressCallback_(path.c_str(), progressUserData_)) return false;
        }
        checkFile(folder, name);
    }
    return true;
}

void zrTemplateScanner::checkFile(const std::string& folder, const std::string& fileName) {
    // Offer the file to each matching application in turn until one accepts it.
    for (size_t i = 0; i < fileList_.size(); ++i) {
        zrTemplateScannerApp* app = fileList_[i].get();
        if (app->isFound() || !app->enabled() || app->searchSystem() != kScanSystemFile ||
            !compareFilePattern(app->key(), fileName))
            continue;
        if (!foundCallback_) continue;
        const std::string path = JoinPath(folder, fileName);
        if (foundCallback_(app, path.c_str(), foundUserData_)) {
            app->setFound(true);
            app->setBasePath(folder);
            app->setAppExec(fileName);
            return;
        }
    }
}

bool zrTemplateScanner::startEnvScan(bool reset) {
    return startEnvScan(reset, nullptr);
}

bool zrTemplateScanner::startEnvScan(bool reset, ZRProcesses::zrEnvironment* environment) {
    if (environmentList_.empty()) return true;
    if (reset)
        for (const auto& app : environmentList_)
            app->setFound(false);

    struct SnapshotDeleter {
        void operator()(ZRProcesses::zrEnvironment* snapshot) const {
            ZRProcesses::DestroyEnvironment(snapshot);
        }
    };
    std::unique_ptr<ZRProcesses::zrEnvironment, SnapshotDeleter> snapshot;
    if (!environment) {
        snapshot.reset(ZRProcesses::CreateEnvironment(true));
        environment = snapshot.get();
    }
    if (!environment) return true;

    for (const auto& app : environmentList_) {
        if (!app->enabled() || app->isFound() || app->searchSystem() != kScanSystemEnvironment)
            continue;
        std::string value;
        if (!ZRProcesses::GetEnvironmentValue(environment, app->key(), value)) continue;
        if (ScanPlatform::kSeparator == '\\') value = ZRStringHelper::ConformToOS(value);
        if (app->searchExec()) {
            const size_t slash = value.rfind(ScanPlatform::kSeparator);
            app->setAppExec(value);
            app->setBasePath(slash == std::string::npos ? value : value.substr(0, slash));
        } else {
            if (!value.empty() && (value.back() == '/' || value.back() == '\\')) value.pop_back();
            app->setAppExec(value);
            app->setBasePath(value);
        }
        app->setFound(true);
    }
    return true;
}

#ifdef _WIN32
bool zrTemplateScanner::startRegScan(bool reset, bool view64) {
    const std::unique_ptr<zrRegistryKey> registry = ScanPlatform::OpenRegistry(view64);
    return startRegScan(reset, registry.get());
}
#endif

bool zrTemplateScanner::startRegScan(bool reset, zrRegistryKey* registry) {
    if (reset)
        for (const auto& app : registryList_)
            app->setFound(false);
    if (!registry) return true;
    for (const auto& app : registryList_) {
        if (!app->enabled() || app->isFound() || app->searchSystem() != kScanSystemRegistry)
            continue;
        const std::vector<std::string> components = RegistryComponents(app->key());
        // The root and a value name at least; no deeper than the registry can hold.
        if (components.size() < 2 || components.size() > kMaxRegistryDepth + 2 ||
            !IsRegistryRoot(components[0]))
            continue;
        zrRegistryStatus status = zrRegistryStatus::kOk;
        std::unique_ptr<zrRegistryKey> root = registry->openSubkey(components[0], status);
        if (!root) {
            if (status == zrRegistryStatus::kFailed) return false;
            continue;
        }
        if (!checkMatchingSubkey(app.get(), root.get(), components[0], components, 1)) return false;
    }
    return true;
}

// Walks `key` (reached by `path`) for components[next...]; false when reading failed.
bool zrTemplateScanner::checkMatchingSubkey(zrTemplateScannerApp* app, zrRegistryKey* key,
                                            const std::string& path,
                                            const std::vector<std::string>& components,
                                            size_t next) {
    const std::string& component = components[next];
    zrRegistryStatus status = zrRegistryStatus::kOk;
    if (next + 1 == components.size()) {
        bool isString = false;
        std::string text;
        status = key->readValue(component, isString, text);
        if (status != zrRegistryStatus::kOk) return status == zrRegistryStatus::kAbsent;
        if (foundCallback_ && foundCallback_(app, path.c_str(), foundUserData_) && isString)
            SetFoundFromRegistry(app, text);
        return true;
    }
    if (component.empty()) return true;  // names no subkey; opening it would reopen `key`
    if (component.find('*') == std::string::npos) {
        std::unique_ptr<zrRegistryKey> subkey = key->openSubkey(component, status);
        if (!subkey) return status != zrRegistryStatus::kFailed;
        return checkMatchingSubkey(app, subkey.get(), path + '\\' + component, components,
                                   next + 1);
    }
    std::string name;
    for (unsigned long index = 0;; ++index) {
        status = key->subkeyName(index, name);
        if (status == zrRegistryStatus::kAbsent) return true;
        if (status == zrRegistryStatus::kFailed) return false;
        if (name.empty() || !compareFilePattern(component, name)) continue;
        std::unique_ptr<zrRegistryKey> subkey = key->openSubkey(name, status);
        if (!subkey) {
            if (status == zrRegistryStatus::kFailed) return false;
            continue;  // gone or closed to us since it was listed
        }
        if (!checkMatchingSubkey(app, subkey.get(), path + '\\' + name, components, next + 1))
            return false;
        if (app->isFound()) return true;
    }
}

void zrTemplateScanner::buildConfiguration(zrConfigManager* config) {
    if (!config) return;
    zrTemplateManager* manager = Templates();
    zrTemplateListIterator position;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&position); entry;
         entry = manager->GetNextTemplate(&position)) {
        AppFinder finder;
        if (!ReadAppFinder(entry, &finder)) continue;
        const zrTemplateScannerAppList& list = finder.system == kScanSystemFile ? fileList_
                                               : finder.system == kScanSystemEnvironment
                                                   ? environmentList_
                                                   : registryList_;
        zrTemplateScannerApp* app = nullptr;
        for (const auto& candidate : list) {
            if (candidate->key() == finder.key && candidate->isFound() && candidate->enabled()) {
                app = candidate.get();
                break;
            }
        }
        if (!app) continue;

        const std::string section = ZRStringHelper::FromInt(entry->GetUID());
        zrTemplateBlock* block = entry->GetBlockByName(GetScannerPlatformBlock(entry));
        zrTemplateItemIterator item;
        zrTemplateBlockEntry* map = nullptr;
        for (bool more = block && block->GetFirstItem(&item, kTemplateItemMap, &map); more;
             more = block->GetNextItem(&item, kTemplateItemMap, &map)) {
            std::string value;
            map->GetString(value, 0);
            SetConfigValue(config, section.c_str(), map->GetName().c_str(),
                           substConfigMacro(value, app).c_str());
        }
        SetConfigValue(config, section.c_str(), "enabled", "1");
    }
}

void zrTemplateScanner::shutdownAppScanner() {
    fileList_.clear();
    registryList_.clear();
    environmentList_.clear();
}

}  // namespace ZRTemplateManager
}  // namespace ZRFramework
