// The payloads of the conversations that are not listing records: login, status, template reply,
// commands, submissions, the chunk listing's request and acknowledgements, and the statistics
// text. Each has its writer beside its reader; the tool writes what the Dispatcher reads and the
// other way round.
#ifndef ZDPROTOCOL_PAYLOADS_H
#define ZDPROTOCOL_PAYLOADS_H

#include <string>
#include <string_view>

namespace zdProtocol {

constexpr int kProtocolVersion = 610;
constexpr const char* kClientKind = "4";  // the kind a command-line client logs in as

// Login, kLogin -> kLoginResult.
namespace LoginResult {
constexpr int kUser = 0;
constexpr int kGuest = 2;
constexpr int kDenied = 3;
}  // namespace LoginResult

struct LoginPayload {
    std::string_view host, user, passwordBase64, kind;
};
std::string BuildLogin(const LoginPayload& login);
LoginPayload ParseLogin(std::string_view payload);
// The login result, and the other one-number answers: a password change (1 accepted), a
// submission (the new job's ID).
std::string BuildNumberReply(long value);
// The number on line 1.
long ParseNumberReply(std::string_view payload);

// Status, kStatusRequest -> kStatus: twelve lines.
struct StatusPayload {
    long long selectionLogic = 0, jobs = 0, runningJobs = 0, nodes = 0, renderingNodes = 0;
    std::string_view version, build, host;
    long long runningSince = 0, client = 0, loginResult = 0, protocolVersion = 0;
};
std::string BuildStatus(const StatusPayload& status);
// Reads the lines the tool uses: selection logic, version, build and protocol version.
StatusPayload ParseStatus(std::string_view payload);

// Templates: kTemplateRequest carries the UID, kTemplate answers with four lines.
std::string BuildTemplateRequest(int uid);
struct TemplateReply {
    int uid = 0;
    std::string_view name, fileName, textBase64;
};
std::string BuildTemplateReply(const TemplateReply& reply);
// The answer to a request whose UID does not read: four empty lines.
std::string BuildEmptyTemplateReply();
TemplateReply ParseTemplateReply(std::string_view payload);

// Password change: Base64 of the old and the new password.
std::string BuildPasswordChange(std::string_view oldBase64, std::string_view newBase64);
struct PasswordChange {
    std::string_view oldBase64, newBase64;
};
PasswordChange ParsePasswordChange(std::string_view payload);

// Node, job and chunk commands: the ID of what they act on and an optional argument, each on a
// line of its own; pool and parent commands put the argument first.
int CommandIdLine(unsigned char code);
int CommandArgumentLine(unsigned char code);
std::string BuildCommand(unsigned char code, long id);
std::string BuildCommand(unsigned char code, long id, std::string_view argument);
std::string BuildCommand(unsigned char code, long id, long argument);

// Submissions: the job record of kNewJob and kEditedJob, the folder of kNewFolder.
namespace SubmissionLine {
enum : int {
    kJobType = 1,
    kEngine,
    kPriority,
    kMaxInstances,
    kReserved,
    kEmpty,
    kName,
    kJobId,
    kPacketSize,
    kPool,
    kSkipErrors,
    kParent,
    kFolder,
    kWait,
    kOverrideMail,
    kMail,
    kOverrideJobNotifications,
    kJobNotifications,
    kJobNotificationLevel,
    kOverrideChunkNotifications,
    kChunkNotifications,
    kChunkNotificationLevel,
    kOverrideChunkTimeout,
    kChunkTimeout,
    kProperties,  // Base64 of the property groups
    kZero,
    kGroup,
    kDepartment,
    kCount = kDepartment,
};
}  // namespace SubmissionLine

struct SubmissionRecord {
    int jobType = 0, engine = 0, priority = 0, maxInstances = 0;
    bool reserved = false;
    std::string_view name;
    long jobId = -1;
    int packetSize = 0;
    std::string_view pool;
    bool skipErrors = false;
    long parent = -1;
    int folder = 0;
    std::string_view wait;
    bool overrideMail = false;
    std::string_view mail;
    bool overrideJobNotifications = false, jobNotifications = false;
    std::string_view jobNotificationLevel;
    bool overrideChunkNotifications = false, chunkNotifications = false;
    std::string_view chunkNotificationLevel;
    bool overrideChunkTimeout = false;
    int chunkTimeout = 0;
    std::string_view propertiesBase64;
    std::string_view group, department;
};
// Texts go out as given.
std::string BuildSubmission(const SubmissionRecord& record);
// The Dispatcher's reading: every number it uses must read strictly. False with `why` when the
// record is cut short or a number does not read. The job ID is left to the caller, which reads
// it only for an edited job.
bool ParseSubmission(std::string_view payload, SubmissionRecord& record, std::string& why);

struct FolderPayload {
    long parent = -1;
    std::string_view name;
    int priority = 0;
};
std::string BuildFolder(const FolderPayload& folder);
bool ParseFolder(std::string_view payload, FolderPayload& folder);

// The chunk listing's request ("job\n") and acknowledgements ("job\nchunk\n", chunk 0 for the
// start).
std::string BuildChunksRequest(long jobId);
// The job ID of a chunks request; 0 when it is not one.
long ParseChunksRequest(std::string_view payload);
std::string BuildChunkAck(long jobId, long chunkId);

// The statistics: kStatistics carries on line 1 the Base64 of 32 lines of values.
struct DispatcherStatistics {
    long long runningSince = 0;
    long long updatedOn = 0;
    long long totalBytesIn = 0;
    long long totalBytesOut = 0;
    long long controlBytesIn = 0;
    long long controlBytesOut = 0;
    long long rcBytesIn = 0;
    long long rcBytesOut = 0;
    long long notificationBytesIn = 0;
    long long notificationBytesOut = 0;
    long long httpBytesIn = 0;
    long long httpBytesOut = 0;
    double totalKbsIn = 0;
    double totalKbsOut = 0;
    double controlKbsIn = 0;
    double controlKbsOut = 0;
    double rcKbsIn = 0;
    double rcKbsOut = 0;
    double notificationKbsIn = 0;
    double notificationKbsOut = 0;
    double httpKbsIn = 0;
    double httpKbsOut = 0;
    long long rcConnections = 0;
    long long managementConnections = 0;
    long long notificationConnections = 0;
    long long httpSessions = 0;
    long long httpConnections = 0;
    long long httpsConnections = 0;
    long long occupiedClients = 0;
    long long pausedClients = 0;
    long long idleClients = 0;
    long long unavailableClients = 0;
};

// One statistics value: its name and where it lives (exactly one member is set). Narrow values
// (times and connection counts) are read with int's range, the others with 64 bits.
struct StatisticsField {
    const char* key;
    long long DispatcherStatistics::*whole;
    double DispatcherStatistics::*average;  // written with two decimals
    bool narrow;
};
constexpr int kStatisticsLines = 32;
// The 32 fields in line order.
const StatisticsField* StatisticsFields();

std::string BuildStatisticsText(const DispatcherStatistics& statistics);
// False, leaving `statistics` alone, when the text has fewer than 32 lines.
bool ParseStatisticsText(std::string_view text, DispatcherStatistics& statistics);
std::string BuildStatisticsReply(const DispatcherStatistics& statistics);
// The Base64 of the statistics text that a reply carries.
std::string_view ParseStatisticsReply(std::string_view payload);

}  // namespace zdProtocol

#endif
