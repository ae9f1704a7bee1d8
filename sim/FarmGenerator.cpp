// The generator of large synthetic farms for load tests and benchmarks: deterministic for a seed,
// with every code of the tool's tables represented and the records agreeing with each other.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <set>
#include <string>

#include "FarmModel.h"

namespace zdsim {

namespace {

constexpr long kEpoch = 1717000000;  // fixed, so that a seed gives the same farm every time

struct Weighted {
    int code;
    int weight;
};

class Chooser {
public:
    explicit Chooser(uint32_t seed) : random_(seed) {}

    // 0 to n - 1.
    int Below(int n) { return n <= 1 ? 0 : static_cast<int>(Draw() % static_cast<uint64_t>(n)); }
    size_t Index(size_t n) { return n <= 1 ? 0 : static_cast<size_t>(Draw() % n); }
    bool OneIn(int n) { return Below(n) == 0; }

    template <size_t N>
    int Pick(const Weighted (&table)[N]) {
        int total = 0;
        for (const Weighted& w : table)
            total += w.weight;
        int at = Below(total);
        for (const Weighted& w : table) {
            if (at < w.weight) return w.code;
            at -= w.weight;
        }
        return table[N - 1].code;
    }

private:
    uint64_t Draw() { return uint64_t{random_()} << 32 | random_(); }

    std::mt19937 random_;
};

const Weighted kJobStatuses[] = {
    {JobStatus::kOnQueue, 20},
    {JobStatus::kStarted, 18},
    {JobStatus::kStartedWithWarnings, 4},
    {JobStatus::kPreJobAction, 2},
    {JobStatus::kPostJobAction, 2},
    {JobStatus::kPreJobActionPending, 2},
    {JobStatus::kPostJobActionPending, 2},
    {JobStatus::kCompleted, 42},
    {JobStatus::kCompletedWithWarnings, 8},
};

const Weighted kNodeStatuses[] = {
    {NodeStatus::kIdle, 20},     {NodeStatus::kPaused, 6},
    {NodeStatus::kCompleted, 3}, {NodeStatus::kInProgress, 42},
    {NodeStatus::kStarting, 2},  {NodeStatus::kPreChunk, 2},
    {NodeStatus::kPostChunk, 2}, {NodeStatus::kStreamingTemplates, 2},
    {NodeStatus::kKilled, 2},    {NodeStatus::kUnavailableByTimetable, 4},
    {NodeStatus::kLogged, 3},    {NodeStatus::kOffline, 12},
};

const Weighted kNodeSystems[] = {
    {NodeOs::kLinux, 70},
    {NodeOs::kWindows, 20},
    {NodeOs::kOsX, 10},
};

const Weighted kLogTypes[] = {
    {LogType::kSystem, 40},
    {LogType::kUser, 30},
    {LogType::kClient, 20},
    {LogType::kError, 10},
};

// The sample templates' UIDs (examples/templates) and the packet type each renders with.
const Weighted kEngines[] = {{110, 45}, {120, 15}, {130, 10}, {140, 5}, {150, 25}};

int PacketTypeOf(int engine) {
    switch (engine) {
        case 120:
            return PacketType::kSingleHost;
        case 130:
            return PacketType::kImageSlicing;
        case 140:
            return PacketType::kBroadcast;
        default:
            return PacketType::kMultiframe;
    }
}

const char* RenderStatusText(int status) {
    switch (status) {
        case NodeStatus::kIdle:
            return "Idle";
        case NodeStatus::kPaused:
            return "Paused";
        case NodeStatus::kCompleted:
            return "Chunk completed";
        case NodeStatus::kInProgress:
            return "Rendering";
        case NodeStatus::kStarting:
            return "Starting";
        case NodeStatus::kPreChunk:
            return "Running pre-chunk action";
        case NodeStatus::kPostChunk:
            return "Running post-chunk action";
        case NodeStatus::kStreamingTemplates:
            return "Receiving templates";
        case NodeStatus::kKilled:
            return "Process killed";
        case NodeStatus::kUnavailableByTimetable:
            return "Unavailable by timetable";
        case NodeStatus::kLogged:
            return "User logged in";
        default:
            return "Offline";
    }
}

const char* const kProjects[] = {"Aurora", "Borealis", "Cirrus", "Dune", "Ember"};
const char* const kDepartments[] = {"lighting", "fx", "comp", "layout", "anim", "it"};
const char* const kLayers[] = {"beauty", "shadow", "volume", "crypto", "depth"};

// Appends `value` in decimal, zero-padded to `width` digits, as "%0*ld" prints it. Formatting
// a million job names through printf costs a good part of the start-up.
void AppendPadded(std::string& out, long value, int width) {
    if (value < 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%0*ld", width, value);
        out += text;
        return;
    }
    char text[48];
    char* const end = text + sizeof text;
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (end - first < width && first > text)
        *--first = '0';
    out.append(first, end);
}

std::string Padded(long value, int width) {
    std::string text;
    AppendPadded(text, value, width);
    return text;
}

std::string LogTime(long seconds) {
    const time_t t = static_cast<time_t>(seconds);
    tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &parts);
    return text;
}

// The first free number above every id of `items`.
template <typename T>
long NextId(const std::vector<T>& items) {
    long highest = 0;
    for (const T& item : items)
        highest = std::max(highest, item.id);
    return highest + 1;
}

// A name built from `stem` that no entry of `taken` has; taken gets it.
std::string FreeName(const std::string& stem, std::set<std::string>& taken) {
    std::string name = stem;
    for (int extra = 2; taken.count(name) != 0; ++extra)
        name = stem + "-" + std::to_string(extra);
    taken.insert(name);
    return name;
}

class Generator {
public:
    Generator(Farm& farm, const GeneratorSpec& spec) : farm_(farm), spec_(spec), pick_(spec.seed) {}

