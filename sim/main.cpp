// zdsim: reads the options, loads the farm and the templates, announces the port and serves
// until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "FarmModel.h"
#include "Options.h"
#include "Protocol.h"
#include "Server.h"
#include "Templates.h"
#include "Transcript.h"
#include "ZRLogger.h"
#include "ZRRuntime.h"

using namespace zdsim;

namespace {

constexpr int kStartFailed = 1;
constexpr int kBadCommandLine = 2;

Server* runningServer = nullptr;

void OnStopSignal(int) {
    if (runningServer != nullptr) runningServer->Stop();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return !in.bad();
}

// Written beside the target and renamed over it, so a reader sees no number or a whole one.
bool WritePortFile(const std::string& path, int port) {
    const std::string temporary = path + ".tmp." + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fprintf(file, "%d\n", port) > 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "zdsim: %s\n", message.c_str());
    return kStartFailed;
}

// Owns the optional log so every exit path closes it.
struct LogSetup {
    ZRFramework::zrLogger logger;
    bool active = false;
    ~LogSetup() {
        if (!active) return;
        ZRFramework::RemoveDefaultLogger();
        ZRFramework::ZRLogger::DestroyLogger(&logger);
    }
};

int Serve(const SimOptions& options) {
    LogSetup log;
    if (!options.logFile.empty()) {
        // The logger opens its folder + "/" + file name when it is created.
        const size_t slash = options.logFile.rfind('/');
        log.logger.basePath = slash == std::string::npos ? "."
                              : slash == 0               ? "/"
                                                         : options.logFile.substr(0, slash);
        log.logger.fileName =
            slash == std::string::npos ? options.logFile : options.logFile.substr(slash + 1);
        log.logger.identity = "zdsim";
        ZRFramework::ZRLogger::CreateLogger(&log.logger, options.logLevel, ZRFramework::kLogToFile);
        log.active = true;
        if (log.logger.file == nullptr) return Fail(options.logFile + ": cannot be written");
        ZRFramework::SetDefaultLogger(&log.logger);
    }
    ZRFramework::zrLogger* logger = log.active ? &log.logger : nullptr;

    Farm farm;
    std::string error;
    if (!options.farmFile.empty() && !LoadFarmFile(options.farmFile, farm, error))
        return Fail(error);
    if (options.Generating()) {
        GeneratorSpec spec;
        spec.jobs = options.generateJobs.value_or(0);
        spec.nodes = options.generateNodes.value_or(0);
        spec.chunksPerJob = options.generateChunks.value_or(spec.chunksPerJob);
        spec.logs = options.generateLogs.value_or(spec.logs);
        if (options.farmFile.empty())
            farm = GenerateFarm(spec);
        else
            AppendGeneratedRecords(farm, spec);
    }

    TemplateCatalogue templates;
    if (!options.templatesFolder.empty()) {
        std::vector<std::string> skipped;
        if (!templates.LoadFolder(options.templatesFolder, skipped, error)) return Fail(error);
        for (const std::string& why : skipped) {
            std::fprintf(stderr, "zdsim: skipped %s\n", why.c_str());
            ZRFramework::ZRLogger::AddLogEntry(logger, 1, "zdsim", "Skipped template %s",
                                               why.c_str());
        }
    }

    ProtocolSettings settings;
    settings.protocolVersion = options.protocolVersion;
    settings.forcedLoginResult = options.loginResult;
    settings.badTemplateUid = options.badTemplateUid;
    settings.lockstep = options.lockstep;
    settings.refuseSubmissions = options.refuseSubmissions;
    settings.checkEngines = !options.templatesFolder.empty();
    for (const auto& [uid, path] : options.templateOverrides) {
        std::string text;
        if (!ReadWholeFile(path, text)) return Fail(path + ": cannot be read");
        settings.templateOverrides[uid] = text;
    }
    settings.templateFileNames.insert(options.templateFileNames.begin(),
                                      options.templateFileNames.end());
    if (!options.hashesFile.empty()) {
        std::string text;
        if (!ReadWholeFile(options.hashesFile, text))
            return Fail(options.hashesFile + ": cannot be read");
        settings.hashesText = text;
    }

    TranscriptWriter transcript;
    if (!options.recordFile.empty() && !transcript.Open(options.recordFile, error))
        return Fail(error);

    Server server(farm, templates, settings, options.server,
                  options.recordFile.empty() ? nullptr : &transcript, logger);
    if (!server.Start(error)) return Fail(error);

    std::printf("%d\n", server.Port());
    std::fflush(stdout);
    if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port()))
        return Fail(options.portFile + ": " + std::strerror(errno));

    runningServer = &server;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const bool healthy = server.Run();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    runningServer = nullptr;
    return healthy ? 0 : kStartFailed;
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
        case ParseOutcome::kHelp:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case ParseOutcome::kError:
            std::fprintf(stderr, "zdsim: %s\nTry 'zdsim --help'.\n", error.c_str());
            return kBadCommandLine;
        case ParseOutcome::kRun:
            break;
    }
    ZRFramework::InitializeLibrary(argv[0]);
    const int status = Serve(options);
    ZRFramework::ShutdownLibrary();
    return status;
}
