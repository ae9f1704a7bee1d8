// zdtool: one run against the Dispatcher, sequenced from start-up to shut-down.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "Connection.h"
#include "TableOutput.h"
#include "TemplateCache.h"
#include "ZRFileSystem.h"
#include "ZRRuntime.h"
#include "ZRTemplateManager.h"

using namespace ZRFramework;
using ZRFramework::ZRTemplateManager::zrTemplateManager;

int main(int argc, char** argv) {
    InitializeLibrary(argv[0]);
    zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
    allocateBuffers();
    server[0] = '\0';
    setDefaultJobColumns();

    // The default cache folder is made even when -templatesdir names another one.
    templatesdir = ZRFileSystem::GetAppSettingsFolder() + "/" + ".Zendro6" + "/" + "templates";
    ZRFileSystem::MakeDirectory(templatesdir, true);

    if (!getOptFromExec(argc, argv)) return -1;
    if (server[0] == '\0') {
        std::fprintf(stderr, "\nNo server flag specified.\n");
        return -1;
    }

    if (!connectToDispatcher() || !loginToDispatcher() || !requestStatus(true)) return -1;
    loadTemplatesCache(manager);
    if (!use_templates_cache && !syncTemplatesCache(manager)) {
        closeConnection();
        return -1;
    }
    if (!requestStatus(false)) return -1;

    closeConnection();
    releaseBuffers();
    _zdprintf(3, "\nCompleted.\n");
    manager->DeleteHashesMap(&dispatcherHashes);
    zrTemplateManager::DestroyUniqueClass();
    ShutdownLibrary();
    return 0;
}
