// Conversation handlers of zdsim: login, status, hashes map, template fetch, statistics, the
// control commands and submissions.
#include "Protocol.h"

#include <algorithm>
#include <ctime>
#include <unordered_map>

#include "FarmRules.h"
#include "ListingRecords.h"
#include "Payloads.h"
#include "Records.h"

namespace zdsim {

using zdProtocol::DecodeBase64;
using zdProtocol::LineOf;

int DecideLogin(const Farm& farm, const std::string& user, const std::string& password) {
    const User* known = farm.FindUser(user);
    if (known != nullptr)
        return known->password == password ? known->loginResult : LoginResult::kDenied;
    return farm.allowGuests ? LoginResult::kGuest : LoginResult::kDenied;
}

Replies HandleLogin(const Context& context, Session& session, const std::string& payload) {
    const zdProtocol::LoginPayload login = zdProtocol::ParseLogin(payload);
    session.host = login.host;
    session.user = login.user;
    session.kind = login.kind;
    std::string password;
    int result = LoginResult::kDenied;
    if (context.settings->forcedLoginResult) {
        result = *context.settings->forcedLoginResult;
    } else if (DecodeBase64(login.passwordBase64, password)) {
        result = DecideLogin(*context.farm, session.user, password);
    } else if (context.farm->FindUser(session.user) == nullptr && context.farm->allowGuests) {
        // A garbled password cannot matter to a guest.
        result = LoginResult::kGuest;
    }
    session.loginResult = result;
    return {{Code::kLoginResult, zdProtocol::BuildNumberReply(result)}};
}

Replies HandleStatus(const Context& context, const Session& session) {
    const Farm& farm = *context.farm;
    int jobs = 0;
    int runningJobs = 0;
    for (const Job& job : farm.jobs) {
        if (job.type != 0) continue;
        ++jobs;
        if (job.status == JobStatus::kStarted || job.status == JobStatus::kStartedWithWarnings)
            ++runningJobs;
    }
    int renderingNodes = 0;
    for (const Node& node : farm.nodes)
        if (node.status == NodeStatus::kInProgress) ++renderingNodes;

    zdProtocol::StatusPayload status;
    status.selectionLogic = farm.selectionLogic != 0 ? 1 : 0;
    status.jobs = jobs;
    status.runningJobs = runningJobs;
    status.nodes = static_cast<long long>(farm.nodes.size());
    status.renderingNodes = renderingNodes;
    status.version = farm.version;
    status.build = farm.build;
    status.host = farm.host;
    status.runningSince = farm.statistics.runningSince;
    status.client = session.client;
    status.loginResult = session.loginResult;
    status.protocolVersion = context.settings->protocolVersion;
    return {{Code::kStatus, zdProtocol::BuildStatus(status)}};
}

Replies HandleHashesRequest(const Context& context) {
    const ProtocolSettings& settings = *context.settings;
    return {{Code::kHashes,
             settings.hashesText ? *settings.hashesText : context.templates->HashesMap()}};
}

Replies HandleTemplateRequest(const Context& context, const std::string& payload) {
    const ProtocolSettings& settings = *context.settings;
    int uid = 0;
    if (!ParseInt(payload, uid)) return {{Code::kTemplate, zdProtocol::BuildEmptyTemplateReply()}};

    const ServedTemplate* found = context.templates->Find(uid);
    std::string name = found != nullptr ? found->name : std::string();
    std::string fileName = found != nullptr ? found->fileName : std::string();
    if (auto it = settings.templateFileNames.find(uid); it != settings.templateFileNames.end()) {
        fileName = it->second;
    }
    std::string body;
    if (settings.badTemplateUid && *settings.badTemplateUid == uid) {
        body = kNotBase64;
    } else if (auto it = settings.templateOverrides.find(uid);
               it != settings.templateOverrides.end()) {
        if (fileName.empty()) fileName = std::to_string(uid) + ".template";
        body = EncodeBase64(it->second);
    } else if (found != nullptr) {
        body = EncodeBase64(found->text);
    }
    return {{Code::kTemplate, zdProtocol::BuildTemplateReply({uid, name, fileName, body})}};
}

Replies HandleStatisticsRequest(const Context& context) {
    return {{Code::kStatistics, zdProtocol::BuildStatisticsReply(context.farm->statistics)}};
}

namespace {

// IDs read with int's range, as the farm numbers them.
bool ParseLong(std::string_view text, long& value) {
    int parsed = 0;
    if (!ParseInt(text, parsed)) return false;
    value = parsed;
    return true;
}

enum class Target { kNone, kNode, kJob, kChunk };

Target TargetOf(unsigned char code) {
    switch (code) {
        case Code::kNodePause:
        case Code::kNodeResume:
        case Code::kNodeKillGoOn:
        case Code::kNodeKillPause:
        case Code::kNodeKillRedo:
        case Code::kNodeKillReinit:
        case Code::kNodeSoftRestart:
            return Target::kNode;
        case Code::kJobNodesKillPause:
        case Code::kJobNodesKillRedo:
        case Code::kJobPause:
        case Code::kJobResume:
        case Code::kJobReinit:
        case Code::kJobRename:
        case Code::kJobPriority:
        case Code::kJobPool:
        case Code::kJobMaxNodes:
        case Code::kJobDepend:
        case Code::kJobNotes:
        case Code::kJobDelete:
        case Code::kJobParent:
        case Code::kJobUnlock:
        case Code::kJobLock:
        case Code::kJobArchive:
        case Code::kJobUnarchive:
        case Code::kJobProject:
        case Code::kJobDepartment:
            return Target::kJob;
        case Code::kChunkRequeue:
        case Code::kChunkComplete:
            return Target::kChunk;
        default:
            return Target::kNone;
    }
}

void Note(std::string* note, const std::string& text) {
    if (note != nullptr) *note = text;
}

Reply Refusal(unsigned char code, const std::string& why) {
    return {code, why + "\n"};
}

long NextId(const Farm& farm) {
    long highest = 0;
    for (const Job& job : farm.jobs)
        highest = std::max(highest, job.id);
    return highest + 1;
}

// Reads the job record into `job`, leaving identity, state and chunks alone.
bool ReadJobRecord(const std::string& payload, Job& job, std::string& why) {
    zdProtocol::SubmissionRecord record;
    if (!zdProtocol::ParseSubmission(payload, record, why)) return false;
    std::vector<std::pair<std::string, Attribute>> attributes;
    std::string block;
    if (!DecodeBase64(record.propertiesBase64, block)) {
        why = "the properties block is not Base64";
        return false;
    }
    if (!ParseAttributeBlock(block, attributes)) {
        why = "too many properties";
        return false;
    }
    job.packetType = record.jobType;
    job.engine = record.engine;
    job.priority = record.priority;
    job.maxInstances = record.maxInstances;
    job.name = record.name;
    job.packetSize = record.packetSize;
    job.pool = record.pool;
    job.skipErrors = record.skipErrors;
    job.parent = record.parent;
    job.depend = record.wait;
    job.mail = record.mail;
    if (record.overrideChunkTimeout) job.chunkTimeout = record.chunkTimeout;
    job.attributes = attributes;
    job.attributes.ShrinkToFit();
    job.group = record.group;
    job.department = record.department;
    return true;
}

Replies SubmitJob(const Context& context, const Session& session, unsigned char code,
                  const std::string& payload) {
    Farm& farm = *context.farm;
    if (zdProtocol::CountLines(payload) < zdProtocol::SubmissionLine::kCount)
        return {Refusal(Code::kRefused, "the job record is cut short")};
    Job* edited = nullptr;
    if (code == Code::kEditedJob) {
        long id = 0;
        if (!ParseLong(LineOf(payload, zdProtocol::SubmissionLine::kJobId), id))
            return {Refusal(Code::kRefused, "no job ID")};
        edited = FindJob(farm, id);
        if (edited == nullptr || edited->type != 0)
            return {Refusal(Code::kRefusedContent, "no job " + std::to_string(id))};
        if (edited->locked) return {Refusal(Code::kRefusedContent, "the job is locked")};
    } else if (farm.jobs.size() >= kMaxJobs) {
        return {Refusal(Code::kRefusedContent, "the farm is full")};
    }
    Job job = edited != nullptr ? *edited : Job();
    std::string why;
    if (!ReadJobRecord(payload, job, why)) return {Refusal(Code::kRefused, why)};
    if (job.name.empty()) return {Refusal(Code::kRefused, "no job name")};
    if (context.settings->checkEngines && context.templates->Find(job.engine) == nullptr)
        return {Refusal(Code::kRefusedContent, "no template " + std::to_string(job.engine))};
    if (!IsFolderOrTop(farm, job.parent))
        return {Refusal(Code::kRefusedContent, "no folder " + std::to_string(job.parent))};
    if (edited != nullptr) {
        *edited = std::move(job);
        return {{Code::kSubmitted, std::to_string(edited->id) + "\n"}};
    }
    job.id = NextId(farm);
    job.type = 0;
    job.submitter = session.user;
    job.submitTime = static_cast<long>(std::time(nullptr));
    farm.jobs.push_back(std::move(job));
    return {{Code::kSubmitted, std::to_string(farm.jobs.back().id) + "\n"}};
}

Replies SubmitFolder(const Context& context, const Session& session, const std::string& payload) {
    Farm& farm = *context.farm;
    Job folder;
    zdProtocol::FolderPayload read;
    if (!zdProtocol::ParseFolder(payload, read))
        return {Refusal(Code::kRefused, "a number of the folder does not read")};
    const long parent = read.parent;
    const int priority = read.priority;
    folder.name = read.name;
    if (folder.name.empty()) return {Refusal(Code::kRefused, "no folder name")};
    if (!IsFolderOrTop(farm, parent))
        return {Refusal(Code::kRefusedContent, "no folder " + std::to_string(parent))};
    if (farm.jobs.size() >= kMaxJobs) return {Refusal(Code::kRefusedContent, "the farm is full")};
    folder.id = NextId(farm);
    folder.type = 1;
    folder.parent = parent;
    folder.priority = priority;
    folder.submitter = session.user;
    folder.submitTime = static_cast<long>(std::time(nullptr));
    farm.jobs.push_back(std::move(folder));
    return {{Code::kSubmitted, std::to_string(farm.jobs.back().id) + "\n"}};
}

}  // namespace

bool ParseAttributeBlock(const std::string& block,
                         std::vector<std::pair<std::string, Attribute>>& attributes) {
    // A block may repeat one name many times; the look-up keeps that linear.
    std::unordered_map<std::string, size_t> index;
    attributes.clear();
    bool bounded = true;
    zdProtocol::ForEachPropertyGroup(
        block, [&](std::string_view name, std::string_view value, std::string_view specified,
                   std::string_view substitution) {
            if (!bounded) return;
            Attribute attribute;
            attribute.value = value;
            // A missing or unreadable flag counts as clear.
            bool flag = false;
            attribute.specified = zdProtocol::ParseStrictFlag(specified, flag) && flag;
            flag = false;
            attribute.pathSubstitution = zdProtocol::ParseStrictFlag(substitution, flag) && flag;
            const auto [at, added] = index.emplace(std::string(name), attributes.size());
            if (!added) {
                attributes[at->second].second = std::move(attribute);
            } else if (attributes.size() >= kMaxAttributes) {
                bounded = false;
            } else {
                attributes.emplace_back(std::string(name), std::move(attribute));
            }
        });
    return bounded;
}

bool ChangesFarm(unsigned char code) {
    return TargetOf(code) != Target::kNone || code == Code::kSelectionLogic ||
           code == Code::kPasswordChange || code == Code::kStatisticsReset ||
           code == Code::kNewJob || code == Code::kEditedJob || code == Code::kNewFolder;
}

void HandleControl(const Context& context, unsigned char code, const std::string& payload,
                   std::string* note) {
    Farm& farm = *context.farm;
    const Target target = TargetOf(code);
    const int idLine = zdProtocol::CommandIdLine(code);
    const std::string_view argument = LineOf(payload, zdProtocol::CommandArgumentLine(code));
    long id = 0;
    if (!ParseLong(LineOf(payload, idLine), id)) {
        Note(note, "no ID on line " + std::to_string(idLine));
        return;
    }
    if (target == Target::kNode) {
        Node* node = FindNode(farm, id);
        if (node == nullptr) return Note(note, "no node " + std::to_string(id));
        ControlNode(farm, code, *node);
        return;
    }
    Job* job = FindJob(farm, id);
    if (job == nullptr) return Note(note, "no job " + std::to_string(id));
    if (target == Target::kChunk) {
        long chunkId = 0;
        Chunk* chunk = nullptr;
        if (ParseLong(argument, chunkId))
            for (Chunk& each : job->chunks)
                if (each.id == chunkId) chunk = &each;
        if (chunk == nullptr) return Note(note, "job " + std::to_string(id) + " has no such chunk");
        ControlChunk(farm, code, *job, *chunk);
        return;
    }
    if (!ControlJob(farm, code, *job, argument))
        Note(note, "job " + std::to_string(id) + ": argument refused");
}

Replies HandlePasswordChange(const Context& context, const Session& session,
                             const std::string& payload) {
    const zdProtocol::PasswordChange change = zdProtocol::ParsePasswordChange(payload);
    std::string before;
    std::string after;
    User* user = nullptr;
    for (User& each : context.farm->users)
        if (each.name == session.user) user = &each;
    const bool accepted = user != nullptr && session.loginResult == user->loginResult &&
                          DecodeBase64(change.oldBase64, before) &&
                          DecodeBase64(change.newBase64, after) && before == user->password;
    if (accepted) user->password = after;
    return {{Code::kPasswordResult, accepted ? "1\n" : "0\n"}};
}

Replies HandleSubmission(const Context& context, const Session& session, unsigned char code,
                         const std::string& payload) {
    if (context.settings->refuseSubmissions)
        return {Refusal(Code::kRefusedContent, "submissions are refused")};
    if (code == Code::kNewFolder) return SubmitFolder(context, session, payload);
    return SubmitJob(context, session, code, payload);
}

Replies HandleMessage(const Context& context, Session& session, unsigned char code,
                      const std::string& payload, bool* known, std::string* note) {
    if (known != nullptr) *known = true;
    switch (code) {
        case Code::kLogin:
            return HandleLogin(context, session, payload);
        case Code::kStatusRequest:
            return HandleStatus(context, session);
        case Code::kHashesRequest:
            return HandleHashesRequest(context);
        case Code::kTemplateRequest:
            return HandleTemplateRequest(context, payload);
        case Code::kStatisticsRequest:
            return HandleStatisticsRequest(context);
        case Code::kSelectionLogic:
            context.farm->selectionLogic = context.farm->selectionLogic != 0 ? 0 : 1;
            return HandleStatus(context, session);
        case Code::kStatisticsReset:
            ResetCounters(context.farm->statistics);
            return HandleStatus(context, session);
        case Code::kSoftRestart:
            Note(note, "soft restart asked for; nothing to restart");
            return {};
        case Code::kPasswordChange:
            return HandlePasswordChange(context, session, payload);
        case Code::kNewJob:
        case Code::kEditedJob:
        case Code::kNewFolder:
            return HandleSubmission(context, session, code, payload);
        default:
            if (TargetOf(code) != Target::kNone) {
                HandleControl(context, code, payload, note);
                return {};
            }
            if (known != nullptr) *known = false;
            return {};
    }
}

}  // namespace zdsim