    void Run() {
        const size_t firstNode = farm_.nodes.size();
        AddNodes();
        AddPools(firstNode);
        const size_t firstJob = farm_.jobs.size();
        AddJobs(firstNode);
        AssignRenderingNodes(firstNode, firstJob);
        AddLogs(firstNode, firstJob);
    }

private:
    void AddNodes() {
        if (spec_.nodes <= 0) return;
        std::set<std::string> names;
        for (const Node& node : farm_.nodes)
            names.insert(node.name);
        const long first = NextId(farm_.nodes);
        farm_.nodes.reserve(farm_.nodes.size() + static_cast<size_t>(spec_.nodes));
        for (long i = 0; i < spec_.nodes; ++i) {
            Node node;
            node.id = first + i;
            node.name = FreeName("rn" + Padded(node.id, 5), names);
            const long host = i + 1;
            node.ip = "10." + std::to_string(100 + (host >> 16) % 150) + "." +
                      std::to_string((host >> 8) & 255) + "." + std::to_string(host & 255);
            node.os = pick_.Pick(kNodeSystems);
            static const int processors[] = {8, 16, 24, 32, 64};
            node.processors = processors[pick_.Below(5)];
            node.status = pick_.Pick(kNodeStatuses);
            node.renderStatus = RenderStatusText(node.status);
            const bool busy = node.status == NodeStatus::kInProgress;
            const bool reachable = node.status != NodeStatus::kOffline;
            node.cpuUsage =
                reachable ? std::to_string(busy ? 80 + pick_.Below(21) : pick_.Below(6)) + "%" : "";
            node.ramUsage = reachable
                                ? std::to_string(busy ? 8 + pick_.Below(100) : 1 + pick_.Below(3)) +
                                      "." + std::to_string(pick_.Below(10)) + " GB"
                                : "";
            node.processPriority = pick_.OneIn(4) ? 10 : 0;
            node.scheduledPause = node.status == NodeStatus::kPaused && pick_.OneIn(2) ? 1 : 0;
            node.supportMask = "0x1F";
            node.version = pick_.OneIn(10) ? 615 : 616;
            node.realtimeLog = pick_.OneIn(10) ? 1 : 0;
            node.priority = pick_.Below(3);
            if (pick_.OneIn(25)) node.notes = "Scheduled for a memory upgrade";
            farm_.nodes.push_back(std::move(node));
        }
    }

