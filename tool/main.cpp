// zdtool: one run against the Dispatcher, sequenced from start-up to shut-down.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "Connection.h"
#include "ConsoleOutput.h"
#include "Control.h"
#include "Credentials.h"
#include "Queries.h"
#include "Submission.h"
#include "TableOutput.h"
#include "TemplateCache.h"
#include "ZRFileSystem.h"
#include "ZRRuntime.h"
#include "ZRTemplateManager.h"

using namespace ZRFramework;
using ZRFramework::ZRTemplateManager::zrTemplateManager;

namespace {

// Releases what the run holds; every run ends here. Only a run that did its work completes.
int finishRun(int status, bool worked = true) {
    if (status == 0 && !connectionFinishedCleanly()) status = -1;
    closeConnection();
    releaseBuffers();
    if (status == 0 && worked) _zdprintf(3, "\nCompleted.\n");
    zrTemplateManager::GetUniqueClass()->DeleteHashesMap(&dispatcherHashes);
    zrTemplateManager::DestroyUniqueClass();
    ShutdownLibrary();
    if (!finishOutput()) status = -1;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    InitializeLibrary(argv[0]);
    zrTemplateManager* manager = zrTemplateManager::GetUniqueClass();
    allocateBuffers();
    server[0] = '\0';
    setDefaultJobColumns();

    // The default cache folder is made even when -templatesdir names another one.
    templatesdir = ZRFileSystem::GetAppSettingsFolder() + "/" + ".Zendro6" + "/" + "templates";
    ZRFileSystem::MakeDirectory(templatesdir, true);

    if (!getOptFromExec(argc, argv)) return finishRun(stopStatus, false);
    if (server[0] == '\0') {
        zdError("\nNo server flag specified.\n");
        return finishRun(-1);
    }
    // Asked for only once the command line is known to be good.
    if (passwordFromInput && !readPasswordFromInput(password)) return finishRun(-1);

    if (!connectToDispatcher() || !loginToDispatcher() || !requestStatus(true)) {
        return finishRun(-1);
    }
    loadTemplatesCache(manager);
    if (!use_templates_cache) {
        if (int status = syncTemplatesCache(manager)) return finishRun(status);
    }
    if (!requestStatus(false)) return finishRun(-1);

    if (controlActive) {
        if (int status = runControlMode()) return finishRun(status);
    }
    if (queryActive) {
        if (int status = runQueryMode()) return finishRun(status);
    }

    if (submitActive) {
        if (runSubmission()) return finishRun(-1);
    }

    return finishRun(0);
}
