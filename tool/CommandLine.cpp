// zdtool's command line: run settings, the flag table and its parser, the usage text,
// verbosity-filtered output.
#include "CommandLine.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ConsoleOutput.h"
#include "Credentials.h"
#include "TableOutput.h"
#include "ZRStringHelper.h"

using ZRFramework::ZRStringHelper::FromBool;
using ZRFramework::ZRStringHelper::ToBool;

char server[kServerCapacity];
int nPort;
std::string username;
std::string password;
bool passwordFromInput;
std::string templatesdir;
bool use_templates_cache;
int nVerbose;
int nTimeout;
int nHeaders;
int nSeparators;
int nCostants;
zdOutputFormat outputFormat;
int queryActive;
int controlActive;
int submitActive;
int queryJobs;
int queryCpus;
int queryLogs;
int queryPools;
int queryChunks;
int queryStats;
int queryTemplates;
int queryEngine;
int queryAll;
int queryTemplateFields;
int queryArchiveMode;
int queryJobParent;
int queryJobStatus;
int queryJobEngine;
int queryCpuStatus;
int queryCpuOs;
int jobid;
int cpuid;
int chunkid;
int controlDisp;
int controlCpu;
int controlJobs;
int controlChunks;
std::string new_password;
char strBuffer[kStrBufferCapacity];
long intBuffer;
zdSubmitJob submitjob;
int stopStatus;

void resetRunSettings() {
    server[0] = '\0';
    nPort = 8681;
    username.clear();
    password.clear();
    passwordFromInput = false;
    templatesdir.clear();
    use_templates_cache = false;
    nVerbose = 2;
    nTimeout = kDefaultTimeout;
    nHeaders = nSeparators = nCostants = 1;
    outputFormat = kOutputTable;
    queryActive = controlActive = submitActive = 0;
    queryJobs = queryCpus = queryLogs = queryPools = queryChunks = 0;
    queryStats = queryTemplates = queryEngine = queryAll = queryTemplateFields = 0;
    queryArchiveMode = 0;
    queryJobParent = -2;
    queryJobStatus = queryJobEngine = queryCpuStatus = queryCpuOs = -1;
    jobid = cpuid = chunkid = -1;
    controlDisp = controlCpu = controlJobs = controlChunks = 0;
    new_password.clear();
    strBuffer[0] = '\0';
    intBuffer = 0;
    stopStatus = -1;
    setupJob();
}

[[maybe_unused]] static const bool runSettingsInitialised = [] {
    resetRunSettings();
    return true;
}();

void setupJob() {
    zdSubmitJob& job = submitjob;
    job.parent = -1;
    job.jobID = -1;
    job.wait.clear();
    job.folder = 0;
    job.priority = 100;
    job.reservedCounters[0] = job.reservedCounters[1] = job.reservedCounters[2] = 0;
    job.jobType = 0;
    job.packetSize = 4;
    job.engine = 1;
    job.maxInstances = 0;
    job.reserved = 0;
    job.skipErrors = false;
    job.name.clear();
    job.pool.clear();
    job.reservedText.clear();
    job.group.clear();
    job.department.clear();
    job.reservedFlags[0] = job.reservedFlags[1] = false;
    job.overrideMail = false;
    job.mailAddress.clear();
    job.overrideJobNotifications = false;
    job.jobNotificationsEnabled = false;
    job.jobNotificationLevel = "Completed";
    job.overrideChunkNotifications = false;
    job.chunkNotificationsEnabled = false;
    job.chunkNotificationLevel = "Completed";
    job.overrideChunkTimeout = false;
    job.chunkTimeout = 320;
    job.properties.Clear();
}

void _zdprintf(int level, const char* format, ...) {
    if (nVerbose < level) return;
    // With tsv or json, standard output carries records alone.
    FILE* stream = outputFormat == kOutputTable ? stdout : stderr;
    if (stream == stderr) std::fflush(stdout);
    va_list args;
    va_start(args, format);
    zdVprintf(stream, format, args);
    va_end(args);
}

