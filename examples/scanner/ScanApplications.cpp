// scan_applications: loads job templates, looks for the applications they describe under a
// folder and in the current environment, and prints the configuration the scanner builds.
//
// Usage: scan_applications [-t TEMPLATES] [FOLDER]
//   -t TEMPLATES  folder of ".template" files (default: the repository's examples/templates)
//   FOLDER        where to look for executables, depth first (default: the current folder)
// Each application looked for and each hit go to standard error; the configuration text, as a
// configuration file would hold it, goes to standard output. Exit status 0, or 1 when the
// arguments are wrong or the templates folder cannot be read.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ZRConfig.h"
#include "ZRFileSystem.h"
#include "ZRRuntime.h"
#include "ZRTemplateEngine.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRTemplateManager;

namespace {

const char kUsage[] = "Usage: scan_applications [-t TEMPLATES] [FOLDER]\n";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Registers every ".template" file of the folder; a file that does not parse is reported and
// skipped. False when the folder cannot be read.
bool LoadTemplates(const std::string& folder, zrTemplateManager* manager) {
    zrDirectory dir;
    dir.dirPath = folder;
    if (!ZRFileSystem::CheckDirectory(folder)) return false;
    std::vector<std::string> names;
    for (bool more = ZRFileSystem::EnumDirFirstFile(&dir, false); more;
         more = ZRFileSystem::EnumDirNextFile(&dir))
        if (EndsWith(dir.currentName, ".template")) names.push_back(dir.currentName);
    ZRFileSystem::EnumDirClose(&dir);
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        std::ifstream file(folder + "/" + name, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        try {
            manager->Parse(text.str().c_str(), name.c_str(), true, true);
        } catch (zrTemplateException* error) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), error->GetErrorString());
            error->Delete();
        }
    }
    return true;
}

const char* SystemName(int system) {
    return system == kScanSystemFile          ? "file"
           : system == kScanSystemEnvironment ? "environment"
                                              : "registry (not searched here)";
}

bool ReportHit(zrTemplateScannerApp* app, const char* path, void*) {
    std::fprintf(stderr, "found %s: %s\n", app->name().c_str(), path);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string templates = ZD_DEFAULT_TEMPLATES;
    std::string root = ".";
    bool haveRoot = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-t") == 0 && i + 1 < argc) {
            templates = argv[++i];
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argv[i][0] != '-' && !haveRoot) {
            root = argv[i];
            haveRoot = true;
        } else {
            std::fputs(kUsage, stderr);
            return 1;
        }
    }
    // The scanner adds "/" and a name to every folder; keep the paths it prints tidy.
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();

    InitializeLibrary(argv[0]);
    zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
    if (!LoadTemplates(templates, manager)) {
        std::fprintf(stderr, "Cannot read the templates folder %s\n", templates.c_str());
        zrTemplateManager::DestroyUniqueClass();
        ShutdownLibrary();
        return 1;
    }

    zrTemplateScanner* scanner = zrTemplateScanner::GetUniqueClass();
    scanner->initAppScanner();
    for (const zrTemplateScannerAppList* list :
         {&scanner->fileList(), &scanner->environmentList(), &scanner->registryList()})
        for (const auto& app : *list)
            std::fprintf(stderr, "looking for %s: %s \"%s\"\n", app->name().c_str(),
                         SystemName(app->searchSystem()), app->key().c_str());

    scanner->registerFoundCallback(ReportHit, nullptr);
    scanner->startFileScan(true, root.c_str());
    scanner->startEnvScan(true);
    for (const auto& app : scanner->environmentList())
        if (app->isFound())
            std::fprintf(stderr, "found %s: %s\n", app->name().c_str(), app->appExec().c_str());

    zrConfigManager config;
    scanner->buildConfiguration(&config);
    const time_t now = time(nullptr);
    struct tm stamp;
#ifdef _WIN32
    localtime_s(&stamp, &now);
#else
    localtime_r(&now, &stamp);
#endif
    std::fputs(RenderConfigText(config.values, "", stamp).c_str(), stdout);

    zrTemplateScanner::DestroyUniqueClass();
    zrTemplateManager::DestroyUniqueClass();
    ShutdownLibrary();
    return 0;
}
