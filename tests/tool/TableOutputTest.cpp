// Query tables against golden files: every record kind, the switches that change them, chosen
// columns, custom job attributes, widths over hidden rows and cells of any length.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "QueryTestSupport.h"
#include "ZRTemplateManager.h"

using ZRFramework::ZRTemplateManager::zrTemplateManager;
using namespace querytest;

namespace {

// Lumen Render (UID 110) in the process-wide manager, which the engine column reads.
class TableOutput : public testing::Test {
protected:
    void SetUp() override {
        FreshRun();
        std::ifstream in(std::string(ZD_EXAMPLES_DIR) +
                         "/templates/lumen_render_multiframe.template");
        std::stringstream text;
        text << in.rdbuf();
        zrTemplateManager::GetUniqueClass()->Parse(text.str().c_str(), "lumen.template", true,
                                                   true);
        ASSERT_NE(zrTemplateManager::GetUniqueClass()->GetTemplate(110), nullptr);
    }
    void TearDown() override {
        zrTemplateManager::GetUniqueClass()->UnloadTemplate(110);
        resetRunSettings();
        resetColumnLists();
    }

    static std::vector<Job> SampleJobs() {
        Job folder;
        folder.id = 1;
        folder.name = "Shots";
        folder.type = 1;
        folder.pktype = 0;
        folder.submitter = "admin";
        folder.subtm = 1717400000;

        Job beauty;
        beauty.id = 12;
        beauty.name = "sq010_sh020_beauty";
        beauty.parent = 1;
        beauty.engine = 110;
        beauty.status = 2;
        beauty.progress = 40;
        beauty.priority = 120;
        beauty.subtm = 1717401200;
        beauty.starttm = 1717401260;
        beauty.depend = "3,4";
        beauty.attributes = {{"start_frame", "1"},
                             {"end_frame", "25"},
                             {"job_file", "/projects/aurora/sq010/sh020/lighting.lmn"},
                             {"quality", "high"},
                             {"remove_slices", "1"}};

        Job comp;
        comp.id = 13;
        comp.name = "sq010_sh030_comp";
        comp.parent = 1;
        comp.engine = 120;  // not in the cache: empty engine cell
        comp.pktype = 2;
        comp.status = 1;
        comp.subtm = 1717401300;
        comp.starttm = 1717401300;  // shown empty while on queue
        comp.attributes = {{"job_file", "/projects/aurora/sq010/sh030/comp.vxc"}};

        Job ocean;
        ocean.id = 14;
        ocean.name = "ocean_sim_v3";
        ocean.engine = 110;
        ocean.pktype = 8;
        ocean.status = 128;
        ocean.progress = 100;
        ocean.priority = 80;
        ocean.requeued = 3;
        ocean.subtm = 1717300000;
        ocean.starttm = 1717300100;
        ocean.endtm = 1717309100;
        ocean.attributes = {{"start_frame", "1001"}, {"end_frame", "1020"}, {"quality", ""}};

        Job odd;
        odd.id = 15;
        odd.name = "odd_codes";
        odd.type = 5;
        odd.pktype = 3;
        odd.status = 3;
        odd.attributeBlock = "*** not Base64 ***";
        return {folder, beauty, comp, ocean, odd};
    }

    static std::string JobTable(const std::vector<Job>& jobs) {
        std::vector<std::string> texts;
        for (const Job& job : jobs)
            texts.push_back(JobText(job));
        return JobTableText(texts);
    }

    static std::vector<Node> SampleNodes() {
        Node a;
        a.id = 1;
        a.name = "node01";
        a.status = 8;
        a.sst = "Rendering sq010_sh020_beauty 11-15";
        a.ip = "10.0.0.11";
        a.jobid = 12;
        Node b;
        b.id = 2;
        b.name = "node02-with-a-long-name";
        b.os = 1;
        b.status = 2;
        b.sst = "Paused";
        b.notes = "GPU fan replaced";
        Node c;
        c.id = 3;
        c.name = "mac03";
        c.os = 4;
        c.status = 262144;
        c.sst = "";
        c.ip = "";
        Node d;
        d.id = 4;
        d.name = "odd";
        d.os = 3;
        d.status = 7;
        return {a, b, c, d};
    }

