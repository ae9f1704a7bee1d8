// The farm model: JSON defaults, field-precise errors, the sample farm and the generator.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "FarmModel.h"
#include "Records.h"

namespace {

using zdsim::Farm;
using zdsim::LoadFarm;

Farm Load(const std::string& text) {
    Farm farm;
    std::string error;
    EXPECT_TRUE(LoadFarm(text, farm, error)) << error;
    return farm;
}

TEST(FarmModel, AnEmptyObjectGivesAnEmptyFarmThatAdmitsGuests) {
    const Farm farm = Load("{}");
    EXPECT_TRUE(farm.allowGuests);
    EXPECT_EQ(farm.version, "6.1.6");
    EXPECT_EQ(farm.selectionLogic, 0);
    EXPECT_TRUE(farm.users.empty());
    EXPECT_TRUE(farm.jobs.empty());
    EXPECT_EQ(farm.statistics.totalBytesIn, 0);
}

TEST(FarmModel, MissingFieldsTakeTheirDefaultsAndMissingIdsTheNextFreeOne) {
    const Farm farm = Load(R"({
        "jobs": [{"id": 7}, {"name": "lit", "chunks": [{}, {"id": 5}, {}]}, {"folder": true}],
        "nodes": [{}, {"id": 3}],
        "users": [{"name": "ann"}]
    })");
    ASSERT_EQ(farm.jobs.size(), 3u);
    EXPECT_EQ(farm.jobs[0].name, "job7");
    EXPECT_EQ(farm.jobs[1].id, 8);
    EXPECT_EQ(farm.jobs[2].id, 9);
    EXPECT_EQ(farm.jobs[2].type, 1);
    EXPECT_EQ(farm.jobs[2].name, "folder9");
    const zdsim::Job& job = farm.jobs[1];
    EXPECT_EQ(job.status, zdsim::JobStatus::kOnQueue);
    EXPECT_EQ(job.packetType, zdsim::PacketType::kMultiframe);
    EXPECT_EQ(job.priority, 100);
    EXPECT_EQ(job.parent, -1);
    EXPECT_FALSE(job.archived);
    ASSERT_EQ(job.chunks.size(), 3u);
    EXPECT_EQ(job.chunks[0].id, 6);
    EXPECT_EQ(job.chunks[1].id, 5);
    EXPECT_EQ(job.chunks[2].id, 7);
    EXPECT_EQ(job.chunks[0].status, zdsim::ChunkStatus::kOnHold);
    ASSERT_EQ(farm.nodes.size(), 2u);
    EXPECT_EQ(farm.nodes[0].id, 4);
    EXPECT_EQ(farm.nodes[0].name, "node4");
    EXPECT_EQ(farm.nodes[0].status, zdsim::NodeStatus::kIdle);
    EXPECT_EQ(farm.users[0].password, "");
    EXPECT_EQ(farm.users[0].loginResult, 0);
}

TEST(FarmModel, AttributesKeepFileOrderAndTakeBothForms) {
    const Farm farm = Load(R"({"jobs": [{"attributes": {
        "zeta": "1",
        "alpha": {"value": "/p", "path_substitution": true, "specified": false},
        "mid": 42
    }}]})");
    const auto& attributes = farm.jobs[0].attributes;
    ASSERT_EQ(attributes.size(), 3u);
    EXPECT_EQ(attributes[0].first, "zeta");
    EXPECT_EQ(attributes[0].second.value, "1");
    EXPECT_TRUE(attributes[0].second.specified);
    EXPECT_FALSE(attributes[0].second.pathSubstitution);
    EXPECT_EQ(attributes[1].first, "alpha");
    EXPECT_FALSE(attributes[1].second.specified);
    EXPECT_TRUE(attributes[1].second.pathSubstitution);
    EXPECT_EQ(attributes[2].second.value, "42");
}

TEST(FarmModel, NumbersAndFlagsAcceptTheirUsualSpellings) {
    const Farm farm = Load(R"({"build": 2417, "allow_guests": 0, "jobs": [{"paused": 1,
        "chunks": [{"start_frame": 1.5, "end_frame": 3}]}],
        "statistics": {"total_bytes_in": 5000000000, "rc_kbs_in": 12.25}})");
    EXPECT_EQ(farm.build, "2417");
    EXPECT_FALSE(farm.allowGuests);
    EXPECT_TRUE(farm.jobs[0].paused);
    EXPECT_DOUBLE_EQ(farm.jobs[0].chunks[0].startFrame, 1.5);
    EXPECT_EQ(farm.statistics.totalBytesIn, 5000000000LL);
    EXPECT_DOUBLE_EQ(farm.statistics.rcKbsIn, 12.25);
}

