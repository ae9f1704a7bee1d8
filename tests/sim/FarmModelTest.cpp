// The farm model: JSON defaults, field-precise errors, the sample farm and the generator.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "FarmModel.h"

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
    spec.pools = 5;
    spec.logs = 40;
    const Farm farm = zdsim::GenerateFarm(spec);
    EXPECT_EQ(farm.jobs.size(), 300u);
    EXPECT_EQ(farm.nodes.size(), 120u);
    EXPECT_EQ(farm.logs.size(), 40u);
    std::set<long> jobIds;
    std::set<std::string> nodeNames;
    for (const zdsim::Job& job : farm.jobs) {
        jobIds.insert(job.id);
        EXPECT_TRUE(job.chunks.empty() || job.chunks.size() == 7u);
    }
    for (const zdsim::Node& node : farm.nodes)
        nodeNames.insert(node.name);
    EXPECT_EQ(jobIds.size(), 300u);
    EXPECT_EQ(nodeNames.size(), 120u);
    size_t members = 0;
    for (const zdsim::Pool& pool : farm.pools) {
        members += pool.members.size();
        for (const std::string& name : pool.members)
            EXPECT_NE(farm.FindNodeByName(name), nullptr);
    }
    EXPECT_EQ(members, 120u);

    const Farm again = zdsim::GenerateFarm(spec);
    ASSERT_EQ(again.jobs.size(), farm.jobs.size());
    for (size_t i = 0; i < farm.jobs.size(); ++i) {
        EXPECT_EQ(again.jobs[i].name, farm.jobs[i].name);
        EXPECT_EQ(again.jobs[i].status, farm.jobs[i].status);
    }
}

}  // namespace