    // Nodes go round the pools, every fifth one also into the next pool; the last pool is empty.
    void AddPools(size_t firstNode) {
        const size_t nodes = farm_.nodes.size() - firstNode;
        if (nodes == 0) return;
        std::set<std::string> names;
        for (const Pool& pool : farm_.pools)
            names.insert(pool.name);
        const size_t count = std::min<size_t>(8, 1 + nodes / 10);
        const size_t first = farm_.pools.size();
        for (size_t p = 0; p < count; ++p)
            farm_.pools.push_back({FreeName("pool" + std::to_string(p + 1), names), {}});
        for (size_t n = 0; n < nodes; ++n) {
            const std::string& name = farm_.nodes[firstNode + n].name;
            farm_.pools[first + n % count].members.push_back(name);
            if (count > 1 && n % 5 == 0)
                farm_.pools[first + (n + 1) % count].members.push_back(name);
        }
        farm_.pools.push_back({FreeName("spare", names), {}});
    }

    // Chunk statuses follow the job's: on hold until it starts, a mix while it runs, done after.
    int ChunkStatusFor(int jobStatus, long index, long count) {
        switch (jobStatus) {
            case JobStatus::kOnQueue:
            case JobStatus::kPreJobActionPending:
            case JobStatus::kPreJobAction:
                return ChunkStatus::kOnHold;
            case JobStatus::kCompleted:
            case JobStatus::kPostJobAction:
            case JobStatus::kPostJobActionPending:
                return ChunkStatus::kCompleted;
            case JobStatus::kCompletedWithWarnings:
                return index % 3 == 2 ? ChunkStatus::kCompletedWithWarnings
                                      : ChunkStatus::kCompleted;
            default: {
                // Started: the first third done, the next third sent, the rest on hold.
                const long done = count / 3;
                if (index < done)
                    return jobStatus == JobStatus::kStartedWithWarnings && index % 2 == 1
                               ? ChunkStatus::kCompletedWithWarnings
                               : ChunkStatus::kCompleted;
                if (index < done + std::max(1L, count / 3)) return ChunkStatus::kSent;
                return ChunkStatus::kOnHold;
            }
        }
    }

    // A generated node's name (any node's when none was generated; empty without nodes).
    PooledText SomeNode(size_t firstNode) {
        if (farm_.nodes.empty()) return PooledText();
        const size_t from = firstNode < farm_.nodes.size() ? firstNode : 0;
        return nodeNames_[from + pick_.Index(farm_.nodes.size() - from)];
    }

    // The texts that jobs and chunks repeat, interned once here rather than once per record.
    void InternTexts() {
        for (const char* project : kProjects)
            projects_.emplace_back(project);
        for (const char* department : kDepartments)
            departments_.emplace_back(department);
        for (int artist = 1; artist <= 40; ++artist) {
            const std::string name = "artist" + std::to_string(artist);
            artists_.emplace_back(name);
            mails_.emplace_back(name + "@studio.example");
        }
        for (const Pool& pool : farm_.pools)
            pools_.emplace_back(pool.name);
        for (const Node& node : farm_.nodes)
            nodeNames_.emplace_back(node.name);
        completed_ = "OK";
        completedWithWarnings_ = "Completed with warnings";
    }

