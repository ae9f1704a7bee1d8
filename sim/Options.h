// zdsim's command line: the long options, their checks and the usage text.
#ifndef ZDSIM_OPTIONS_H
#define ZDSIM_OPTIONS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Server.h"

namespace zdsim {

struct SimOptions {
    ServerOptions server;
    int protocolVersion = kDefaultProtocolVersion;
    std::optional<int> loginResult;
    std::optional<int> badTemplateUid;
    std::vector<std::pair<int, std::string>> templateOverrides;  // UID, file
    std::vector<std::pair<int, std::string>> templateFileNames;  // UID, name served
    std::string portFile;
    std::string farmFile;
    std::string templatesFolder;
    std::string recordFile;
    std::string hashesFile;
    std::string logFile;
    int logLevel = 2;
    bool lockstep = false;
    bool refuseSubmissions = false;
    // Generated records, alone or appended to --farm; any of the counts switches generation on.
    std::optional<long> generateJobs;
    std::optional<long> generateNodes;
    std::optional<long> generateChunks;
    std::optional<long> generateLogs;
    bool Generating() const {
        return generateJobs || generateNodes || generateChunks || generateLogs;
    }
};

enum class ParseOutcome { kRun, kHelp, kError };

// Reads "--name value" and "--name=value" forms; kError leaves the reason in `error`.
ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& options,
                          std::string& error);
std::string UsageText();

}  // namespace zdsim

#endif
