// The farm model: lookups and the JSON loader with field-precise errors.
#include "FarmModel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

namespace zdsim {

using Json = nlohmann::ordered_json;

namespace {

// Names that most jobs carry, stored as their index; others are stored in full.
constexpr std::string_view kCommonNames[] = {
    "start_frame",   "end_frame", "by_frame",     "job_file",   "job_project",
    "output_folder", "x_res",     "y_res",        "as_overlap", "ratio",
    "remove_slices", "shot_code", "render_layer", "denoise",
};
constexpr unsigned char kSpecified = 1;
constexpr unsigned char kPaths = 2;
constexpr unsigned char kCommonName = 4;

// Writes n, 7 bits a byte, low bits first, and returns the bytes used (at most 10).
size_t PutLength(char* out, size_t n) {
    size_t used = 0;
    while (n >= 0x80) {
        out[used++] = static_cast<char>((n & 0x7F) | 0x80);
        n >>= 7;
    }
    out[used++] = static_cast<char>(n);
    return used;
}

size_t ReadLength(const std::string& in, size_t& at) {
    size_t n = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(in[at++]);
        n |= static_cast<size_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) return n;
    }
}

}  // namespace

void AttributeList::Append(std::string_view name, std::string_view value, bool specified,
                           bool paths) {
    // The bytes before the value are gathered first, so each entry costs few appends.
    char head[24];
    size_t used = 0;
    const unsigned char tag = (specified ? kSpecified : 0) | (paths ? kPaths : 0);
    const auto* common = std::find(std::begin(kCommonNames), std::end(kCommonNames), name);
    if (common != std::end(kCommonNames)) {
        head[used++] = static_cast<char>(tag | kCommonName);
        head[used++] = static_cast<char>(common - std::begin(kCommonNames));
    } else {
        head[used++] = static_cast<char>(tag);
        used += PutLength(head + used, name.size());
        packed_.append(head, used);
        packed_.append(name);
        used = 0;
    }
    used += PutLength(head + used, value.size());
    packed_.append(head, used);
    packed_.append(value);
}

size_t AttributeList::Decode(const std::string& packed, size_t at, Entry& entry) {
    const auto tag = static_cast<unsigned char>(packed[at++]);
    entry.specified = (tag & kSpecified) != 0;
    entry.paths = (tag & kPaths) != 0;
    if ((tag & kCommonName) != 0) {
        entry.name = kCommonNames[static_cast<unsigned char>(packed[at++])];
    } else {
        const size_t n = ReadLength(packed, at);
        entry.name = std::string_view(packed).substr(at, n);
        at += n;
    }
    const size_t n = ReadLength(packed, at);
    entry.value = std::string_view(packed).substr(at, n);
    return at + n;
}

size_t AttributeList::size() const {
    size_t count = 0;
    Entry entry;
    for (size_t at = 0; at < packed_.size(); at = Decode(packed_, at, entry))
        ++count;
    return count;
}

AttributeList::value_type AttributeList::operator[](size_t index) const {
    const_iterator it = begin();
    for (; index > 0; --index)
        ++it;
    return *it;
}

AttributeList::value_type AttributeList::const_iterator::operator*() const {
    Entry entry;
    Decode(*packed_, at_, entry);
    return {std::string(entry.name),
            Attribute{std::string(entry.value), entry.specified, entry.paths}};
}

AttributeList::const_iterator& AttributeList::const_iterator::operator++() {
    Entry entry;
    at_ = Decode(*packed_, at_, entry);
    return *this;
}

const std::string* PooledText::Intern(std::string_view text) {
    if (text.empty()) return nullptr;
    // The copies sit in a deque, so they never move; the index is keyed by views of them, so a
    // text already known is found without a copy. Guarded, since any thread may make texts.
    static std::mutex mutex;
    static std::deque<std::string> copies;
    static std::unordered_map<std::string_view, const std::string*> index;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto found = index.find(text);
    if (found != index.end()) return found->second;
    const std::string& copy = copies.emplace_back(text);
    index.emplace(copy, &copy);
    return &copy;
}

const std::string& PooledText::Empty() {
    static const std::string empty;
    return empty;
}

std::ostream& operator<<(std::ostream& out, const PooledText& text) {
    return out << text.str();
}

const std::vector<StatisticsField>& StatisticsFields() {
    static const std::vector<StatisticsField> fields(
        zdProtocol::StatisticsFields(),
        zdProtocol::StatisticsFields() + zdProtocol::kStatisticsLines);
    return fields;
}

const User* Farm::FindUser(const std::string& name) const {
    for (const User& user : users)
        if (user.name == name) return &user;
    return nullptr;
}

const Job* Farm::FindJob(long id) const {
    for (const Job& job : jobs)
        if (job.id == id) return &job;
    return nullptr;
}