    void AddJobs(size_t firstNode) {
        if (spec_.jobs <= 0) return;
        const long first = NextId(farm_.jobs);
        farm_.jobs.reserve(farm_.jobs.size() + static_cast<size_t>(spec_.jobs));
        InternTexts();
        const PooledText rerender("Rerender after review");
        long folder = -1;     // the folder that the next jobs go into, -1 for none
        long folderLeft = 0;  // jobs still to go into it
        for (long i = 0; i < spec_.jobs; ++i) {
            Job job;
            job.id = first + i;
            const int projectIndex = pick_.Below(5);
            const char* project = kProjects[projectIndex];
            job.group = projects_[static_cast<size_t>(projectIndex)];
            job.submitTime = kEpoch + i * 37;
            const int artist = pick_.Below(40);
            job.submitter = artists_[static_cast<size_t>(artist)];
            // Every 25th record is a folder; every third folder sits inside the previous one.
            if (i % 25 == 0) {
                job.type = 1;
                job.name.assign(project).append("_seq");
                AppendPadded(job.name, i / 25 + 1, 3);
                job.parent = (i / 25) % 3 == 2 ? folder : -1;  // `folder` is still the previous one
                job.status = JobStatus::kOnQueue;
                job.locked = pick_.OneIn(8);
                folder = job.id;
                folderLeft = 12;
                farm_.jobs.push_back(std::move(job));
                continue;
            }
            if (folderLeft > 0) {
                job.parent = folder;
                --folderLeft;
            }
            job.engine = pick_.Pick(kEngines);
            job.packetType = PacketTypeOf(job.engine);
            job.status = pick_.Pick(kJobStatuses);
            job.name.assign("sh");
            AppendPadded(job.name, job.id % 100000, 5);
            job.name.append("_").append(kLayers[pick_.Below(5)]);
            job.priority = 50 + pick_.Below(101);
            job.department = departments_[static_cast<size_t>(pick_.Below(6))];
            const bool finished = job.status == JobStatus::kCompleted ||
                                  job.status == JobStatus::kCompletedWithWarnings;
            const bool waiting =
                job.status == JobStatus::kOnQueue || job.status == JobStatus::kPreJobActionPending;
            if (!waiting) job.startTime = job.submitTime + 30 + pick_.Below(600);
            if (finished) job.endTime = job.startTime + 60 + pick_.Below(36000);
            job.progress = finished ? 100 : waiting ? 0 : 5 + pick_.Below(90);
            job.paused = !finished && pick_.OneIn(12);
            job.locked = pick_.OneIn(15);
            job.archived = finished && pick_.OneIn(4);
            job.skipErrors = pick_.OneIn(6);
            job.requeued = pick_.OneIn(20) ? 1 + pick_.Below(3) : 0;
            job.maxNodes = pick_.OneIn(4) ? 0 : 1 + pick_.Below(16);
            if (job.status == JobStatus::kStarted || job.status == JobStatus::kStartedWithWarnings)
                job.workingNodes = 1 + pick_.Below(job.maxNodes > 0 ? job.maxNodes : 8);
            job.maxInstances = pick_.OneIn(5) ? 2 : 1;
            job.packetSize = job.packetType == PacketType::kMultiframe     ? 1 + pick_.Below(10)
                             : job.packetType == PacketType::kImageSlicing ? 4
                                                                           : 1;
            if (!pools_.empty() && !pick_.OneIn(3)) job.pool = pools_[pick_.Index(pools_.size())];
            if (i > 1 && pick_.OneIn(10)) job.depend = std::to_string(job.id - 1);
            if (pick_.OneIn(20)) job.notes = rerender;
            if (pick_.OneIn(30)) job.mail = mails_[static_cast<size_t>(artist)];
            if (pick_.OneIn(8)) job.chunkTimeout = 60;
            AddAttributes(job, project);
            AddChunks(job, firstNode);
            farm_.jobs.push_back(std::move(job));
        }
    }

    void AddAttributes(Job& job, const char* project) {
        const bool slices = job.packetType == PacketType::kImageSlicing;
        const bool frames = job.packetType == PacketType::kMultiframe || slices;
        const long chunks = frames ? std::max(0L, spec_.chunksPerJob) : 0;
        // Built in buffers that live as long as the generator, then copied at their final size.
        AttributeList& list = attributes_;
        list.clear();
        std::string& value = value_;
        auto add = [&list](const char* name, std::string_view text, bool specified, bool paths) {
            list.Append(name, text, specified, paths);
        };
        if (frames) {
            const long last = slices ? 1001 : 1001 + std::max(1L, chunks) * job.packetSize - 1;
            add("start_frame", "1001", true, false);
            value.clear();
            AppendPadded(value, last, 1);
            add("end_frame", value, true, false);
            add("by_frame", "1", true, false);
        }
        value.assign("/projects/")
            .append(project)
            .append("/shots/")
            .append(job.name)
            .append(".scene");
        add("job_file", value, true, true);
        if (job.packetType != PacketType::kBroadcast) {
            value.assign("/projects/").append(project);
            add("job_project", value, true, true);
            value.assign("/renders/").append(project).append("/").append(job.name);
            add("output_folder", value, true, true);
            add("x_res", slices ? "8000" : "2048", true, false);
            add("y_res", slices ? "6000" : "858", true, false);
        }
        if (slices) {
            add("as_overlap", "8", true, false);
            add("ratio", "1.333", true, false);
            add("remove_slices", pick_.OneIn(2) ? "1" : "0", true, false);
        }
        // Attributes that only a template defines, one of them left at its default.
        value.assign("SH");
        AppendPadded(value, job.id % 10000, 1);
        add("shot_code", value, true, false);
        if (pick_.OneIn(3)) add("render_layer", kLayers[pick_.Below(5)], true, false);
        if (pick_.OneIn(5)) add("denoise", "0", false, false);
        job.attributes = list;
    }

