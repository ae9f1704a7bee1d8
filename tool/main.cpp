// zdtool: one run against the Dispatcher, sequenced from start-up to shut-down.
#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "TableOutput.h"
#include "ZRFileSystem.h"

using namespace ZRFramework;

int main(int argc, char** argv) {
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

    std::fprintf(stderr,
                 "\nUnable to reach dispatcher %s: this build has no dispatcher connection.\n",
                 server);
    return -1;
}