    static std::string NodeTable(const std::vector<Node>& nodes) {
        std::vector<std::string> texts;
        for (const Node& node : nodes)
            texts.push_back(NodeText(node));
        return NodeTableText(texts);
    }

    static std::string ChunkTable() {
        Chunk done;
        done.id = 1;
        done.status = 4;
        done.st = 1717401260;
        done.et = 1717401800;
        done.renderby = "node01";
        done.result = "OK";
        Chunk sent;
        sent.id = 2;
        sent.sf = "6";
        sent.ef = "10.5";
        sent.bf = 2;
        sent.status = 2;
        sent.st = 1717401801;
        sent.et = 1717401900;  // not shown while sent
        sent.renderby = "node02";
        sent.requeued = 1;
        Chunk waiting;
        waiting.id = 3;
        waiting.sf = "11";
        waiting.ef = "15";
        waiting.st = 1717401900;  // not shown while on hold
        Chunk warned;
        warned.id = 4;
        warned.sf = "-2.25";
        warned.ef = "1e3";
        warned.status = 8;
        warned.st = 1717401000;
        warned.et = 1717490000;
        warned.result = "Completed with warnings: 3 frames missing textures";
        Chunk odd;
        odd.id = 5;
        odd.status = 16;
        odd.st = 100;
        odd.et = 50;  // negative span: empty elapsed
        std::vector<Chunk> chunks = {done, sent, waiting, warned, odd};
        std::vector<std::string> texts;
        for (const Chunk& chunk : chunks)
            texts.push_back(ChunkText(chunk));
        return ChunkTableText(texts);
    }
};

TEST_F(TableOutput, JobsWithDefaultColumns) {
    setDefaultJobColumns();
    ExpectFixture(JobTable(SampleJobs()), "jobs_default.txt");
}

TEST_F(TableOutput, JobsWithoutHeaders) {
    nHeaders = 0;
    ExpectFixture(JobTable(SampleJobs()), "jobs_no_headers.txt");
}

TEST_F(TableOutput, JobsWithoutSeparators) {
    nSeparators = 0;
    ExpectFixture(JobTable(SampleJobs()), "jobs_no_separators.txt");
}

TEST_F(TableOutput, JobsWithCodesAsNumbers) {
    nCostants = 0;
    ExpectFixture(JobTable(SampleJobs()), "jobs_numbers.txt");
}

TEST_F(TableOutput, JobsWithChosenColumnsAndCustomAttributes) {
    ASSERT_TRUE(buildJobFormat(
        "id,subtm,start,end,totalt,sf,ef,file,quality,remove_slices,depend,parent,locked"));
    ExpectFixture(JobTable(SampleJobs()), "jobs_columns.txt");
}

TEST_F(TableOutput, NodesWithDefaultColumns) {
    ExpectFixture(NodeTable(SampleNodes()), "nodes_default.txt");
}

TEST_F(TableOutput, NodesWithChosenColumnsAndNumbers) {
    ASSERT_TRUE(buildCpuFormat("id,tpause,ramusage,os,status,notes,jobid,version,priority"));
    nCostants = 0;
    ExpectFixture(NodeTable(SampleNodes()), "nodes_columns.txt");
}

TEST_F(TableOutput, ChunksWithEveryColumn) {
    ASSERT_TRUE(buildChunkFormat("id,status,requeued,sf,ef,bf,st,et,elapsed,renderby,result"));
    ExpectFixture(ChunkTable(), "chunks_all.txt");
}

TEST_F(TableOutput, ChunksWithDefaultColumnsAndNoSeparators) {
    nSeparators = 0;
    ExpectFixture(ChunkTable(), "chunks_default.txt");
}

TEST_F(TableOutput, PoolsAndLogs) {
    const std::vector<std::string> pools = {PoolText("render", "node01", "10.0.0.11"),
                                            PoolText("render", "node02", "10.0.0.12"),
                                            PoolText("gpu-farm", "mac03", "10.0.1.3")};
    const std::vector<std::string> logs = {
        LogText(1, "06/03/2024 08:00:00", "Dispatcher started"),
        LogText(8, "06/03/2024 08:05:12", "node02 lost connection", "node02"),
        LogText(3, "06/03/2024 08:06:00", "")};
    ASSERT_TRUE(buildLogFormat("type,time,host,entry,ip,user"));
    std::string out = PoolTableText(pools) + LogTableText(logs);
    nCostants = 0;
    nHeaders = 0;
    out += LogTableText(logs);
    ExpectFixture(out, "pools_and_logs.txt");
}

TEST_F(TableOutput, FiltersHideRowsButTheirCellsStillSetTheWidths) {
    jobid = 14;
    const std::string table = JobTable(SampleJobs());
    const std::vector<std::string> expected = {
        "ID   NAME                 TYPE      PKTYPE          ENGINE         STATUS      "
        "PROGRESS   PRIORITY   REQUEUED   ",
        "--   ----                 ----      ------          ------         ------      "
        "--------   --------   --------   ",
        "14 | ocean_sim_v3       | Job     | Image slicing | Lumen Render | Completed | 100      "
        "| 80       | 3        | ",
    };
    EXPECT_EQ(table, expected[0] + "\n" + expected[1] + "\n" + expected[2] + "\n");

    FreshRun();
    cpuid = 3;
    EXPECT_EQ(NodeTable(SampleNodes()),
              "CPUID   NAME                      RENDERSTATUS                         STATUS     "
              "   OS        \n"
              "-----   ----                      ------------                         ------     "
              "   --        \n"
              "3     | mac03                   |                                    | Offline     "
              "| OS X    | \n");
}

TEST_F(TableOutput, WithoutHeadersAnEmptyColumnPrintsOnlyItsSeparator) {
    nHeaders = 0;
    ASSERT_TRUE(buildJobFormat("pool,id"));
    Job job;
    job.id = 7;
    EXPECT_EQ(JobTable({job}), " | 7 | \n");
}

TEST_F(TableOutput, CellsOfAnyLengthAreKeptWhole) {
    const std::string longName(5000, 'n');
    const std::string longValue(70000, 'v');
    Job job;
    job.name = longName;
    job.attributes = {{"notes", longValue}};
    ASSERT_TRUE(buildJobFormat("name,notes"));
    const std::string table = JobTable({job});
    EXPECT_NE(table.find(longName + " | " + longValue + " | \n"), std::string::npos);
    EXPECT_EQ(getJobHeader("notes"), "notes");

    Node node;
    node.notes = std::string(3000, 'x');
    ASSERT_TRUE(buildCpuFormat("notes"));
    EXPECT_NE(NodeTable({node}).find(node.notes + " | \n"), std::string::npos);
}

TEST_F(TableOutput, ConstantWordsAndTheirNumbers) {
    struct Case {
        std::string resolved;
        std::string expected;
    };
    const Case cases[] = {
        {ResolveJobCostant("type", 1), "Folder"},
        {ResolveJobCostant("type", 2), "Invalid"},
        {ResolveJobCostant("pktype", 4), "Broadcast"},
        {ResolveJobCostant("pktype", 5), ""},
        {ResolveJobCostant("status", 64), "Post-job Action pending"},
        {ResolveJobCostant("status", 512), "Invalid"},
        {ResolveJobCostant("engine", 110), "Lumen Render"},
        {ResolveJobCostant("engine", 999), ""},
        {ResolveJobCostant("priority", 42), "42"},
        {ResolveCpuCostant(3, 4), "OS X"},
        {ResolveCpuCostant(10, 65536), "Unavailable by timetable"},
        {ResolveCpuCostant(10, 3), "Invalid"},
        {ResolveCpuCostant(2, 4), "4"},
        {ResolveChunkCostant(2, 8), "Completed(W)"},
        {ResolveChunkCostant(2, 3), "UNDEFINED"},
        {ResolveChunkCostant(1, 8), "8"},
        {ResolveLogCostant(1, 4), "Client"},
        {ResolveLogCostant(1, 0), "Invalid"},
        {ResolveLogCostant(2, 4), "4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.resolved, c.expected);
    EXPECT_EQ(ResolveJobCostant("engine", 110, false), "110");
    EXPECT_EQ(ResolveCpuCostant(10, 8, false), "8");
    EXPECT_EQ(ResolveChunkCostant(2, 2, false), "2");
    EXPECT_EQ(ResolveLogCostant(1, 8, false), "8");
}

}  // namespace