TEST(FarmModel, CommentsAreAllowed) {
    const Farm farm = Load("// sample\n{ /* the build */ \"build\": \"7\" }");
    EXPECT_EQ(farm.build, "7");
}

TEST(FarmModel, ErrorsNameTheFieldAndLeaveTheFarmUntouched) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {R"({"users": [{"name": "a", "pasword": "x"}]})", "users[0].pasword: unknown field"},
        {R"({"jobs": [{}, {"priority": "high"}]})",
         "jobs[1].priority: expected a whole number, found \"high\""},
        {R"({"jobs": [{"id": 3}, {"id": 3}]})", "jobs[1].id: duplicate job id 3"},
        {R"({"jobs": [{"id": -2}]})", "jobs[0].id: a job id must be positive"},
        {R"({"jobs": [{"chunks": [{"id": 1}, {"id": 1}]}]})",
         "jobs[0].chunks[1].id: duplicate chunk id 1"},
        {R"({"jobs": [{"paused": 2}]})", "jobs[0].paused: expected true or false, found 2"},
        {R"({"jobs": [{"priority": 3000000000}]})", "jobs[0].priority: number out of range"},
        {R"({"jobs": {"id": 1}})", "jobs: expected a list, found object"},
        {R"({"jobs": [7]})", "jobs[0]: expected an object, found number"},
        {R"({"jobs": [{"attributes": {"a": {"vaule": "1"}}}]})",
         "jobs[0].attributes.a.vaule: unknown field"},
        {R"({"nodes": [{"name": "n1"}], "pools": [{"name": "p", "members": ["n2"]}]})",
         "pools[0].members[0]: no node named n2"},
        {R"({"nodes": [{"name": "n1"}, {"name": "n1"}]})", "nodes[1].name: duplicate node name n1"},
        {R"({"pools": [{"members": []}]})", "pools[0].name: a pool needs a name"},
        {R"({"users": [{"name": "a"}, {"name": "a"}]})", "users[1].name: duplicate user a"},
        {R"({"statistics": {"idle_clients": 1.5}})",
         "statistics.idle_clients: expected a whole number, found 1.5"},
        {R"([])", "farm: expected an object, found array"},
    };
    for (const auto& c : cases) {
        Farm farm;
        farm.host = "untouched";
        std::string error;
        EXPECT_FALSE(LoadFarm(c.text, farm, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(farm.host, "untouched");
    }
}

TEST(FarmModel, BrokenJsonReportsWhereItBroke) {
    Farm farm;
    std::string error;
    EXPECT_FALSE(LoadFarm("{\"users\": [\n", farm, error));
    EXPECT_EQ(error.rfind("not valid JSON at byte 13", 0), 0u) << error;
    EXPECT_FALSE(LoadFarm("", farm, error));
    EXPECT_EQ(error.rfind("not valid JSON at byte 1", 0), 0u) << error;
}

TEST(FarmModel, MissingFileIsNamedInTheError) {
    Farm farm;
    std::string error;
    EXPECT_FALSE(zdsim::LoadFarmFile("/nonexistent/farm.json", farm, error));
    EXPECT_EQ(error, "/nonexistent/farm.json: cannot be read");
}

TEST(FarmModel, TheSampleFarmLoadsWithSomethingForEveryListing) {
    Farm farm;
    std::string error;
    ASSERT_TRUE(zdsim::LoadFarmFile(ZD_EXAMPLES_DIR "/farm.json", farm, error)) << error;
    EXPECT_TRUE(farm.allowGuests);
    EXPECT_NE(farm.FindUser("admin"), nullptr);
    EXPECT_GE(farm.jobs.size(), 4u);
    EXPECT_GE(farm.nodes.size(), 3u);
    EXPECT_FALSE(farm.pools.empty());
    EXPECT_FALSE(farm.logs.empty());
    EXPECT_NE(farm.statistics.runningSince, 0);
    bool folder = false, archived = false, chunks = false;
    for (const zdsim::Job& job : farm.jobs) {
        folder |= job.type == 1;
        archived |= job.archived;
        chunks |= !job.chunks.empty();
    }
    EXPECT_TRUE(folder && archived && chunks);
}

TEST(FarmModel, GeneratedFarmsHaveTheRequestedSizeUniqueIdsAndRepeat) {
    zdsim::GeneratorSpec spec;
    spec.jobs = 300;
    spec.nodes = 120;
    spec.chunksPerJob = 7;
    spec.logs = 40;
    const Farm farm = zdsim::GenerateFarm(spec);
    EXPECT_EQ(farm.jobs.size(), 300u);
    EXPECT_EQ(farm.nodes.size(), 120u);
    EXPECT_EQ(farm.logs.size(), 40u);
    std::set<long> jobIds;
    std::set<std::string> nodeNames;
    for (const zdsim::Job& job : farm.jobs) {
        jobIds.insert(job.id);
        const bool framed = job.type == 0 && (job.packetType == zdsim::PacketType::kMultiframe ||
                                              job.packetType == zdsim::PacketType::kImageSlicing);
        EXPECT_EQ(job.chunks.size(), framed ? 7u : 0u) << job.id;
    }
    for (const zdsim::Node& node : farm.nodes)
        nodeNames.insert(node.name);
    EXPECT_EQ(jobIds.size(), 300u);
    EXPECT_EQ(nodeNames.size(), 120u);
    std::set<std::string> pooled;
    for (const zdsim::Pool& pool : farm.pools) {
        for (const std::string& name : pool.members) {
            EXPECT_NE(farm.FindNodeByName(name), nullptr);
            pooled.insert(name);
        }
    }
    EXPECT_EQ(pooled.size(), 120u);
    ASSERT_NE(farm.FindUser("admin"), nullptr);
    EXPECT_EQ(farm.FindUser("admin")->password, "admin");

    const Farm again = zdsim::GenerateFarm(spec);
    ASSERT_EQ(again.jobs.size(), farm.jobs.size());
    for (size_t i = 0; i < farm.jobs.size(); ++i) {
        EXPECT_EQ(again.jobs[i].name, farm.jobs[i].name);
        EXPECT_EQ(again.jobs[i].status, farm.jobs[i].status);
    }
}

// What a farm holds of each code set, so one check serves the sample and generated farms.
struct Variety {
    std::set<int> jobStatuses, packetTypes, engines, nodeStatuses, systems, chunkStatuses, logTypes;
    bool folder = false, nestedFolder = false, jobInFolder = false, archived = false,
         locked = false, paused = false, customAttribute = false, unspecifiedAttribute = false,
         emptyPool = false, filledPool = false;

    explicit Variety(const Farm& farm) {
        static const std::set<std::string> known = {
            "start_frame", "end_frame",   "by_frame",      "step_by",      "number_by",
            "digits",      "x_res",       "y_res",         "as_overlap",   "ratio",
            "job_file",    "job_project", "output_folder", "remove_slices"};
        std::set<long> folders;
        for (const zdsim::Job& job : farm.jobs)
            if (job.type == 1) folders.insert(job.id);
        for (const zdsim::Job& job : farm.jobs) {
            if (job.type == 1) {
                folder = true;
                nestedFolder |= folders.count(job.parent) != 0;
                continue;
            }
            jobInFolder |= folders.count(job.parent) != 0;
            jobStatuses.insert(job.status);
            packetTypes.insert(job.packetType);
            engines.insert(job.engine);
            archived |= job.archived;
            locked |= job.locked;
            paused |= job.paused;
            for (const auto& [name, attribute] : job.attributes) {
                customAttribute |= known.count(name) == 0;
                unspecifiedAttribute |= !attribute.specified;
            }
            for (const zdsim::Chunk& chunk : job.chunks)
                chunkStatuses.insert(chunk.status);
        }
        for (const zdsim::Node& node : farm.nodes) {
            nodeStatuses.insert(node.status);
            systems.insert(node.os);
        }
        for (const zdsim::LogEntry& log : farm.logs)
            logTypes.insert(log.type);
        for (const zdsim::Pool& pool : farm.pools) {
            emptyPool |= pool.members.empty();
            filledPool |= !pool.members.empty();
        }
    }

    void ExpectEveryCode() const {
        EXPECT_EQ(jobStatuses, (std::set<int>{1, 2, 4, 8, 16, 32, 64, 128, 256}));
        EXPECT_EQ(packetTypes, (std::set<int>{1, 2, 4, 8}));
        EXPECT_EQ(engines, (std::set<int>{110, 120, 130, 140, 150}));
        EXPECT_EQ(nodeStatuses,
                  (std::set<int>{1, 2, 4, 8, 16, 32, 4096, 8192, 16384, 65536, 131072, 262144}));
        EXPECT_EQ(systems, (std::set<int>{1, 2, 4}));
        EXPECT_EQ(chunkStatuses, (std::set<int>{1, 2, 4, 8}));
        EXPECT_EQ(logTypes, (std::set<int>{1, 2, 4, 8}));
        EXPECT_TRUE(folder && nestedFolder && jobInFolder);
        EXPECT_TRUE(archived && locked && paused);
        EXPECT_TRUE(customAttribute && unspecifiedAttribute);
        EXPECT_TRUE(emptyPool && filledPool);
    }
};

TEST(FarmModel, TheSampleFarmHasEveryCodeAndKindOfRecord) {
    Farm farm;
    std::string error;
    ASSERT_TRUE(zdsim::LoadFarmFile(ZD_EXAMPLES_DIR "/farm.json", farm, error)) << error;
    Variety(farm).ExpectEveryCode();
    EXPECT_GT(farm.statistics.totalBytesOut, 5000000000LL);
}

TEST(FarmModel, AGeneratedFarmHasEveryCodeAndItsRecordsAgree) {
    zdsim::GeneratorSpec spec;
    spec.jobs = 600;
    spec.nodes = 150;
    spec.chunksPerJob = 6;
    spec.logs = 60;
    const Farm farm = zdsim::GenerateFarm(spec);
    Variety(farm).ExpectEveryCode();

    int rendering = 0;
    for (const zdsim::Node& node : farm.nodes) {
        if (node.status != zdsim::NodeStatus::kInProgress || node.jobId == 0) continue;
        ++rendering;
        const zdsim::Job* job = farm.FindJob(node.jobId);
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(job->name, node.jobName);
        bool found = false;
        for (const zdsim::Chunk& chunk : job->chunks) {
            if (chunk.id != node.chunkId) continue;
            found = true;
            EXPECT_EQ(chunk.status, zdsim::ChunkStatus::kSent);
            EXPECT_EQ(chunk.renderBy, node.name);
        }
        EXPECT_TRUE(found) << node.name;
    }
    EXPECT_GT(rendering, 10);
    for (const zdsim::Job& job : farm.jobs) {
        if (job.parent != -1) {
            EXPECT_NE(farm.FindJob(job.parent), nullptr) << job.id;
        }
        const bool done = job.status == zdsim::JobStatus::kCompleted ||
                          job.status == zdsim::JobStatus::kCompletedWithWarnings;
        if (job.archived) {
            EXPECT_TRUE(done) << job.id;
        }
        if (done) {
            EXPECT_GE(job.endTime, job.startTime);
        }
    }
    long long clients = farm.statistics.occupiedClients + farm.statistics.pausedClients +
                        farm.statistics.idleClients + farm.statistics.unavailableClients;
    EXPECT_EQ(clients, 150);
}

TEST(FarmModel, GeneratedRecordsAppendWithoutTouchingTheLoadedOnes) {
    Farm farm;
    std::string error;
    ASSERT_TRUE(zdsim::LoadFarmFile(ZD_EXAMPLES_DIR "/farm.json", farm, error)) << error;
    // A loaded node already carries the name the generator would give its first node.
    farm.nodes[0].name = "rn00014";
    for (std::string& member : farm.pools[0].members)
        if (member == "node01") member = "rn00014";
    const Farm loaded = farm;
    zdsim::GeneratorSpec spec;
    spec.jobs = 50;
    spec.nodes = 30;
    zdsim::AppendGeneratedRecords(farm, spec);

    ASSERT_EQ(farm.jobs.size(), loaded.jobs.size() + 50);
    ASSERT_EQ(farm.nodes.size(), loaded.nodes.size() + 30);
    for (size_t i = 0; i < loaded.jobs.size(); ++i)
        EXPECT_EQ(zdsim::JobRecord(farm.jobs[i]), zdsim::JobRecord(loaded.jobs[i]));
    std::set<long> jobIds, nodeIds;
    std::set<std::string> nodeNames, poolNames;
    for (const zdsim::Job& job : farm.jobs)
        EXPECT_TRUE(jobIds.insert(job.id).second) << job.id;
    for (const zdsim::Node& node : farm.nodes) {
        EXPECT_TRUE(nodeIds.insert(node.id).second) << node.id;
        EXPECT_TRUE(nodeNames.insert(node.name).second) << node.name;
    }
    for (const zdsim::Pool& pool : farm.pools)
        EXPECT_TRUE(poolNames.insert(pool.name).second) << pool.name;
    EXPECT_EQ(farm.jobs[loaded.jobs.size()].id, 41);  // after the sample's highest id, 40
    // The loaded users stay as they are: the sample's admin keeps its password.
    EXPECT_EQ(farm.users.size(), loaded.users.size());
    EXPECT_EQ(farm.FindUser("admin")->password, "farmadmin");
    EXPECT_EQ(farm.statistics.totalBytesIn, loaded.statistics.totalBytesIn);
}

}  // namespace