    void AddChunks(Job& job, size_t firstNode) {
        const bool slices = job.packetType == PacketType::kImageSlicing;
        if (!(slices || job.packetType == PacketType::kMultiframe) || spec_.chunksPerJob <= 0)
            return;
        const long count = spec_.chunksPerJob;
        job.chunks.reserve(static_cast<size_t>(count));
        for (long c = 0; c < count; ++c) {
            Chunk chunk;
            chunk.id = c + 1;
            chunk.startFrame = slices ? 1001 : 1001 + static_cast<double>(c * job.packetSize);
            chunk.endFrame = slices ? 1001 : chunk.startFrame + job.packetSize - 1;
            chunk.status = ChunkStatusFor(job.status, c, count);
            if (chunk.status != ChunkStatus::kOnHold) {
                chunk.startTime = job.startTime + c * 20;
                chunk.renderBy = SomeNode(firstNode);
            }
            if (chunk.status == ChunkStatus::kCompleted ||
                chunk.status == ChunkStatus::kCompletedWithWarnings) {
                chunk.endTime = chunk.startTime + 40 + pick_.Below(900);
                chunk.result =
                    chunk.status == ChunkStatus::kCompleted ? completed_ : completedWithWarnings_;
            }
            chunk.requeued = pick_.OneIn(25) ? 1 : 0;
            job.chunks.push_back(std::move(chunk));
        }
    }

    // Rendering nodes take the sent chunks, so that both listings tell the same story.
    void AssignRenderingNodes(size_t firstNode, size_t firstJob) {
        size_t job = firstJob;
        size_t chunk = 0;
        for (size_t n = firstNode; n < farm_.nodes.size(); ++n) {
            Node& node = farm_.nodes[n];
            if (node.status != NodeStatus::kInProgress) continue;
            // The next sent chunk, going round the generated jobs once.
            bool found = false;
            for (; job < farm_.jobs.size() && !found; ++job, chunk = 0) {
                std::vector<Chunk>& chunks = farm_.jobs[job].chunks;
                for (; chunk < chunks.size(); ++chunk) {
                    if (chunks[chunk].status == ChunkStatus::kSent) {
                        found = true;
                        break;
                    }
                }
                if (found) break;
            }
            if (!found) return;
            Job& owner = farm_.jobs[job];
            Chunk& sent = owner.chunks[chunk++];
            sent.renderBy = node.name;
            node.jobId = owner.id;
            node.chunkId = sent.id;
            node.jobName = owner.name;
            char range[96];
            std::snprintf(range, sizeof range, "%.3f-%.3f", sent.startFrame, sent.endFrame);
            node.chunkFrames = range;
            std::snprintf(range, sizeof range, "%ld-%ld", static_cast<long>(sent.startFrame),
                          static_cast<long>(sent.endFrame));
            node.chunkRange = range;
            node.logPath = "/var/log/farm/" + node.name + ".log";
        }
    }

