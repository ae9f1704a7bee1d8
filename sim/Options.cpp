// zdsim's option parser: every value is checked here, so the program starts only with a
// command line that makes sense.
#include "Options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <functional>

namespace zdsim {

namespace {

// Far beyond any benchmark, and small enough that counts times sizes stay in range.
constexpr long kMaxGenerated = 100000000;

bool ParseLong(const std::string& text, long low, long high, long& value) {
    if (text.empty() || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

struct Option {
    const char* name;
    bool takesValue;
    // False with `error` set when the value is not acceptable.
    std::function<bool(const std::string& value, std::string& error)> apply;
};

std::function<bool(const std::string&, std::string&)> Number(const char* name, long low, long high,
                                                             std::function<void(long)> store) {
    return [=](const std::string& value, std::string& error) {
        long parsed = 0;
        if (!ParseLong(value, low, high, parsed)) {
            error = std::string("--") + name + " wants a whole number from " + std::to_string(low) +
                    " to " + std::to_string(high) + ", not '" + value + "'";
            return false;
        }
        store(parsed);
        return true;
    };
}

std::function<bool(const std::string&, std::string&)> Text(const char* name, std::string* out) {
    return [=](const std::string& value, std::string& error) {
        if (value.empty()) {
            error = std::string("--") + name + " wants a non-empty value";
            return false;
        }
        *out = value;
        return true;
    };
}

// "UID=VALUE" appended to `out`.
std::function<bool(const std::string&, std::string&)> UidAssignment(
    const char* name, const char* what, std::vector<std::pair<int, std::string>>* out) {
    return [=](const std::string& value, std::string& error) {
        const size_t equals = value.find('=');
        long uid = 0;
        if (equals == std::string::npos || equals + 1 == value.size() ||
            !ParseLong(value.substr(0, equals), INT_MIN, INT_MAX, uid)) {
            error = std::string("--") + name + " wants UID=" + what + ", not '" + value + "'";
            return false;
        }
        out->emplace_back(int(uid), value.substr(equals + 1));
        return true;
    };
}

}  // namespace

std::string UsageText() {
    return "Usage: zdsim [options]\n"
           "A Dispatcher simulator for trying zdtool and testing farm scripts without a farm.\n"
           "\n"
           "  --port N                listen on port N (default 0: a free port); the port is\n"
           "                          printed as the first line of standard output\n"
           "  --port-file FILE        also write the port to FILE (atomically)\n"
           "  --bind ADDR             IPv4 address to listen on (default 127.0.0.1)\n"
           "  --farm FILE             the farm, as JSON (default: an empty farm that admits "
           "guests)\n"
           "  --templates DIR         serve every *.template file of DIR\n"
           "  --protocol-version N    protocol version reported by the status (default 610)\n"
           "  --record FILE           write a transcript of every frame received to FILE\n"
           "  --compress              compress replies the way the framework does (default: "
           "plain)\n"
           "  --lockstep              send each listing record only after the client has\n"
           "                          acknowledged the previous frame (default: stream the\n"
           "                          records and count the acknowledgements as they come)\n"
           "  --max-frame N           largest frame a client may send, in bytes (default 1048576)\n"
           "  --log FILE              write zdsim's log to FILE\n"
           "  --log-level N           log detail, 1 to 3 (default 2; 3 logs every frame)\n"
           "  --help                  show this text\n"
           "\n"
           "Generated farms, for benchmarks and scale tests (appended to --farm when both are\n"
           "given; any of these switches generation on):\n"
           "  --generate-jobs N       N jobs and folders (default 0)\n"
           "  --generate-nodes N      N nodes, in pools (default 0)\n"
           "  --generate-chunks N     N chunks for each multiframe and image-slicing job\n"
           "                          (default 5)\n"
           "  --generate-logs N       N log entries (default 100)\n"
           "\n"
           "Faults for testing clients:\n"
           "  --close-after N         close a connection once its N-th frame is answered\n"
           "                          (0: right after accepting it)\n"
           "  --login-result N        answer every login with N\n"
           "  --bad-template UID      answer the request for UID with text that is not Base64\n"
           "  --template-override UID=FILE\n"
           "                          serve FILE's text for UID instead of the template's own\n"
           "  --template-file-name UID=NAME\n"
           "                          give NAME as the file name of UID's template\n"
           "  --hashes-file FILE      serve FILE's exact text as the hashes map\n"
           "  --refuse-submissions    refuse every job, edit and folder submitted\n"
           "\n"
           "zdsim runs until interrupted (SIGINT or SIGTERM). Exit status: 0 after a clean stop,\n"
           "1 when it cannot start, 2 for a bad command line.\n";
}

ParseOutcome ParseOptions(int argc, const char* const* argv, SimOptions& options,
                          std::string& error) {
    SimOptions o;
    const std::vector<Option> table = {
        {"port", true, Number("port", 0, 65535, [&o](long v) { o.server.port = int(v); })},
        {"port-file", true, Text("port-file", &o.portFile)},
        {"bind", true, Text("bind", &o.server.bindAddress)},
        {"farm", true, Text("farm", &o.farmFile)},
        {"templates", true, Text("templates", &o.templatesFolder)},
        {"protocol-version", true,
         Number("protocol-version", INT_MIN, INT_MAX,
                [&o](long v) { o.protocolVersion = int(v); })},
        {"record", true, Text("record", &o.recordFile)},
        {"compress", false,
         [&o](const std::string&, std::string&) {
             o.server.compress = true;
             return true;
         }},
        {"max-frame", true,
         Number("max-frame", 64, 1024l * 1024 * 1024,
                [&o](long v) { o.server.maxFrame = static_cast<unsigned long>(v); })},
        {"log", true, Text("log", &o.logFile)},
        {"log-level", true, Number("log-level", 0, 3, [&o](long v) { o.logLevel = int(v); })},
        {"close-after", true,
         Number("close-after", 0, LONG_MAX, [&o](long v) { o.server.closeAfter = v; })},
        {"login-result", true,
         Number("login-result", INT_MIN, INT_MAX, [&o](long v) { o.loginResult = int(v); })},
        {"bad-template", true,
         Number("bad-template", INT_MIN, INT_MAX, [&o](long v) { o.badTemplateUid = int(v); })},
        {"template-override", true,
         UidAssignment("template-override", "FILE", &o.templateOverrides)},
        {"template-file-name", true,
         UidAssignment("template-file-name", "NAME", &o.templateFileNames)},
        {"hashes-file", true, Text("hashes-file", &o.hashesFile)},
        {"lockstep", false,
         [&o](const std::string&, std::string&) {
             o.lockstep = true;
             return true;
         }},
        {"refuse-submissions", false,
         [&o](const std::string&, std::string&) {
             o.refuseSubmissions = true;
             return true;
         }},
        {"generate-jobs", true,
         Number("generate-jobs", 0, kMaxGenerated, [&o](long v) { o.generateJobs = v; })},
        {"generate-nodes", true,
         Number("generate-nodes", 0, kMaxGenerated, [&o](long v) { o.generateNodes = v; })},
        {"generate-chunks", true,
         Number("generate-chunks", 0, kMaxGenerated, [&o](long v) { o.generateChunks = v; })},
        {"generate-logs", true,
         Number("generate-logs", 0, kMaxGenerated, [&o](long v) { o.generateLogs = v; })},
    };

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return ParseOutcome::kHelp;
        if (arg.rfind("--", 0) != 0 || arg.size() == 2) {
            error = "unexpected argument '" + arg + "'";
            return ParseOutcome::kError;
        }
        const size_t equals = arg.find('=');
        const std::string name =
            arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        const Option* option = nullptr;
        for (const Option& candidate : table)
            if (name == candidate.name) option = &candidate;
        if (option == nullptr) {
            error = "unknown option '--" + name + "'";
            return ParseOutcome::kError;
        }
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                error = "--" + name + " takes no value";
                return ParseOutcome::kError;
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            error = "--" + name + " needs a value";
            return ParseOutcome::kError;
        }
        if (!option->apply(value, error)) return ParseOutcome::kError;
    }
    options = std::move(o);
    return ParseOutcome::kRun;
}

}  // namespace zdsim