namespace {

// One flag of the table: how many values it takes and what it does with them. `apply` returns
// false when the run must stop (it has printed its message).
struct FlagSpec {
    const char* name;
    int values;
    bool (*apply)(const FlagSpec& flag, char** values);
    const char* key;  // property key, or null
    bool pathSubstitution;
    int code;      // control command number
    int* setting;  // int setting that the value or code goes to
};

bool failWindowsOnly(const FlagSpec& flag, char**) {
    zdError("\nFlag %s supported only on Windows platform\n", flag.name);
    return false;
}

// Fixed-size settings refuse what they cannot hold rather than cut it.
bool fits(const FlagSpec& flag, const char* text, int capacity) {
    if (std::strlen(text) < static_cast<size_t>(capacity)) return true;
    zdError("\nValue too long for flag: %s (at most %d characters)\n", flag.name, capacity - 1);
    return false;
}

bool setServer(const FlagSpec& flag, char** v) {
    if (!fits(flag, v[0], kServerCapacity)) return false;
    std::strcpy(server, v[0]);
    return true;
}

bool setInt(const FlagSpec& flag, char** v) {
    *flag.setting = std::atoi(v[0]);
    return true;
}

template <std::string* Setting>
bool setText(const FlagSpec&, char** v) {
    *Setting = v[0];
    return true;
}

// "-" asks for the password at the terminal rather than showing it to everyone on the machine.
bool setPassword(const FlagSpec&, char** v) {
    passwordFromInput = std::strcmp(v[0], "-") == 0;
    password = passwordFromInput ? std::string() : v[0];
    return true;
}

// They end the run at once, and successfully, wherever they stand.
bool showHelp(const FlagSpec&, char**) {
    printHelp(stdout);
    stopStatus = 0;
    return false;
}

bool showVersion(const FlagSpec&, char**) {
    printVersion(stdout);
    stopStatus = 0;
    return false;
}

bool setUseCache(const FlagSpec&, char**) {
    use_templates_cache = true;
    return true;
}

bool setOutputFormat(const FlagSpec&, char** v) {
    const std::string name = v[0];
    if (name == "table") {
        outputFormat = kOutputTable;
    } else if (name == "tsv") {
        outputFormat = kOutputTsv;
    } else if (name == "json") {
        outputFormat = kOutputJson;
    } else {
        zdError("\nInvalid output format: %s (table, tsv or json)\n", v[0]);
        return false;
    }
    return true;
}

bool setJob(const FlagSpec&, char** v) {
    jobid = submitjob.jobID = std::atoi(v[0]);
    return true;
}

template <bool (*Build)(const char*)>
bool setFormat(const FlagSpec&, char** v) {
    return Build(v[0]);
}

bool setTemplateFields(const FlagSpec&, char** v) {
    queryTemplateFields = std::atoi(v[0]);
    queryPools = queryLogs = queryCpus = queryJobs = queryEngine = 0;
    return true;
}

bool setQuery(const FlagSpec&, char** v) {
    const char* letters = v[0];
    auto has = [letters](char c) { return std::strchr(letters, c) != nullptr ? 1 : 0; };
    queryEngine = has('e');
    queryJobs = has('j');
    queryCpus = has('c');
    queryLogs = has('l');
    queryPools = has('p');
    queryChunks = has('h');
    queryStats = has('s');
    queryTemplates = has('t');
    queryActive = 1;
    if (has('a')) queryEngine = queryPools = queryLogs = queryCpus = queryJobs = 1;
    return true;
}

bool setSubmit(const FlagSpec&, char**) {
    submitActive = 1;
    return true;
}

bool setFolder(const FlagSpec&, char**) {
    submitjob.folder = 1;
    return true;
}

// Integer fields of the submission record.
template <int zdSubmitJob::*Field>
bool setJobInt(const FlagSpec&, char** v) {
    submitjob.*Field = std::atoi(v[0]);
    return true;
}

template <std::string zdSubmitJob::*Field>
bool setJobText(const FlagSpec&, char** v) {
    submitjob.*Field = v[0];
    return true;
}

bool setSkipErrors(const FlagSpec&, char** v) {
    submitjob.skipErrors = ToBool(v[0]);
    return true;
}

bool setProperty(const FlagSpec& flag, char** v) {
    submitjob.properties.SetString(flag.key, v[0], true, flag.pathSubstitution);
    return true;
}

bool setIntProperty(const FlagSpec& flag, char** v) {
    submitjob.properties.SetInt(flag.key, std::atoi(v[0]), true);
    return true;
}

// The "crt" flags turn the return-code check off without marking it given.
bool clearRetcodeProperty(const FlagSpec& flag, char**) {
    submitjob.properties.SetInt(flag.key, 0, false);
    return true;
}

bool setRemoveSlices(const FlagSpec& flag, char** v) {
    submitjob.properties.SetBool(flag.key, std::atoi(v[0]) != 0, true);
    return true;
}

bool setCheckFiles(const FlagSpec& flag, char** v) {
    std::string value = std::strcmp(v[0], "SizeLimits") == 0 ? "Size limits" : v[0];
    submitjob.properties.SetString(flag.key, value, true, false);
    return true;
}

bool setSingleInstance(const FlagSpec& flag, char** v) {
    submitjob.properties.SetString(flag.key, FromBool(ToBool(v[0])), true, false);
    return true;
}

// The key would pass through the chosen template's submission mapping, but flags are read
// before the template cache is loaded, so the name is used as given.
bool setAttribute(const FlagSpec&, char** v) {
    submitjob.properties.SetString(v[0], v[1], true, ToBool(v[2]));
    return true;
}

bool setMail(const FlagSpec&, char** v) {
    submitjob.overrideMail = true;
    submitjob.mailAddress = v[0];
    return true;
}

void setNotifications(const char* value, bool& override, bool& enabled, std::string& level) {
    int n = std::atoi(value);
    override = true;
    enabled = n != 0;
    if (enabled) level = n == 1 ? "Completed" : "With warnings";
}

bool setJobNotifications(const FlagSpec&, char** v) {
    setNotifications(v[0], submitjob.overrideJobNotifications, submitjob.jobNotificationsEnabled,
                     submitjob.jobNotificationLevel);
    return true;
}

bool setChunkNotifications(const FlagSpec&, char** v) {
    setNotifications(v[0], submitjob.overrideChunkNotifications,
                     submitjob.chunkNotificationsEnabled, submitjob.chunkNotificationLevel);
    return true;
}

bool setChunkTimeout(const FlagSpec&, char** v) {
    int minutes = std::atoi(v[0]);
    submitjob.overrideChunkTimeout = true;
    submitjob.chunkTimeout = minutes < 0 ? 320 : minutes;
    return true;
}

bool setControlDisp(const FlagSpec& flag, char**) {
    controlDisp = flag.code;
    controlActive = 1;
    return true;
}

bool setChangePassword(const FlagSpec& flag, char** v) {
    new_password = v[0];
    return setControlDisp(flag, v);
}

// Node commands keep their node in cpuid; the per-job node commands keep a job in jobid.
bool setControlCpu(const FlagSpec& flag, char** v) {
    controlCpu = flag.code;
    controlActive = 1;
    *flag.setting = std::atoi(v[0]);
    return true;
}

bool setControlJob(const FlagSpec& flag, char** v) {
    controlJobs = flag.code;
    controlActive = 1;
    jobid = std::atoi(v[0]);
    return true;
}

bool setControlJobText(const FlagSpec& flag, char** v) {
    if (!fits(flag, v[1], kStrBufferCapacity)) return false;
    setControlJob(flag, v);
    std::strcpy(strBuffer, v[1]);
    return true;
}

bool setControlJobNumber(const FlagSpec& flag, char** v) {
    setControlJob(flag, v);
    intBuffer = std::atol(v[1]);
    return true;
}

bool setControlChunk(const FlagSpec& flag, char** v) {
    controlChunks = flag.code;
    controlActive = 1;
    jobid = std::atoi(v[0]);
    chunkid = std::atoi(v[1]);
    return true;
}

constexpr FlagSpec act(const char* name, int values, bool (*apply)(const FlagSpec&, char**)) {
    return {name, values, apply, nullptr, false, 0, nullptr};
}
constexpr FlagSpec integer(const char* name, int* setting) {
    return {name, 1, setInt, nullptr, false, 0, setting};
}
constexpr FlagSpec property(const char* name, const char* key, bool pathSubstitution = false,
                            bool (*apply)(const FlagSpec&, char**) = setProperty, int values = 1) {
    return {name, values, apply, key, pathSubstitution, 0, nullptr};
}
constexpr FlagSpec control(const char* name, int values, bool (*apply)(const FlagSpec&, char**),
                           int code, int* setting = nullptr) {
    return {name, values, apply, nullptr, false, code, setting};
}

// Compared in this order.
const FlagSpec kFlags[] = {
    act("-eev", 0, failWindowsOnly),
    act("-dev", 0, failWindowsOnly),
    act("-s", 1, setServer),
    act("-templatesdir", 1, setText<&templatesdir>),
    act("-usecache", 0, setUseCache),
    integer("-jobparent", &queryJobParent),
    integer("-jobstatus", &queryJobStatus),
    integer("-jobengine", &queryJobEngine),
    integer("-cpustatus", &queryCpuStatus),
    integer("-cpuos", &queryCpuOs),
    integer("-port", &nPort),
    integer("-timeout", &nTimeout),
    act("-p", 1, setPassword),
    act("-u", 1, setText<&username>),
    integer("-cpu", &cpuid),
    act("-job", 1, setJob),
    integer("-chunk", &chunkid),
    integer("-v", &nVerbose),
    integer("-H", &nHeaders),
    integer("-S", &nSeparators),
    integer("-C", &nCostants),
    act("-o", 1, setOutputFormat),
    act("-lf", 1, setFormat<buildLogFormat>),
    act("-cf", 1, setFormat<buildCpuFormat>),
    act("-jf", 1, setFormat<buildJobFormat>),
    act("-pf", 1, setFormat<buildPoolFormat>),
    act("-hf", 1, setFormat<buildChunkFormat>),
    act("-templfields", 1, setTemplateFields),
    act("-q", 1, setQuery),
    integer("-qarc", &queryArchiveMode),
    act("-b", 0, setSubmit),
    act("-folder", 0, setFolder),
    act("-e", 1, setJobInt<&zdSubmitJob::engine>),
    act("-n", 1, setJobText<&zdSubmitJob::name>),
    property("-f", "job_file", true),
    property("-sf", "start_frame"),
    property("-ef", "end_frame"),
    property("-bf", "by_frame"),
    property("-se", "number_by"),
    property("-st", "step_by"),
    property("-proj", "job_project", true),
    property("-dest", "output_folder", true),
    property("-target", "target_host"),
    act("-max", 1, setJobInt<&zdSubmitJob::maxInstances>),
    act("-pr", 1, setJobInt<&zdSubmitJob::priority>),
    act("-group", 1, setJobText<&zdSubmitJob::group>),
    act("-department", 1, setJobText<&zdSubmitJob::department>),
    act("-pk", 1, setJobInt<&zdSubmitJob::packetSize>),
    property("-add", "ADD_FLAGS"),
    act("-pool", 1, setJobText<&zdSubmitJob::pool>),
    act("-ske", 1, setSkipErrors),
    act("-parent", 1, setJobInt<&zdSubmitJob::parent>),
    act("-wait", 1, setJobText<&zdSubmitJob::wait>),
    property("-info", "memo"),
    property("-expectedframes", "expected_frames", true),
    act("-slc", 1, setJobInt<&zdSubmitJob::packetSize>),
    property("-asv", "as_overlap"),
    property("-rmslices", "remove_slices", false, setRemoveSlices),
    property("-rat", "ratio"),
    property("-iw", "x_res"),
    property("-ih", "y_res"),
    property("-framecheck", "frame_check"),
    property("-checkfiles", "check_file", false, setCheckFiles),
    property("-filelowlimit", "file_low"),
    property("-recursion", "recursion"),
    property("-filehighlimit", "file_high"),
    property("-si", "single_instance", false, setSingleInstance),
    act("-attr", 3, setAttribute),
    act("-oma", 1, setMail),
    property("-ojs", "overridestatus", false, setIntProperty),
    act("-ojn", 1, setJobNotifications),
    act("-ocn", 1, setChunkNotifications),
    act("-oct", 1, setChunkTimeout),
    property("-pja", "pre_job_action"),
    property("-pjacrt", "pre_job_action_check_retcode", false, clearRetcodeProperty, 0),
    property("-pjart", "pre_job_action_check_retcode", false, setIntProperty),
    property("-pjato", "pre_job_action_timeout", false, setIntProperty),
    property("-eja", "post_job_action"),
    property("-ejacrt", "post_job_action_check_retcode", false, clearRetcodeProperty, 0),
    property("-ejart", "post_job_action_check_retcode", false, setIntProperty),
    property("-ejato", "post_job_action_timeout", false, setIntProperty),
    property("-pca", "pre_chunk_action"),
    property("-pcacrt", "pre_chunk_action_check_retcode", false, clearRetcodeProperty, 0),
    property("-pcart", "pre_chunk_action_check_retcode", false, setIntProperty),
    property("-pcato", "pre_chunk_action_timeout", false, setIntProperty),
    property("-eca", "post_chunk_action"),
    property("-ecacrt", "post_chunk_action_check_retcode", false, clearRetcodeProperty, 0),
    property("-ecart", "post_chunk_action_check_retcode", false, setIntProperty),
    property("-ecato", "post_chunk_action_timeout", false, setIntProperty),
    control("-dsr", 0, setControlDisp, 1),
    control("-rsc", 0, setControlDisp, 3),
    control("-cds", 0, setControlDisp, 4),
    control("-chp", 1, setChangePassword, 2),
    control("-cpup", 1, setControlCpu, 1, &cpuid),
    control("-cpusr", 1, setControlCpu, 7, &cpuid),
    control("-cpur", 1, setControlCpu, 2, &cpuid),
    control("-cpukg", 1, setControlCpu, 3, &cpuid),
    control("-cpukp", 1, setControlCpu, 5, &cpuid),
    control("-cpukr", 1, setControlCpu, 4, &cpuid),
    control("-cpurn", 1, setControlCpu, 6, &cpuid),
    control("-cpukpjob", 1, setControlCpu, 8, &jobid),
    control("-cpukrjob", 1, setControlCpu, 9, &jobid),
    control("-jobp", 1, setControlJob, 1),
    control("-unarchive", 1, setControlJob, 15),
    control("-archive", 1, setControlJob, 14),
    control("-lock", 1, setControlJob, 13),
    control("-unlock", 1, setControlJob, 12),
    control("-jobr", 1, setControlJob, 2),
    control("-jobri", 1, setControlJob, 3),
    control("-jobrn", 2, setControlJobText, 4),
    control("-jobproj", 2, setControlJobText, 16),
    control("-jobdep", 2, setControlJobText, 17),
    control("-jobpo", 2, setControlJobText, 6),
    control("-jobdp", 2, setControlJobText, 8),
    control("-jobnt", 2, setControlJobText, 9),
    control("-jobpr", 2, setControlJobNumber, 5),
    control("-jobmn", 2, setControlJobNumber, 7),
    control("-jobpa", 2, setControlJobNumber, 11),
    control("-jobrm", 1, setControlJob, 10),
    control("-chunkrq", 2, setControlChunk, 1),
    control("-chunkdn", 2, setControlChunk, 2),
    act("--help", 0, showHelp),
    act("--version", 0, showVersion),
    act("-version", 0, showVersion),
};

const FlagSpec* findFlag(const char* argument) {
    for (const FlagSpec& flag : kFlags) {
        if (std::strcmp(flag.name, argument) == 0) return &flag;
    }
    return nullptr;
}

// The variables stand in only for flags that were not given.
void noteGiven(const FlagSpec& flag, zdGivenFlags& given) {
    const std::string name = flag.name;
    given.server |= name == "-s";
    given.port |= name == "-port";
    given.user |= name == "-u";
    given.password |= name == "-p";
}

}  // namespace

