// The simulated farm as plain data: users, the Dispatcher's identity, jobs with their chunks,
// nodes, pools, logs and statistics; loaded from JSON or generated.
#ifndef ZDSIM_FARMMODEL_H
#define ZDSIM_FARMMODEL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "CodeWords.h"
#include "Payloads.h"

namespace zdsim {

// The farm's code sets are the protocol's.
namespace JobStatus = ::JobStatus;
namespace PacketType = ::PacketType;
namespace NodeStatus = ::NodeStatus;
namespace NodeOs = ::NodeOs;
namespace ChunkStatus = ::ChunkStatus;
namespace LogType = ::LogType;

struct User {
    std::string name;
    std::string password;
    // What the login answers for this user with the right password: 0 normally; other values
    // let a farm exercise the tool's handling of unusual answers.
    int loginResult = 0;
};

// One job attribute: value and the property map's two flags.
struct Attribute {
    std::string value;
    bool specified = true;
    bool pathSubstitution = false;
};

struct Chunk {
    long id = 0;
    double startFrame = 1;
    double endFrame = 1;
    int byFrame = 1;
    long startTime = 0;
    long endTime = 0;
    std::string renderBy;
    std::string result;
    int status = ChunkStatus::kOnHold;
    int requeued = 0;
};

struct Job {
    long id = 0;
    std::string name;
    int type = 0;  // 0 job, 1 folder
    long parent = -1;
    int status = JobStatus::kOnQueue;
    int priority = 100;
    int packetType = PacketType::kMultiframe;
    int packetSize = 1;
    int engine = 0;  // template UID
    int maxNodes = 0;
    int workingNodes = 0;
    int maxInstances = 1;
    bool paused = false;
    bool locked = false;
    bool archived = false;
    bool skipErrors = false;
    long submitTime = 0;
    long startTime = 0;
    long endTime = 0;
    int progress = 0;
    int requeued = 0;
    std::string submitter;
    std::string pool;
    std::string depend;
    std::string group;
    std::string department;
    std::string notes;
    std::string mail;
    int chunkTimeout = 0;  // minutes, 0 = none
    // In file order: the order in which the attribute block lists them.
    std::vector<std::pair<std::string, Attribute>> attributes;
    std::vector<Chunk> chunks;
};

struct Node {
    long id = 0;
    std::string name;
    int os = 2;  // 1 Windows, 2 Linux, 4 OS X
    int processors = 1;
    std::string ip;
    std::string renderStatus;
    std::string cpuUsage;
    std::string ramUsage;
    int processPriority = 0;
    long jobId = 0;
    long chunkId = 0;
    int status = NodeStatus::kIdle;
    int scheduledPause = 0;
    std::string jobName;
    std::string chunkFrames;
    std::string chunkRange;
    std::string logPath;
    std::string supportMask;
    int version = 0;
    int realtimeLog = 0;
    int priority = 0;
    std::string notes;
};

struct Pool {
    std::string name;
    std::vector<std::string> members;  // node names
};

struct LogEntry {
    int type = 1;  // 1 System, 2 User, 4 Client, 8 Error
    std::string time;
    std::string text;
    std::string ip;
    std::string host;
    std::string user;
};

// The 32 values of the statistics text, in its line order, and their JSON keys.
using Statistics = zdProtocol::DispatcherStatistics;
using zdProtocol::StatisticsField;
// The 32 fields in the line order of the statistics text.
const std::vector<StatisticsField>& StatisticsFields();

struct Farm {
    std::string host = "dispatcher";
    std::string version = "6.1.6";
    std::string build = "0";
    int selectionLogic = 0;
    bool allowGuests = true;
    std::vector<User> users;
    std::vector<Job> jobs;
    std::vector<Node> nodes;
    std::vector<Pool> pools;
    std::vector<LogEntry> logs;
    Statistics statistics;

    const User* FindUser(const std::string& name) const;
    const Job* FindJob(long id) const;
    const Node* FindNode(long id) const;
    const Node* FindNodeByName(const std::string& name) const;
};

// Parses a farm from JSON text. Missing fields keep the defaults above; unknown fields, wrong
// types, duplicate ids and pool members that name no node are errors. On failure `farm` is
// untouched and `error` says where and why.
bool LoadFarm(const std::string& text, Farm& farm, std::string& error);
// The same from a file; the error names the file.
bool LoadFarmFile(const std::string& path, Farm& farm, std::string& error);

// Large, deterministic farms for load tests and benchmarks: every code of the status, packet,
// system and log tables occurs, with folders holding jobs, archived and locked jobs, custom
// attributes, pools and logs.
struct GeneratorSpec {
    long jobs = 100;        // folders included
    long chunksPerJob = 5;  // for multiframe and image-slicing jobs; the others have none
    long nodes = 50;
    long logs = 100;
    uint32_t seed = 1;
};
// A farm of generated records only, with the user "admin" (password "admin") and statistics
// that agree with its nodes.
Farm GenerateFarm(const GeneratorSpec& spec);
// Appends generated jobs, nodes, pools and logs to `farm`: ids follow the farm's highest ones and
// names are chosen not to clash, so a loaded farm keeps its records as they are. Adds the user
// "admin" when the farm has none of that name; the statistics stay the farm's.
void AppendGeneratedRecords(Farm& farm, const GeneratorSpec& spec);

}  // namespace zdsim

#endif
