// Conversation handlers of zdsim: login, status, hashes map, template fetch, statistics, the
// control commands and submissions.
#include "Protocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <unordered_map>

#include "Records.h"
#include "ZRBase64.h"
#include "ZRStringHelper.h"

namespace zdsim {

using ZRFramework::ZRStringHelper::GetLine;

namespace {

struct Base64Release {
    void operator()(char* buffer) const { ZRFramework::ZRBase64::DeleteBuffer(&buffer); }
};
using Base64Buffer = std::unique_ptr<char, Base64Release>;

bool DecodeBase64(const std::string& text, std::string& bytes) {
    char* raw = nullptr;
    unsigned long length = 0;
    if (!ZRFramework::ZRBase64::DecodeAlloc(text.data(), text.size(), &raw, &length)) return false;
    Base64Buffer owned(raw);
    bytes.assign(raw != nullptr ? raw : "", raw != nullptr ? length : 0);
    return true;
}

// Traffic and connection counters restart; the start time and the node counts stay, since
// they describe the farm rather than what happened since.
void ResetCounters(Statistics& statistics) {
    const Statistics kept = statistics;
    statistics = Statistics();
    statistics.runningSince = kept.runningSince;
    statistics.updatedOn = kept.updatedOn;
    statistics.occupiedClients = kept.occupiedClients;
    statistics.pausedClients = kept.pausedClients;
    statistics.idleClients = kept.idleClients;
    statistics.unavailableClients = kept.unavailableClients;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string EncodeBase64(const std::string& bytes) {
    if (bytes.empty()) return std::string();
    char* raw = nullptr;
    const unsigned long size = ZRFramework::ZRBase64::EncodeAlloc(bytes.data(), bytes.size(), &raw);
    Base64Buffer owned(raw);
    if (size == 0 || raw == nullptr) return std::string();
    return std::string(raw, size - 1);
}

bool ParseInt(const std::string& text, int& value) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    while (end > begin && IsSpace(text[end - 1]))
        --end;
    if (begin == end) return false;
    const std::string digits = text.substr(begin, end - begin);
    char* stop = nullptr;
    errno = 0;
    const long parsed = std::strtol(digits.c_str(), &stop, 10);
    const char first = digits[0];
    // strtol would also skip white space of its own choosing.
    const bool signOrDigit = first == '-' || first == '+' || (first >= '0' && first <= '9');
    if (!signOrDigit || errno != 0 || stop != digits.c_str() + digits.size() || parsed < INT_MIN ||
        parsed > INT_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

int DecideLogin(const Farm& farm, const std::string& user, const std::string& password) {
    const User* known = farm.FindUser(user);
    if (known != nullptr)
        return known->password == password ? known->loginResult : LoginResult::kDenied;
    return farm.allowGuests ? LoginResult::kGuest : LoginResult::kDenied;
}

Replies HandleLogin(const Context& context, Session& session, const std::string& payload) {
    session.host = GetLine(payload, 1);
    session.user = GetLine(payload, 2);
    session.kind = GetLine(payload, 4);
    std::string password;
    int result = LoginResult::kDenied;
    if (context.settings->forcedLoginResult) {
        result = *context.settings->forcedLoginResult;
    } else if (DecodeBase64(GetLine(payload, 3), password)) {
        result = DecideLogin(*context.farm, session.user, password);
    } else if (context.farm->FindUser(session.user) == nullptr && context.farm->allowGuests) {
        // A garbled password cannot matter to a guest.
        result = LoginResult::kGuest;
    }
    session.loginResult = result;
    return {{Code::kLoginResult, std::to_string(result) + "\n"}};
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

    std::string text;
    auto line = [&text](const std::string& value) { text += value + "\n"; };
    line(std::to_string(farm.selectionLogic != 0 ? 1 : 0));
    line(std::to_string(jobs));
    line(std::to_string(runningJobs));
    line(std::to_string(farm.nodes.size()));
    line(std::to_string(renderingNodes));
    line(farm.version);
    line(farm.build);
    line(farm.host);
    line(std::to_string(farm.statistics.runningSince));
    line(std::to_string(session.client));
    line(std::to_string(session.loginResult));
    line(std::to_string(context.settings->protocolVersion));
    return {{Code::kStatus, text}};
}

Replies HandleHashesRequest(const Context& context) {
    const ProtocolSettings& settings = *context.settings;
    return {{Code::kHashes,
             settings.hashesText ? *settings.hashesText : context.templates->HashesMap()}};
}

Replies HandleTemplateRequest(const Context& context, const std::string& payload) {
    const ProtocolSettings& settings = *context.settings;
    int uid = 0;
    if (!ParseInt(payload, uid)) return {{Code::kTemplate, "\n\n\n\n"}};

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
    return {{Code::kTemplate,
             std::to_string(uid) + "\n" + name + "\n" + fileName + "\n" + body + "\n"}};
}

Replies HandleStatisticsRequest(const Context& context) {
    return {{Code::kStatistics, EncodeBase64(StatisticsText(context.farm->statistics)) + "\n"}};
}

namespace {

// The lines of a payload without their line feeds; a final line without one still counts.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text, begin, end - begin);
        begin = end + 1;
    }
    return lines;
}

std::string LineOf(const std::vector<std::string>& lines, size_t number) {
    return number >= 1 && number <= lines.size() ? lines[number - 1] : std::string();
}

bool ParseLong(const std::string& text, long& value) {
    int parsed = 0;
    if (!ParseInt(text, parsed)) return false;
    value = parsed;
    return true;
}

Job* FindJob(Farm& farm, long id) {
    for (Job& job : farm.jobs)
        if (job.id == id) return &job;
    return nullptr;
}

Node* FindNode(Farm& farm, long id) {
    for (Node& node : farm.nodes)
        if (node.id == id) return &node;
    return nullptr;
}

void ResetChunk(Chunk& chunk) {
    chunk.status = ChunkStatus::kOnHold;
    chunk.renderBy.clear();
    chunk.startTime = 0;
    chunk.endTime = 0;
}

// Progress and status follow the chunks; a job without chunks keeps its own.
void UpdateJobFromChunks(Job& job) {
    if (job.chunks.empty()) return;
    size_t done = 0;
    bool warnings = false;
    for (const Chunk& chunk : job.chunks) {
        if (chunk.status == ChunkStatus::kCompleted) ++done;
        if (chunk.status == ChunkStatus::kCompletedWithWarnings) {
            ++done;
            warnings = true;
        }
    }
    job.progress = static_cast<int>(done * 100 / job.chunks.size());
    if (done == job.chunks.size()) {
        job.status = warnings ? JobStatus::kCompletedWithWarnings : JobStatus::kCompleted;
    } else if (job.status == JobStatus::kCompleted ||
               job.status == JobStatus::kCompletedWithWarnings) {
        job.status = JobStatus::kOnQueue;
    }
}

// Takes the node off its chunk, which goes back to the queue unless the caller settles it.
void ReleaseNode(Farm& farm, Node& node, bool requeue = true) {
    if (node.jobId != 0) {
        if (Job* job = FindJob(farm, node.jobId)) {
            for (Chunk& chunk : job->chunks) {
                if (!requeue || chunk.id != node.chunkId || chunk.status != ChunkStatus::kSent)
                    continue;
                ResetChunk(chunk);
                ++chunk.requeued;
                ++job->requeued;
            }
            if (job->workingNodes > 0) --job->workingNodes;
            UpdateJobFromChunks(*job);
        }
    }
    node.jobId = 0;
    node.chunkId = 0;
    node.jobName.clear();
    node.chunkFrames.clear();
    node.chunkRange.clear();
    node.renderStatus.clear();
}

// Nodes working on the chunk: (job, chunk), or on any chunk of the job when `chunk` is -1.
void ReleaseNodesOn(Farm& farm, long jobId, long chunkId, int status, bool requeue = true) {
    for (Node& node : farm.nodes) {
        if (node.jobId != jobId || (chunkId != -1 && node.chunkId != chunkId)) continue;
        ReleaseNode(farm, node, requeue);
        if (status != 0) node.status = status;
    }
}

bool IsWithin(const Farm& farm, long id, long ancestor) {
    // Bounded by the job count, so a parent loop already in the farm cannot hang us.
    for (size_t steps = 0; id != -1 && steps <= farm.jobs.size(); ++steps) {
        if (id == ancestor) return true;
        const Job* job = farm.FindJob(id);
        if (job == nullptr) return false;
        id = job->parent;
    }
    return false;
}

// -1 (the top) or an existing folder.
bool IsFolderOrTop(const Farm& farm, long id) {
    if (id == -1) return true;
    const Job* folder = farm.FindJob(id);
    return folder != nullptr && folder->type == 1;
}

void ControlNode(Farm& farm, unsigned char code, Node& node) {
    if (code == Code::kNodeResume) {
        node.status = NodeStatus::kIdle;
        return;
    }
    // Every other node command stops what the node renders: the chunk goes back to the queue.
    ReleaseNode(farm, node);
    const bool pauses = code == Code::kNodePause || code == Code::kNodeKillPause;
    node.status = pauses ? NodeStatus::kPaused : NodeStatus::kIdle;
    if (code == Code::kNodeKillReinit || code == Code::kNodeSoftRestart) {
        node.cpuUsage.clear();
        node.ramUsage.clear();
        node.scheduledPause = 0;
    }
}

void ReinitJob(Farm& farm, Job& job) {
    ReleaseNodesOn(farm, job.id, -1, 0);
    for (Chunk& chunk : job.chunks)
        ResetChunk(chunk);
    job.status = JobStatus::kOnQueue;
    job.progress = 0;
    job.startTime = 0;
    job.endTime = 0;
    job.workingNodes = 0;
}

void DeleteJob(Farm& farm, long id) {
    Job* job = FindJob(farm, id);
    ReleaseNodesOn(farm, id, -1, 0);
    const long parent = job->parent;
    // What a deleted folder held moves up a level rather than vanishing with it.
    for (Job& child : farm.jobs)
        if (child.parent == id) child.parent = parent;
    farm.jobs.erase(std::remove_if(farm.jobs.begin(), farm.jobs.end(),
                                   [id](const Job& each) { return each.id == id; }),
                    farm.jobs.end());
}

// The job commands whose payload is "job\ntext\n" and what they set.
std::string* TextField(Job& job, unsigned char code) {
    switch (code) {
        case Code::kJobRename:
            return &job.name;
        case Code::kJobDepend:
            return &job.depend;
        case Code::kJobNotes:
            return &job.notes;
        case Code::kJobProject:
            return &job.group;
        case Code::kJobDepartment:
            return &job.department;
        default:
            return nullptr;
    }
}

// False when the command's argument does not fit the job.
bool ControlJob(Farm& farm, unsigned char code, Job& job, const std::vector<std::string>& lines) {
    if (std::string* field = TextField(job, code)) {
        *field = LineOf(lines, 2);
        return true;
    }
    int number = 0;
    switch (code) {
        case Code::kJobPause:
            job.paused = true;
            return true;
        case Code::kJobResume:
            job.paused = false;
            return true;
        case Code::kJobReinit:
            ReinitJob(farm, job);
            return true;
        case Code::kJobPriority:
            if (!ParseInt(LineOf(lines, 2), number)) return false;
            job.priority = number;
            return true;
        case Code::kJobMaxNodes:
            if (!ParseInt(LineOf(lines, 2), number) || number < 0) return false;
            job.maxNodes = number;
            return true;
        case Code::kJobPool:
            job.pool = LineOf(lines, 1);
            return true;
        case Code::kJobDelete:
            DeleteJob(farm, job.id);
            return true;
        case Code::kJobParent: {
            long parent = 0;
            // A folder cannot move into itself or below itself.
            if (!ParseLong(LineOf(lines, 1), parent) || !IsFolderOrTop(farm, parent) ||
                IsWithin(farm, parent, job.id))
                return false;
            job.parent = parent;
            return true;
        }
        case Code::kJobUnlock:
        case Code::kJobLock:
            job.locked = code == Code::kJobLock;
            return true;
        case Code::kJobArchive:
        case Code::kJobUnarchive:
            job.archived = code == Code::kJobArchive;
            return true;
        case Code::kJobNodesKillPause:
        case Code::kJobNodesKillRedo:
            ReleaseNodesOn(
                farm, job.id, -1,
                code == Code::kJobNodesKillPause ? NodeStatus::kPaused : NodeStatus::kIdle);
            return true;
        default:
            return false;
    }
}

void ControlChunk(Farm& farm, unsigned char code, Job& job, Chunk& chunk) {
    ReleaseNodesOn(farm, job.id, chunk.id, NodeStatus::kIdle, false);
    if (code == Code::kChunkRequeue) {
        ResetChunk(chunk);
        ++chunk.requeued;
        ++job.requeued;
    } else {
        chunk.status = ChunkStatus::kCompleted;
        chunk.endTime = static_cast<long>(std::time(nullptr));
        if (chunk.startTime == 0) chunk.startTime = chunk.endTime;
    }
    UpdateJobFromChunks(job);
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

bool ParseFlag(const std::string& text, bool& flag) {
    int value = 0;
    if (!ParseInt(text, value)) return false;
    flag = value != 0;
    return true;
}

// Reads the 28-line record into `job`, leaving identity, state and chunks alone.
bool ReadJobRecord(const std::vector<std::string>& lines, Job& job, std::string& why) {
    int packetType = 0, engine = 0, priority = 0, instances = 0, packetSize = 0, timeout = 0;
    long parent = 0;
    bool skipErrors = false, overrideTimeout = false;
    if (!ParseInt(LineOf(lines, 1), packetType) || !ParseInt(LineOf(lines, 2), engine) ||
        !ParseInt(LineOf(lines, 3), priority) || !ParseInt(LineOf(lines, 4), instances) ||
        !ParseInt(LineOf(lines, 9), packetSize) || !ParseFlag(LineOf(lines, 11), skipErrors) ||
        !ParseLong(LineOf(lines, 12), parent) || !ParseFlag(LineOf(lines, 23), overrideTimeout) ||
        (overrideTimeout && !ParseInt(LineOf(lines, 24), timeout))) {
        why = "a number of the job record does not read";
        return false;
    }
    std::vector<std::pair<std::string, Attribute>> attributes;
    std::string block;
    if (!DecodeBase64(LineOf(lines, 25), block)) {
        why = "the properties block is not Base64";
        return false;
    }
    if (!ParseAttributeBlock(block, attributes)) {
        why = "too many properties";
        return false;
    }
    job.packetType = packetType;
    job.engine = engine;
    job.priority = priority;
    job.maxInstances = instances;
    job.name = LineOf(lines, 7);
    job.packetSize = packetSize;
    job.pool = LineOf(lines, 10);
    job.skipErrors = skipErrors;
    job.parent = parent;
    job.depend = LineOf(lines, 14);
    job.mail = LineOf(lines, 16);
    if (overrideTimeout) job.chunkTimeout = timeout;
    job.attributes = std::move(attributes);
    job.group = LineOf(lines, 27);
    job.department = LineOf(lines, 28);
    return true;
}

Replies SubmitJob(const Context& context, const Session& session, unsigned char code,
                  const std::vector<std::string>& lines) {
    Farm& farm = *context.farm;
    if (lines.size() < static_cast<size_t>(kJobRecordLines))
        return {Refusal(Code::kRefused, "the job record is cut short")};
    Job* edited = nullptr;
    if (code == Code::kEditJob) {
        long id = 0;
        if (!ParseLong(LineOf(lines, 8), id)) return {Refusal(Code::kRefused, "no job ID")};
        edited = FindJob(farm, id);
        if (edited == nullptr || edited->type != 0)
            return {Refusal(Code::kRefusedContent, "no job " + std::to_string(id))};
        if (edited->locked) return {Refusal(Code::kRefusedContent, "the job is locked")};
    } else if (farm.jobs.size() >= kMaxJobs) {
        return {Refusal(Code::kRefusedContent, "the farm is full")};
    }
    Job job = edited != nullptr ? *edited : Job();
    std::string why;
    if (!ReadJobRecord(lines, job, why)) return {Refusal(Code::kRefused, why)};
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

Replies SubmitFolder(const Context& context, const Session& session,
                     const std::vector<std::string>& lines) {
    Farm& farm = *context.farm;
    Job folder;
    long parent = 0;
    int priority = 0;
    if (!ParseLong(LineOf(lines, 1), parent) || !ParseInt(LineOf(lines, 3), priority))
        return {Refusal(Code::kRefused, "a number of the folder does not read")};
    folder.name = LineOf(lines, 2);
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
    const std::vector<std::string> lines = SplitLines(block);
    // A block may repeat one name many times; the look-up keeps that linear.
    std::unordered_map<std::string, size_t> index;
    attributes.clear();
    for (size_t first = 0; first < lines.size() && !lines[first].empty(); first += 4) {
        Attribute attribute;
        attribute.value = LineOf(lines, first + 2);
        // A missing or unreadable flag counts as clear.
        bool flag = false;
        attribute.specified = ParseFlag(LineOf(lines, first + 3), flag) && flag;
        flag = false;
        attribute.pathSubstitution = ParseFlag(LineOf(lines, first + 4), flag) && flag;
        const auto [at, added] = index.emplace(lines[first], attributes.size());
        if (!added) {
            attributes[at->second].second = std::move(attribute);
            continue;
        }
        if (attributes.size() >= kMaxAttributes) return false;
        attributes.emplace_back(lines[first], std::move(attribute));
    }
    return true;
}

bool ChangesFarm(unsigned char code) {
    return TargetOf(code) != Target::kNone || code == Code::kSelectionLogic ||
           code == Code::kPasswordChange || code == Code::kStatisticsReset ||
           code == Code::kNewJob || code == Code::kEditJob || code == Code::kNewFolder;
}

void HandleControl(const Context& context, unsigned char code, const std::string& payload,
                   std::string* note) {
    Farm& farm = *context.farm;
    const std::vector<std::string> lines = SplitLines(payload);
    const Target target = TargetOf(code);
    // The pool command names the job on its second line; the parent command too.
    const size_t idLine = code == Code::kJobPool || code == Code::kJobParent ? 2 : 1;
    long id = 0;
    if (!ParseLong(LineOf(lines, idLine), id)) {
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
        if (ParseLong(LineOf(lines, 2), chunkId))
            for (Chunk& each : job->chunks)
                if (each.id == chunkId) chunk = &each;
        if (chunk == nullptr) return Note(note, "job " + std::to_string(id) + " has no such chunk");
        ControlChunk(farm, code, *job, *chunk);
        return;
    }
    if (!ControlJob(farm, code, *job, lines))
        Note(note, "job " + std::to_string(id) + ": argument refused");
}

Replies HandlePasswordChange(const Context& context, const Session& session,
                             const std::string& payload) {
    std::string before;
    std::string after;
    User* user = nullptr;
    for (User& each : context.farm->users)
        if (each.name == session.user) user = &each;
    const bool accepted = user != nullptr && session.loginResult == user->loginResult &&
                          DecodeBase64(GetLine(payload, 1), before) &&
                          DecodeBase64(GetLine(payload, 2), after) && before == user->password;
    if (accepted) user->password = after;
    return {{Code::kPasswordResult, accepted ? "1\n" : "0\n"}};
}

Replies HandleSubmission(const Context& context, const Session& session, unsigned char code,
                         const std::string& payload) {
    if (context.settings->refuseSubmissions)
        return {Refusal(Code::kRefusedContent, "submissions are refused")};
    const std::vector<std::string> lines = SplitLines(payload);
    if (code == Code::kNewFolder) return SubmitFolder(context, session, lines);
    return SubmitJob(context, session, code, lines);
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
        case Code::kEditJob:
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