std::vector<zdFlagDescription> describeFlags() {
    std::vector<zdFlagDescription> flags;
    flags.reserve(sizeof kFlags / sizeof kFlags[0]);
    for (const FlagSpec& flag : kFlags)
        flags.push_back({flag.name, flag.values});
    return flags;
}

int getOptFromExec(int argc, char** argv) {
    setupJob();
    zdGivenFlags given;
    if (argc > 1 && std::strcmp(argv[1], "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const FlagSpec* flag =
            argument[0] == '-' && argument[1] != '\0' ? findFlag(argument) : nullptr;
        if (!flag) {
            zdError("\nInvalid flag(%d): %s\n", i, argument);
            return 0;
        }
        int available = argc - 1 - i;
        if (available < flag->values) {
            const char* text = flag->values == 3 && available > 0
                                   ? "\nInsufficient values supplied for flag: %s\n"
                                   : "\nNo value supplied for flag: %s\n";
            zdError(text, flag->name);
            return 0;
        }
        if (!flag->apply(*flag, argv + i + 1)) return 0;
        noteGiven(*flag, given);
        i += flag->values;
    }
    if (!applyCredentialVariables(given)) return 0;
    if (!queryActive && !controlActive && !submitActive) queryActive = 1;
    if (submitActive && (queryActive || controlActive)) {
        zdError("\nPlease specify query/control or submit mode.\n");
        return 0;
    }
    if (controlActive) queryActive = 1;
    return 1;
}