const Node* Farm::FindNode(long id) const {
    for (const Node& node : nodes)
        if (node.id == id) return &node;
    return nullptr;
}

const Node* Farm::FindNodeByName(const std::string& name) const {
    for (const Node& node : nodes)
        if (node.name == name) return &node;
    return nullptr;
}

namespace {

// Carries the path of the offending field out of the nested readers; caught in LoadFarm.
struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
    throw LoadError(path + ": " + why);
}

const char* KindOf(const Json& value) {
    return value.type_name();
}

// Reads the fields of one JSON object by name and, at the end, rejects the names it was never
// asked for, so that a misspelt field is reported instead of silently taking its default.
class ObjectReader {
public:
    ObjectReader(const Json& object, std::string path) : object_(object), path_(std::move(path)) {
        if (!object_.is_object())
            Fail(Where(), std::string("expected an object, found ") + KindOf(object_));
    }

    void Text(const char* key, PooledText& out) {
        std::string text = out;
        Text(key, text);
        out = text;
    }

    void Text(const char* key, std::string& out) {
        const Json* value = Find(key);
        if (value == nullptr) return;
        if (value->is_string()) {
            out = value->get<std::string>();
        } else if (value->is_number_integer()) {
            // Versions and builds are often written as bare numbers.
            out = value->dump();
        } else {
            Fail(At(key), std::string("expected a text, found ") + KindOf(*value));
        }
    }

    template <typename T>
    void Integer(const char* key, T& out) {
        const Json* value = Find(key);
        if (value == nullptr) return;
        out = ToInteger<T>(*value, At(key));
    }

    void Real(const char* key, double& out) {
        const Json* value = Find(key);
        if (value == nullptr) return;
        if (!value->is_number())
            Fail(At(key), std::string("expected a number, found ") + KindOf(*value));
        out = value->get<double>();
        if (!std::isfinite(out)) Fail(At(key), "expected a finite number");
    }

    void Flag(const char* key, bool& out) {
        const Json* value = Find(key);
        if (value == nullptr) return;
        if (value->is_boolean()) {
            out = value->get<bool>();
        } else if (value->is_number_integer() && (*value == 0 || *value == 1)) {
            out = *value == 1;
        } else {
            Fail(At(key), std::string("expected true or false, found ") + value->dump());
        }
    }

    // Calls each(element, path) for every element of an array field.
    template <typename F>
    void Array(const char* key, F each) {
        const Json* value = Find(key);
        if (value == nullptr) return;
        if (!value->is_array())
            Fail(At(key), std::string("expected a list, found ") + KindOf(*value));
        for (size_t i = 0; i < value->size(); ++i)
            each((*value)[i], At(key) + "[" + std::to_string(i) + "]");
    }

    // The field's value when present, for readers of their own (maps, nested objects).
    const Json* Field(const char* key) { return Find(key); }
    std::string At(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }

    void Finish() const {
        for (auto it = object_.begin(); it != object_.end(); ++it) {
            if (used_.count(it.key()) == 0) Fail(At(it.key()), "unknown field");
        }
    }

    template <typename T>
    static T ToInteger(const Json& value, const std::string& path) {
        if (!value.is_number_integer())
            Fail(path, std::string("expected a whole number, found ") + value.dump());
        if (value.is_number_unsigned()) {
            const auto v = value.get<unsigned long long>();
            if (v > static_cast<unsigned long long>(std::numeric_limits<T>::max()))
                Fail(path, "number out of range");
            return static_cast<T>(v);
        }
        const auto v = value.get<long long>();
        if (v < static_cast<long long>(std::numeric_limits<T>::min()) ||
            v > static_cast<long long>(std::numeric_limits<T>::max()))
            Fail(path, "number out of range");
        return static_cast<T>(v);
    }

private:
    const Json* Find(const char* key) {
        used_.insert(key);
        auto it = object_.find(key);
        return it == object_.end() ? nullptr : &*it;
    }
    std::string Where() const { return path_.empty() ? "farm" : path_; }

    const Json& object_;
    std::string path_;
    std::set<std::string> used_;
};

User ReadUser(const Json& value, const std::string& path) {
    User user;
    ObjectReader r(value, path);
    r.Text("name", user.name);
    r.Text("password", user.password);
    r.Integer("login_result", user.loginResult);
    r.Finish();
    if (user.name.empty()) Fail(r.At("name"), "a user needs a name");
    return user;
}

// An attribute is either its value text or an object with the value and the two flags.
Attribute ReadAttribute(const Json& value, const std::string& path) {
    Attribute attribute;
    if (value.is_string() || value.is_number_integer()) {
        attribute.value = value.is_string() ? value.get<std::string>() : value.dump();
        return attribute;
    }
    ObjectReader r(value, path);
    r.Text("value", attribute.value);
    r.Flag("specified", attribute.specified);
    r.Flag("path_substitution", attribute.pathSubstitution);
    r.Finish();
    return attribute;
}

