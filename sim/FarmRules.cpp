// The farm's rules for the commands a client sends: what each node, job and chunk command does
// to the farm, kept apart from the reading of the payloads.
#include "FarmRules.h"

#include <algorithm>
#include <ctime>

#include "MessageCodes.h"
#include "PayloadText.h"

namespace zdsim {

namespace Code = ::zdCode;

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

static void ResetChunk(Chunk& chunk) {
    chunk.status = ChunkStatus::kOnHold;
    chunk.renderBy.clear();
    chunk.startTime = 0;
    chunk.endTime = 0;
}

// Progress and status follow the chunks; a job without chunks keeps its own.
static void UpdateJobFromChunks(Job& job) {
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
static void ReleaseNode(Farm& farm, Node& node, bool requeue = true) {
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
static void ReleaseNodesOn(Farm& farm, long jobId, long chunkId, int status, bool requeue = true) {
    for (Node& node : farm.nodes) {
        if (node.jobId != jobId || (chunkId != -1 && node.chunkId != chunkId)) continue;
        ReleaseNode(farm, node, requeue);
        if (status != 0) node.status = status;
    }
}

static bool IsWithin(const Farm& farm, long id, long ancestor) {
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

static void ReinitJob(Farm& farm, Job& job) {
    ReleaseNodesOn(farm, job.id, -1, 0);
    for (Chunk& chunk : job.chunks)
        ResetChunk(chunk);
    job.status = JobStatus::kOnQueue;
    job.progress = 0;
    job.startTime = 0;
    job.endTime = 0;
    job.workingNodes = 0;
}

static void DeleteJob(Farm& farm, long id) {
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

// The job commands whose payload is "job\ntext\n" and set a pooled text, and what they set.
static PooledText* TextField(Job& job, unsigned char code) {
    switch (code) {
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
bool ControlJob(Farm& farm, unsigned char code, Job& job, std::string_view argument) {
    if (code == Code::kJobRename || code == Code::kJobDepend) {
        (code == Code::kJobRename ? job.name : job.depend) = std::string(argument);
        return true;
    }
    if (PooledText* field = TextField(job, code)) {
        *field = argument;
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
            if (!zdProtocol::ParseStrictInt(argument, number)) return false;
            job.priority = number;
            return true;
        case Code::kJobMaxNodes:
            if (!zdProtocol::ParseStrictInt(argument, number) || number < 0) return false;
            job.maxNodes = number;
            return true;
        case Code::kJobPool:
            job.pool = argument;
            return true;
        case Code::kJobDelete:
            DeleteJob(farm, job.id);
            return true;
        case Code::kJobParent: {
            long parent = 0;
            // A folder cannot move into itself or below itself.
            if (!zdProtocol::ParseStrictLong(argument, parent) || !IsFolderOrTop(farm, parent) ||
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

}  // namespace zdsim
