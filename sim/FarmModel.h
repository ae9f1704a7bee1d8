// The simulated farm as plain data: users, the Dispatcher's identity, jobs with their chunks,
// nodes, pools, logs and statistics; loaded from JSON or generated.
#ifndef ZDSIM_FARMMODEL_H
#define ZDSIM_FARMMODEL_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <string>
#include <string_view>
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

// A text that many records repeat (users, pools, node names, projects): the records hold a
// pointer to one shared copy. Shared copies are kept for the life of the process, so this suits
// values drawn from a small set, not ones unique to each record.
class PooledText {
public:
    PooledText() = default;
    PooledText(std::string_view text) : text_(Intern(text)) {}  // NOLINT: stands in for a string
    PooledText(const std::string& text) : PooledText(std::string_view(text)) {}  // NOLINT
    PooledText(const char* text) : PooledText(std::string_view(text)) {}         // NOLINT

    const std::string& str() const { return text_ != nullptr ? *text_ : Empty(); }
    operator const std::string&() const { return str(); }  // NOLINT
    operator std::string_view() const { return str(); }    // NOLINT
    bool empty() const { return text_ == nullptr; }
    size_t size() const { return str().size(); }
    void clear() { text_ = nullptr; }

    friend bool operator==(const PooledText& a, const PooledText& b) { return a.text_ == b.text_; }
    friend bool operator!=(const PooledText& a, const PooledText& b) { return a.text_ != b.text_; }
    friend bool operator==(const PooledText& a, std::string_view b) { return a.str() == b; }
    friend bool operator==(std::string_view a, const PooledText& b) { return a == b.str(); }
    friend bool operator!=(const PooledText& a, std::string_view b) { return a.str() != b; }
    friend bool operator!=(std::string_view a, const PooledText& b) { return a != b.str(); }
    friend bool operator==(const PooledText& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const std::string& a, const PooledText& b) { return a == b.str(); }
    friend bool operator!=(const PooledText& a, const std::string& b) { return a.str() != b; }
    friend bool operator!=(const std::string& a, const PooledText& b) { return a != b.str(); }
    friend bool operator==(const PooledText& a, const char* b) { return a.str() == b; }
    friend bool operator==(const char* a, const PooledText& b) { return a == b.str(); }
    friend bool operator!=(const PooledText& a, const char* b) { return a.str() != b; }
    friend bool operator!=(const char* a, const PooledText& b) { return a != b.str(); }
    friend std::ostream& operator<<(std::ostream& out, const PooledText& text);

private:
    // The shared copy of `text`, or null for the empty text.
    static const std::string* Intern(std::string_view text);
    static const std::string& Empty();

    const std::string* text_ = nullptr;
};

// One job attribute: value and the property map's two flags.
struct Attribute {
    std::string value;
    bool specified = true;
    bool pathSubstitution = false;
};

// A job's attributes in order, packed into one buffer: a million generated jobs would otherwise
// spend more memory on the attributes' strings and vector slack than on everything else. Reads
// give copies; common names take one byte.
class AttributeList {
public:
    using value_type = std::pair<std::string, Attribute>;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = AttributeList::value_type;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = value_type;

        value_type operator*() const;
        const_iterator& operator++();
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator& other) const { return at_ == other.at_; }
        bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

    private:
        friend class AttributeList;
        const_iterator(const std::string* packed, size_t at) : packed_(packed), at_(at) {}
        const std::string* packed_;
        size_t at_;
    };

    AttributeList() = default;
    AttributeList(std::initializer_list<value_type> items) { Assign(items.begin(), items.end()); }
    AttributeList& operator=(std::initializer_list<value_type> items) {
        Assign(items.begin(), items.end());
        return *this;
    }
    AttributeList& operator=(const std::vector<value_type>& items) {
        Assign(items.begin(), items.end());
        return *this;
    }

    void emplace_back(std::string_view name, const Attribute& attribute) {
        Append(name, attribute.value, attribute.specified, attribute.pathSubstitution);
    }
    void Append(std::string_view name, std::string_view value, bool specified, bool paths);
    size_t size() const;
    bool empty() const { return packed_.empty(); }
    void clear() { packed_.clear(); }
    // Entry `index` (0-based, below size()); walks the list.
    value_type operator[](size_t index) const;
    const_iterator begin() const { return {&packed_, 0}; }
    const_iterator end() const { return {&packed_, packed_.size()}; }
    // Calls fn(name, value, specified, pathSubstitution) for each entry, in order, without
    // copying; the views last until the list changes.
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        Entry entry;
        for (size_t at = 0; at < packed_.size();) {
            at = Decode(packed_, at, entry);
            fn(entry.name, entry.value, entry.specified, entry.paths);
        }
    }
    // Gives back the slack that appending left.
    void ShrinkToFit() { packed_.shrink_to_fit(); }

private:
    struct Entry {
        std::string_view name;
        std::string_view value;
        bool specified = true;
        bool paths = false;
    };
    template <typename It>
    void Assign(It first, It last) {
        packed_.clear();
        for (; first != last; ++first)
            emplace_back(first->first, first->second);
    }
    // Reads the entry at `at` into `entry`; returns where the next one starts.
    static size_t Decode(const std::string& packed, size_t at, Entry& entry);

    std::string packed_;
};

struct Chunk {
    long id = 0;
    double startFrame = 1;
    double endFrame = 1;
    int byFrame = 1;
    long startTime = 0;
    long endTime = 0;
    PooledText renderBy;
    PooledText result;
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
    PooledText submitter;
    PooledText pool;
    std::string depend;
    PooledText group;
    PooledText department;
    PooledText notes;
    PooledText mail;
    int chunkTimeout = 0;  // minutes, 0 = none
    // In file order: the order in which the attribute block lists them.
    AttributeList attributes;
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