Chunk ReadChunk(const Json& value, const std::string& path) {
    Chunk chunk;
    ObjectReader r(value, path);
    r.Integer("id", chunk.id);
    r.Real("start_frame", chunk.startFrame);
    r.Real("end_frame", chunk.endFrame);
    r.Integer("by_frame", chunk.byFrame);
    r.Integer("start_time", chunk.startTime);
    r.Integer("end_time", chunk.endTime);
    r.Text("render_by", chunk.renderBy);
    r.Text("result", chunk.result);
    r.Integer("status", chunk.status);
    r.Integer("requeued", chunk.requeued);
    r.Finish();
    return chunk;
}

Job ReadJob(const Json& value, const std::string& path) {
    Job job;
    ObjectReader r(value, path);
    bool folder = false;
    r.Integer("id", job.id);
    r.Text("name", job.name);
    r.Flag("folder", folder);
    job.type = folder ? 1 : 0;
    r.Integer("parent", job.parent);
    r.Integer("status", job.status);
    r.Integer("priority", job.priority);
    r.Integer("packet_type", job.packetType);
    r.Integer("packet_size", job.packetSize);
    r.Integer("engine", job.engine);
    r.Integer("max_nodes", job.maxNodes);
    r.Integer("working_nodes", job.workingNodes);
    r.Integer("max_instances", job.maxInstances);
    r.Flag("paused", job.paused);
    r.Flag("locked", job.locked);
    r.Flag("archived", job.archived);
    r.Flag("skip_errors", job.skipErrors);
    r.Integer("submit_time", job.submitTime);
    r.Integer("start_time", job.startTime);
    r.Integer("end_time", job.endTime);
    r.Integer("progress", job.progress);
    r.Integer("requeued", job.requeued);
    r.Text("submitter", job.submitter);
    r.Text("pool", job.pool);
    r.Text("depend", job.depend);
    r.Text("group", job.group);
    r.Text("department", job.department);
    r.Text("notes", job.notes);
    r.Text("mail", job.mail);
    r.Integer("chunk_timeout", job.chunkTimeout);
    if (const Json* attributes = r.Field("attributes")) {
        const std::string at = r.At("attributes");
        if (!attributes->is_object())
            Fail(at, std::string("expected an object, found ") + KindOf(*attributes));
        for (auto it = attributes->begin(); it != attributes->end(); ++it) {
            if (it.key().empty()) Fail(at, "an attribute needs a name");
            job.attributes.emplace_back(it.key(), ReadAttribute(it.value(), at + "." + it.key()));
        }
        job.attributes.ShrinkToFit();
    }
    r.Array("chunks",
            [&](const Json& c, const std::string& p) { job.chunks.push_back(ReadChunk(c, p)); });
    r.Finish();
    return job;
}

Node ReadNode(const Json& value, const std::string& path) {
    Node node;
    ObjectReader r(value, path);
    r.Integer("id", node.id);
    r.Text("name", node.name);
    r.Integer("os", node.os);
    r.Integer("processors", node.processors);
    r.Text("ip", node.ip);
    r.Text("render_status", node.renderStatus);
    r.Text("cpu_usage", node.cpuUsage);
    r.Text("ram_usage", node.ramUsage);
    r.Integer("process_priority", node.processPriority);
    r.Integer("job_id", node.jobId);
    r.Integer("chunk_id", node.chunkId);
    r.Integer("status", node.status);
    r.Integer("scheduled_pause", node.scheduledPause);
    r.Text("job_name", node.jobName);
    r.Text("chunk_frames", node.chunkFrames);
    r.Text("chunk_range", node.chunkRange);
    r.Text("log_path", node.logPath);
    r.Text("support_mask", node.supportMask);
    r.Integer("version", node.version);
    r.Integer("realtime_log", node.realtimeLog);
    r.Integer("priority", node.priority);
    r.Text("notes", node.notes);
    r.Finish();
    return node;
}

Pool ReadPool(const Json& value, const std::string& path) {
    Pool pool;
    ObjectReader r(value, path);
    r.Text("name", pool.name);
    r.Array("members", [&](const Json& m, const std::string& p) {
        if (!m.is_string()) Fail(p, std::string("expected a node name, found ") + KindOf(m));
        pool.members.push_back(m.get<std::string>());
    });
    r.Finish();
    if (pool.name.empty()) Fail(r.At("name"), "a pool needs a name");
    return pool;
}

LogEntry ReadLog(const Json& value, const std::string& path) {
    LogEntry log;
    ObjectReader r(value, path);
    r.Integer("type", log.type);
    r.Text("time", log.time);
    r.Text("text", log.text);
    r.Text("ip", log.ip);
    r.Text("host", log.host);
    r.Text("user", log.user);
    r.Finish();
    return log;
}