    void AddLogs(size_t firstNode, size_t firstJob) {
        if (spec_.logs <= 0) return;
        farm_.logs.reserve(farm_.logs.size() + static_cast<size_t>(spec_.logs));
        for (long l = 0; l < spec_.logs; ++l) {
            LogEntry log;
            log.type = pick_.Pick(kLogTypes);
            log.time = LogTime(kEpoch + l * 53);
            const bool anyNode = farm_.nodes.size() > firstNode;
            const Node* node = anyNode
                                   ? &farm_.nodes[firstNode + static_cast<size_t>(l) %
                                                                  (farm_.nodes.size() - firstNode)]
                                   : nullptr;
            const Job* job =
                farm_.jobs.size() > firstJob
                    ? &farm_
                           .jobs[firstJob + static_cast<size_t>(l) % (farm_.jobs.size() - firstJob)]
                    : nullptr;
            const std::string jobText = job != nullptr ? std::to_string(job->id) : "0";
            switch (log.type) {
                case LogType::kSystem:
                    log.text = "Statistics saved";
                    log.host = farm_.host;
                    log.ip = "127.0.0.1";
                    log.user = "system";
                    break;
                case LogType::kUser:
                    log.text = "Job " + jobText + " submitted";
                    log.host = "ws" + Padded(1 + l % 40, 3);
                    log.ip = "10.20.0." + std::to_string(1 + l % 40);
                    log.user = job != nullptr ? job->submitter : "admin";
                    break;
                case LogType::kClient:
                    log.text = node != nullptr ? node->name + " connected" : "A node connected";
                    log.host = node != nullptr ? node->name : "";
                    log.ip = node != nullptr ? node->ip : "";
                    log.user = "system";
                    break;
                default:
                    log.text = "Chunk of job " + jobText + " failed: exit code 1";
                    log.host = node != nullptr ? node->name : "";
                    log.ip = node != nullptr ? node->ip : "";
                    log.user = "system";
                    break;
            }
            farm_.logs.push_back(std::move(log));
        }
    }

    Farm& farm_;
    const GeneratorSpec& spec_;
    Chooser pick_;
    std::vector<PooledText> projects_, departments_, artists_, mails_, pools_, nodeNames_;
    PooledText completed_, completedWithWarnings_;
    AttributeList attributes_;
    std::string value_;
};

}  // namespace

void AppendGeneratedRecords(Farm& farm, const GeneratorSpec& spec) {
    Generator(farm, spec).Run();
    if (farm.FindUser("admin") == nullptr) farm.users.push_back({"admin", "admin", 0});
}

Farm GenerateFarm(const GeneratorSpec& spec) {
    Farm farm;
    farm.host = "dispatcher";
    farm.build = "synthetic";
    AppendGeneratedRecords(farm, spec);

    Statistics& stats = farm.statistics;
    stats.runningSince = kEpoch - 86400;
    stats.updatedOn = kEpoch + spec.jobs * 37;
    for (const Node& node : farm.nodes) {
        switch (node.status) {
            case NodeStatus::kInProgress:
            case NodeStatus::kStarting:
            case NodeStatus::kPreChunk:
            case NodeStatus::kPostChunk:
            case NodeStatus::kCompleted:
                ++stats.occupiedClients;
                break;
            case NodeStatus::kPaused:
                ++stats.pausedClients;
                break;
            case NodeStatus::kIdle:
            case NodeStatus::kStreamingTemplates:
            case NodeStatus::kLogged:
                ++stats.idleClients;
                break;
            default:
                ++stats.unavailableClients;
        }
    }
    stats.rcConnections = stats.occupiedClients + stats.pausedClients + stats.idleClients;
    stats.managementConnections = 2;
    stats.notificationConnections = 1;
    // Byte counts that grow with the farm, past 32 bits for large ones.
    const long long records = static_cast<long long>(farm.jobs.size() + farm.nodes.size()) + 1;
    stats.rcBytesIn = records * 48000;
    stats.rcBytesOut = records * 91000;
    stats.controlBytesIn = records * 900;
    stats.controlBytesOut = records * 52000;
    stats.notificationBytesIn = records * 40;
    stats.notificationBytesOut = records * 160;
    stats.totalBytesIn = stats.rcBytesIn + stats.controlBytesIn + stats.notificationBytesIn;
    stats.totalBytesOut = stats.rcBytesOut + stats.controlBytesOut + stats.notificationBytesOut;
    const double seconds = static_cast<double>(std::max(1LL, stats.updatedOn - stats.runningSince));
    auto kbs = [seconds](long long bytes) { return static_cast<double>(bytes) / 1024.0 / seconds; };
    stats.totalKbsIn = kbs(stats.totalBytesIn);
    stats.totalKbsOut = kbs(stats.totalBytesOut);
    stats.controlKbsIn = kbs(stats.controlBytesIn);
    stats.controlKbsOut = kbs(stats.controlBytesOut);
    stats.rcKbsIn = kbs(stats.rcBytesIn);
    stats.rcKbsOut = kbs(stats.rcBytesOut);
    stats.notificationKbsIn = kbs(stats.notificationBytesIn);
    stats.notificationKbsOut = kbs(stats.notificationBytesOut);
    return farm;
}

}  // namespace zdsim
