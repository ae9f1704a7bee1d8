// Writers and readers of the conversation payloads, side by side per kind.
#include "Payloads.h"

#include <vector>

#include "MessageCodes.h"
#include "PayloadText.h"
#include "ZRStringHelper.h"

namespace zdProtocol {

namespace {

std::string Lines(std::initializer_list<std::string_view> values) {
    std::string out;
    for (std::string_view value : values) {
        out += value;
        out += '\n';
    }
    return out;
}

std::string Decimal(long long value) {
    return std::to_string(value);
}

}  // namespace

// ---- Login and one-number answers ----

std::string BuildLogin(const LoginPayload& login) {
    return Lines({login.host, login.user, login.passwordBase64, login.kind});
}

LoginPayload ParseLogin(std::string_view payload) {
    return {LineOf(payload, 1), LineOf(payload, 2), LineOf(payload, 3), LineOf(payload, 4)};
}

std::string BuildNumberReply(long value) {
    return Decimal(value) + "\n";
}

long ParseNumberReply(std::string_view payload) {
    return ParseLong(LineOf(payload, 1));
}

// ---- Status ----

std::string BuildStatus(const StatusPayload& status) {
    std::string out;
    LineWriter lines(out);
    lines.Number(status.selectionLogic);
    lines.Number(status.jobs);
    lines.Number(status.runningJobs);
    lines.Number(status.nodes);
    lines.Number(status.renderingNodes);
    lines.Text(status.version);
    lines.Text(status.build);
    lines.Text(status.host);
    lines.Number(status.runningSince);
    lines.Number(status.client);
    lines.Number(status.loginResult);
    lines.Number(status.protocolVersion);
    return out;
}

StatusPayload ParseStatus(std::string_view payload) {
    StatusPayload status;
    LineReader lines(payload);
    status.selectionLogic = lines.Int();
    status.jobs = lines.Int();
    status.runningJobs = lines.Int();
    status.nodes = lines.Int();
    status.renderingNodes = lines.Int();
    status.version = lines.Next();
    status.build = lines.Next();
    status.host = lines.Next();
    status.runningSince = lines.Long();
    status.client = lines.Int();
    status.loginResult = lines.Int();
    status.protocolVersion = lines.Int();
    return status;
}

// ---- Templates ----

std::string BuildTemplateRequest(int uid) {
    return Decimal(uid);
}

std::string BuildTemplateReply(const TemplateReply& reply) {
    return Lines({Decimal(reply.uid), reply.name, reply.fileName, reply.textBase64});
}

std::string BuildEmptyTemplateReply() {
    return Lines({"", "", "", ""});
}

TemplateReply ParseTemplateReply(std::string_view payload) {
    TemplateReply reply;
    LineReader lines(payload);
    reply.uid = lines.Int();
    reply.name = lines.Next();
    reply.fileName = lines.Next();
    reply.textBase64 = lines.Next();
    return reply;
}

std::string BuildPasswordChange(std::string_view oldBase64, std::string_view newBase64) {
    return Lines({oldBase64, newBase64});
}

PasswordChange ParsePasswordChange(std::string_view payload) {
    return {LineOf(payload, 1), LineOf(payload, 2)};
}

// ---- Commands ----

int CommandIdLine(unsigned char code) {
    return code == zdCode::kJobPool || code == zdCode::kJobParent ? 2 : 1;
}

int CommandArgumentLine(unsigned char code) {
    return CommandIdLine(code) == 2 ? 1 : 2;
}

std::string BuildCommand(unsigned char, long id) {
    return Lines({Decimal(id)});
}

std::string BuildCommand(unsigned char code, long id, std::string_view argument) {
    const std::string number = Decimal(id);
    return CommandIdLine(code) == 1 ? Lines({number, argument}) : Lines({argument, number});
}

std::string BuildCommand(unsigned char code, long id, long argument) {
    return BuildCommand(code, id, Decimal(argument));
}

// ---- Submissions ----

std::string BuildSubmission(const SubmissionRecord& r) {
    std::string out;
    LineWriter lines(out);
    lines.Number(r.jobType);
    lines.Number(r.engine);
    lines.Number(r.priority);
    lines.Number(r.maxInstances);
    lines.Flag(r.reserved);
    lines.Raw("");
    lines.Raw(r.name);
    lines.Number(r.jobId);
    lines.Number(r.packetSize);
    lines.Raw(r.pool);
    lines.Flag(r.skipErrors);
    lines.Number(r.parent);
    lines.Number(r.folder);
    lines.Raw(r.wait);
    lines.Flag(r.overrideMail);
    lines.Raw(r.mail);
    lines.Flag(r.overrideJobNotifications);
    lines.Flag(r.jobNotifications);
    lines.Raw(r.jobNotificationLevel);
    lines.Flag(r.overrideChunkNotifications);
    lines.Flag(r.chunkNotifications);
    lines.Raw(r.chunkNotificationLevel);
    lines.Flag(r.overrideChunkTimeout);
    lines.Number(r.chunkTimeout);
    lines.Raw(r.propertiesBase64);
    lines.Raw("0");
    lines.Raw(r.group);
    lines.Raw(r.department);
    return out;
}

bool ParseSubmission(std::string_view payload, SubmissionRecord& r, std::string& why) {
    std::string_view line[SubmissionLine::kCount + 1];
    LineReader lines(payload);
    int count = 0;
    while (!lines.AtEnd() && count < SubmissionLine::kCount)
        line[++count] = lines.Next();
    if (count < SubmissionLine::kCount) {
        why = "the job record is cut short";
        return false;
    }
    using namespace SubmissionLine;
    if (!ParseStrictInt(line[kJobType], r.jobType) || !ParseStrictInt(line[kEngine], r.engine) ||
        !ParseStrictInt(line[kPriority], r.priority) ||
        !ParseStrictInt(line[kMaxInstances], r.maxInstances) ||
        !ParseStrictInt(line[kPacketSize], r.packetSize) ||
        !ParseStrictFlag(line[kSkipErrors], r.skipErrors) ||
        !ParseStrictLong(line[kParent], r.parent) ||
        !ParseStrictFlag(line[kOverrideChunkTimeout], r.overrideChunkTimeout) ||
        (r.overrideChunkTimeout && !ParseStrictInt(line[kChunkTimeout], r.chunkTimeout))) {
        why = "a number of the job record does not read";
        return false;
    }
    r.name = line[kName];
    r.pool = line[kPool];
    r.wait = line[kWait];
    r.mail = line[kMail];
    r.jobNotificationLevel = line[kJobNotificationLevel];
    r.chunkNotificationLevel = line[kChunkNotificationLevel];
    r.propertiesBase64 = line[kProperties];
    r.group = line[kGroup];
    r.department = line[kDepartment];
    return true;
}

std::string BuildFolder(const FolderPayload& folder) {
    return Lines({Decimal(folder.parent), folder.name, Decimal(folder.priority)});
}

bool ParseFolder(std::string_view payload, FolderPayload& folder) {
    folder.name = LineOf(payload, 2);
    return ParseStrictLong(LineOf(payload, 1), folder.parent) &&
           ParseStrictInt(LineOf(payload, 3), folder.priority);
}

// ---- Chunk listing ----

std::string BuildChunksRequest(long jobId) {
    return Decimal(jobId) + "\n";
}

long ParseChunksRequest(std::string_view payload) {
    while (!payload.empty() && (payload.back() == '\n' || payload.back() == '\r'))
        payload.remove_suffix(1);
    if (payload.empty() || !(payload[0] == '-' || (payload[0] >= '0' && payload[0] <= '9')))
        return 0;
    long id = 0;
    return ParseStrictLong(payload, id) ? id : 0;
}

std::string BuildChunkAck(long jobId, long chunkId) {
    return Decimal(jobId) + "\n" + Decimal(chunkId) + "\n";
}

// ---- Statistics ----

const StatisticsField* StatisticsFields() {
    using S = DispatcherStatistics;
    static const StatisticsField fields[kStatisticsLines] = {
        {"running_since", &S::runningSince, nullptr, true},
        {"updated_on", &S::updatedOn, nullptr, true},
        {"total_bytes_in", &S::totalBytesIn, nullptr, false},
        {"total_bytes_out", &S::totalBytesOut, nullptr, false},
        {"control_bytes_in", &S::controlBytesIn, nullptr, false},
        {"control_bytes_out", &S::controlBytesOut, nullptr, false},
        {"rc_bytes_in", &S::rcBytesIn, nullptr, false},
        {"rc_bytes_out", &S::rcBytesOut, nullptr, false},
        {"notification_bytes_in", &S::notificationBytesIn, nullptr, false},
        {"notification_bytes_out", &S::notificationBytesOut, nullptr, false},
        {"http_bytes_in", &S::httpBytesIn, nullptr, false},
        {"http_bytes_out", &S::httpBytesOut, nullptr, false},
        {"total_kbs_in", nullptr, &S::totalKbsIn, false},
        {"total_kbs_out", nullptr, &S::totalKbsOut, false},
        {"control_kbs_in", nullptr, &S::controlKbsIn, false},
        {"control_kbs_out", nullptr, &S::controlKbsOut, false},
        {"rc_kbs_in", nullptr, &S::rcKbsIn, false},
        {"rc_kbs_out", nullptr, &S::rcKbsOut, false},
        {"notification_kbs_in", nullptr, &S::notificationKbsIn, false},
        {"notification_kbs_out", nullptr, &S::notificationKbsOut, false},
        {"http_kbs_in", nullptr, &S::httpKbsIn, false},
        {"http_kbs_out", nullptr, &S::httpKbsOut, false},
        {"rc_connections", &S::rcConnections, nullptr, true},
        {"management_connections", &S::managementConnections, nullptr, true},
        {"notification_connections", &S::notificationConnections, nullptr, true},
        {"http_sessions", &S::httpSessions, nullptr, true},
        {"http_connections", &S::httpConnections, nullptr, true},
        {"https_connections", &S::httpsConnections, nullptr, true},
        {"occupied_clients", &S::occupiedClients, nullptr, true},
        {"paused_clients", &S::pausedClients, nullptr, true},
        {"idle_clients", &S::idleClients, nullptr, true},
        {"unavailable_clients", &S::unavailableClients, nullptr, true},
    };
    return fields;
}

std::string BuildStatisticsText(const DispatcherStatistics& statistics) {
    std::string out;
    LineWriter lines(out);
    const StatisticsField* fields = StatisticsFields();
    for (int i = 0; i < kStatisticsLines; ++i) {
        if (fields[i].whole != nullptr)
            lines.Number(statistics.*fields[i].whole);
        else
            lines.Fixed2(statistics.*fields[i].average);
    }
    return out;
}

bool ParseStatisticsText(std::string_view text, DispatcherStatistics& statistics) {
    const std::vector<std::string> values =
        ZRFramework::ZRStringHelper::TokenizeString(std::string(text), "\n");
    if (values.size() < static_cast<size_t>(kStatisticsLines)) return false;
    const StatisticsField* fields = StatisticsFields();
    for (int i = 0; i < kStatisticsLines; ++i) {
        const StatisticsField& field = fields[i];
        if (field.average != nullptr)
            statistics.*field.average = ParseFloat(values[i]);
        else
            statistics.*field.whole = field.narrow ? ParseInt(values[i]) : ParseLongLong(values[i]);
    }
    return true;
}

std::string BuildStatisticsReply(const DispatcherStatistics& statistics) {
    return EncodeBase64(BuildStatisticsText(statistics)) + "\n";
}

std::string_view ParseStatisticsReply(std::string_view payload) {
    return LineOf(payload, 1);
}

}  // namespace zdProtocol