Statistics ReadStatistics(const Json& value, const std::string& path) {
    Statistics stats;
    ObjectReader r(value, path);
    for (const StatisticsField& field : StatisticsFields()) {
        if (field.whole != nullptr)
            r.Integer(field.key, stats.*field.whole);
        else
            r.Real(field.key, stats.*field.average);
    }
    r.Finish();
    return stats;
}

// Ids left out get the next free one; given ids must be positive and unique.
template <typename T>
void AssignIds(std::vector<T>& items, const std::string& path, const char* what) {
    long highest = 0;
    std::set<long> seen;
    for (size_t i = 0; i < items.size(); ++i) {
        const long id = items[i].id;
        if (id == 0) continue;
        const std::string at = path + "[" + std::to_string(i) + "].id";
        if (id < 0) Fail(at, std::string("a ") + what + " id must be positive");
        if (!seen.insert(id).second)
            Fail(at, "duplicate " + std::string(what) + " id " + std::to_string(id));
        highest = std::max(highest, id);
    }
    for (T& item : items) {
        if (item.id != 0) continue;
        if (highest == LONG_MAX) Fail(path, "no free id left");
        item.id = ++highest;
    }
}

void Validate(Farm& farm) {
    std::set<std::string> names;
    for (size_t i = 0; i < farm.users.size(); ++i) {
        if (!names.insert(farm.users[i].name).second)
            Fail("users[" + std::to_string(i) + "].name", "duplicate user " + farm.users[i].name);
    }
    AssignIds(farm.jobs, "jobs", "job");
    for (size_t i = 0; i < farm.jobs.size(); ++i) {
        Job& job = farm.jobs[i];
        AssignIds(job.chunks, "jobs[" + std::to_string(i) + "].chunks", "chunk");
        if (job.name.empty())
            job.name = (job.type == 1 ? "folder" : "job") + std::to_string(job.id);
    }
    AssignIds(farm.nodes, "nodes", "node");
    names.clear();
    for (size_t i = 0; i < farm.nodes.size(); ++i) {
        Node& node = farm.nodes[i];
        if (node.name.empty()) node.name = "node" + std::to_string(node.id);
        if (!names.insert(node.name).second)
            Fail("nodes[" + std::to_string(i) + "].name", "duplicate node name " + node.name);
    }
    std::set<std::string> poolNames;
    for (size_t i = 0; i < farm.pools.size(); ++i) {
        const std::string at = "pools[" + std::to_string(i) + "]";
        if (!poolNames.insert(farm.pools[i].name).second)
            Fail(at + ".name", "duplicate pool " + farm.pools[i].name);
        const auto& members = farm.pools[i].members;
        for (size_t m = 0; m < members.size(); ++m) {
            if (names.count(members[m]) == 0)
                Fail(at + ".members[" + std::to_string(m) + "]", "no node named " + members[m]);
        }
    }
}

}  // namespace

bool LoadFarm(const std::string& text, Farm& farm, std::string& error) {
    try {
        // Comments are allowed so that sample farms can explain themselves.
        const Json root = Json::parse(text, nullptr, true, true);
        Farm loaded;
        ObjectReader r(root, "");
        r.Text("host", loaded.host);
        r.Text("version", loaded.version);
        r.Text("build", loaded.build);
        r.Integer("selection_logic", loaded.selectionLogic);
        r.Flag("allow_guests", loaded.allowGuests);
        r.Array("users", [&](const Json& v, const std::string& p) {
            loaded.users.push_back(ReadUser(v, p));
        });
        r.Array("jobs",
                [&](const Json& v, const std::string& p) { loaded.jobs.push_back(ReadJob(v, p)); });
        r.Array("nodes", [&](const Json& v, const std::string& p) {
            loaded.nodes.push_back(ReadNode(v, p));
        });
        r.Array("pools", [&](const Json& v, const std::string& p) {
            loaded.pools.push_back(ReadPool(v, p));
        });
        r.Array("logs",
                [&](const Json& v, const std::string& p) { loaded.logs.push_back(ReadLog(v, p)); });
        if (const Json* stats = r.Field("statistics"))
            loaded.statistics = ReadStatistics(*stats, "statistics");
        r.Finish();
        Validate(loaded);
        farm = std::move(loaded);
        return true;
    } catch (const Json::parse_error& e) {
        error = "not valid JSON at byte " + std::to_string(e.byte) + ": " + e.what();
    } catch (const LoadError& e) {
        error = e.what();
    } catch (const std::exception& e) {
        error = e.what();
    }
    return false;
}

bool LoadFarmFile(const std::string& path, Farm& farm, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot be read";
        return false;
    }
    std::string why;
    if (!LoadFarm(text.str(), farm, why)) {
        error = path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace zdsim
