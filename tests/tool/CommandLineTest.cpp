// The flag parser: values, messages, modes and the submission record it fills.
#include <gtest/gtest.h>

#include <climits>

#include <cstring>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CommandLineTestSupport.h"
#include "TableOutput.h"

namespace {

std::string property(const char* key, bool* specified = nullptr, bool* pathSub = nullptr) {
    std::string value = "<absent>";
    submitjob.properties.GetString(key, value, specified, pathSub);
    return value;
}

struct RejectCase {
    std::vector<std::string> args;
    std::string message;
};

TEST(CommandLine, RejectsWithMessage) {
    const RejectCase cases[] = {
        {{"-q", "j", "-"}, "\nInvalid flag(3): -\n"},
        {{"stray"}, "\nInvalid flag(1): stray\n"},
        {{"-s", "host", "-h"}, "\nInvalid flag(3): -h\n"},
        {{"-S"}, "\nNo value supplied for flag: -S\n"},
        {{"-Q", "j"}, "\nInvalid flag(1): -Q\n"},
        {{"-jobrn", "5"}, "\nNo value supplied for flag: -jobrn\n"},
        {{"-jobrn"}, "\nNo value supplied for flag: -jobrn\n"},
        {{"-chunkdn", "5"}, "\nNo value supplied for flag: -chunkdn\n"},
        {{"-attr"}, "\nNo value supplied for flag: -attr\n"},
        {{"-attr", "name", "value"}, "\nInsufficient values supplied for flag: -attr\n"},
        {{"-attr", "name"}, "\nInsufficient values supplied for flag: -attr\n"},
        {{"-b", "-q", "j"}, "\nPlease specify query/control or submit mode.\n"},
        {{"-jobp", "5", "-b"}, "\nPlease specify query/control or submit mode.\n"},
        {{"-eev"}, "\nFlag -eev supported only on Windows platform\n"},
        {{"-dev", "-q", "j"}, "\nFlag -dev supported only on Windows platform\n"},
        {{"-cf", "id,bogus"}, "\nInvalid cpu format: bogus\n"},
        {{"-hf", "ID"}, "\nInvalid chunk format: ID\n"},
        {{"-lf", "type,when"}, "\nInvalid log format: when\n"},
        {{"-pf", "members"}, "\nInvalid pool format: members\n"},
        {{"-jf", ",,"}, ""},
        {{"-o", "csv"}, "\nInvalid output format: csv (table, tsv or json)\n"},
        {{"-o"}, "\nNo value supplied for flag: -o\n"},
        {{"-s", std::string(256, 'h')}, "\nValue too long for flag: -s (at most 255 characters)\n"},
        {{"-jobnt", "3", std::string(2048, 'n')},
         "\nValue too long for flag: -jobnt (at most 2047 characters)\n"},
    };
    for (const RejectCase& c : cases) {
        ParseResult r = parse(c.args);
        EXPECT_EQ(r.result, 0) << c.args[0];
        EXPECT_EQ(r.err, c.message) << c.args[0];
    }
}

TEST(CommandLine, LongestValuesThatFitAreKeptWhole) {
    std::string host(255, 'h');
    std::string notes(2047, 'n');
    ASSERT_NE(parse({"-s", host, "-jobnt", "3", notes}).result, 0);
    EXPECT_EQ(std::string(server), host);
    EXPECT_EQ(std::string(strBuffer), notes);
    EXPECT_EQ(controlJobs, 9);
    EXPECT_EQ(jobid, 3);
}

TEST(CommandLine, ModeSelection) {
    ASSERT_NE(parse({}).result, 0);
    EXPECT_EQ(queryActive, 1);
    EXPECT_EQ(queryJobs + queryCpus + queryLogs + queryPools + queryStats, 0);

    ASSERT_NE(parse({"-b", "-e", "3"}).result, 0);
    EXPECT_EQ(submitActive, 1);
    EXPECT_EQ(queryActive, 0);

    // Control commands are followed by a query that shows the object.
    ASSERT_NE(parse({"-cpup", "12"}).result, 0);
    EXPECT_EQ(controlActive, 1);
    EXPECT_EQ(queryActive, 1);
    EXPECT_EQ(controlCpu, 1);
    EXPECT_EQ(cpuid, 12);

    // A value that begins with '-' is a value, not a flag.
    ASSERT_NE(parse({"-n", "-b"}).result, 0);
    EXPECT_EQ(submitjob.name, "-b");
    EXPECT_EQ(submitActive, 0);
}

TEST(CommandLine, QueryLetters) {
    ASSERT_NE(parse({"-q", "jx"}).result, 0);
    EXPECT_EQ(queryJobs, 1);
    EXPECT_EQ(queryCpus + queryLogs + queryPools + queryChunks + queryEngine, 0);

    ASSERT_NE(parse({"-q", "a"}).result, 0);
    EXPECT_EQ(queryEngine + queryJobs + queryCpus + queryLogs + queryPools, 5);
    EXPECT_EQ(queryChunks + queryStats + queryTemplates + queryAll, 0);

    // A second -q replaces the whole selection of the first.
    ASSERT_NE(parse({"-q", "cjl", "-q", "hst"}).result, 0);
    EXPECT_EQ(queryCpus + queryJobs + queryLogs, 0);
    EXPECT_EQ(queryChunks + queryStats + queryTemplates, 3);

    ASSERT_NE(parse({"-q", "a", "-templfields", "7"}).result, 0);
    EXPECT_EQ(queryTemplateFields, 7);
    EXPECT_EQ(queryEngine + queryJobs + queryCpus + queryLogs + queryPools, 0);
}

TEST(CommandLine, ConnectionAndFilterSettings) {
    ASSERT_NE(parse({"-s",     "farm",       "-port",      "9000",       "-u",
                     "ann",    "-p",         "pw",         "-usecache",  "-templatesdir",
                     "/t",     "-v",         "5",          "-H",         "0",
                     "-S",     "0",          "-C",         "0",          "-job",
                     "42",     "-cpu",       "x",          "-chunk",     "3",
                     "-qarc",  "2",          "-jobparent", "8",          "-jobstatus",
                     "128",    "-jobengine", "4",          "-cpustatus", "2",
                     "-cpuos", "1",          "-s",         "farm2"})
                  .result,
              0);
    EXPECT_STREQ(server, "farm2");  // a flag given twice keeps the later value
    EXPECT_EQ(nPort, 9000);
    EXPECT_EQ(username, "ann");
    EXPECT_EQ(password, "pw");
    EXPECT_TRUE(use_templates_cache);
    EXPECT_EQ(templatesdir, "/t");
    EXPECT_EQ(nVerbose, 5);
    EXPECT_EQ(nHeaders + nSeparators + nCostants, 0);
    EXPECT_EQ(jobid, 42);
    EXPECT_EQ(submitjob.jobID, 42);
    EXPECT_EQ(cpuid, 0);  // not a number reads as 0
    EXPECT_EQ(chunkid, 3);
    EXPECT_EQ(queryArchiveMode, 2);
    EXPECT_EQ(queryJobParent, 8);
    EXPECT_EQ(queryJobStatus, 128);
    EXPECT_EQ(queryJobEngine, 4);
    EXPECT_EQ(queryCpuStatus, 2);
    EXPECT_EQ(queryCpuOs, 1);
}

TEST(CommandLine, SubmissionRecord) {
    ASSERT_NE(parse({"-b",    "-folder", "-e",   "3",      "-n",    "shot",        "-max",
                     "4",     "-pr",     "60",   "-group", "proj",  "-department", "fx",
                     "-pk",   "2",       "-slc", "8",      "-pool", "gpu",         "-ske",
                     "false", "-parent", "9",    "-wait",  "1,2",   "-oma",        "a@b"})
                  .result,
              0);
    EXPECT_EQ(submitjob.folder, 1);
    EXPECT_EQ(submitjob.engine, 3);
    EXPECT_EQ(submitjob.name, "shot");
    EXPECT_EQ(submitjob.maxInstances, 4);
    EXPECT_EQ(submitjob.priority, 60);
    EXPECT_EQ(submitjob.group, "proj");
    EXPECT_EQ(submitjob.department, "fx");
    EXPECT_EQ(submitjob.packetSize, 8);  // -slc shares the packet size
    EXPECT_EQ(submitjob.pool, "gpu");
    EXPECT_TRUE(submitjob.skipErrors);  // only "0" is false
    EXPECT_EQ(submitjob.parent, 9);
    EXPECT_EQ(submitjob.wait, "1,2");
    EXPECT_TRUE(submitjob.overrideMail);
    EXPECT_EQ(submitjob.mailAddress, "a@b");
    EXPECT_EQ(submitjob.jobID, -1);
    EXPECT_EQ(submitjob.chunkTimeout, 320);
    EXPECT_EQ(submitjob.jobNotificationLevel, "Completed");
}

TEST(CommandLine, NotificationsAndTimeout) {
    ASSERT_NE(parse({"-b", "-ojn", "2", "-ocn", "0", "-oct", "-5"}).result, 0);
    EXPECT_TRUE(submitjob.overrideJobNotifications);
    EXPECT_TRUE(submitjob.jobNotificationsEnabled);
    EXPECT_EQ(submitjob.jobNotificationLevel, "With warnings");
    EXPECT_TRUE(submitjob.overrideChunkNotifications);
    EXPECT_FALSE(submitjob.chunkNotificationsEnabled);
    EXPECT_TRUE(submitjob.overrideChunkTimeout);
    EXPECT_EQ(submitjob.chunkTimeout, 320);

    ASSERT_NE(parse({"-b", "-ojn", "7", "-ocn", "1", "-oct", "45"}).result, 0);
    EXPECT_EQ(submitjob.jobNotificationLevel, "With warnings");
    EXPECT_TRUE(submitjob.chunkNotificationsEnabled);
    EXPECT_EQ(submitjob.chunkNotificationLevel, "Completed");
    EXPECT_EQ(submitjob.chunkTimeout, 45);
}

TEST(CommandLine, PropertyFlags) {
    ASSERT_NE(
        parse({"-b",    "-f",        "/s/a.ma", "-sf",   "1",           "-ef",        "10",
               "-proj", "/p",        "-add",    "-x",    "-checkfiles", "SizeLimits", "-si",
               "yes",   "-rmslices", "3",       "-ojs",  "128",         "-attr",      "quality",
               "high",  "0",         "-attr",   "cache", "/c",          "1"})
            .result,
        0);
    bool specified = false, pathSub = false;
    EXPECT_EQ(property("job_file", &specified, &pathSub), "/s/a.ma");
    EXPECT_TRUE(specified);
    EXPECT_TRUE(pathSub);
    EXPECT_EQ(property("start_frame", nullptr, &pathSub), "1");
    EXPECT_FALSE(pathSub);
    EXPECT_EQ(property("end_frame"), "10");
    EXPECT_EQ(property("job_project", nullptr, &pathSub), "/p");
    EXPECT_TRUE(pathSub);
    EXPECT_EQ(property("ADD_FLAGS"), "-x");
    EXPECT_EQ(property("check_file"), "Size limits");
    EXPECT_EQ(property("single_instance"), "1");
    EXPECT_EQ(property("remove_slices"), "1");
    EXPECT_EQ(property("overridestatus"), "128");
    EXPECT_EQ(property("quality", nullptr, &pathSub), "high");
    EXPECT_FALSE(pathSub);
    EXPECT_EQ(property("cache", nullptr, &pathSub), "/c");
    EXPECT_TRUE(pathSub);

    ASSERT_NE(parse({"-b", "-checkfiles", "Size", "-si", "0"}).result, 0);
    EXPECT_EQ(property("check_file"), "Size");
    EXPECT_EQ(property("single_instance"), "0");
    EXPECT_EQ(property("job_file"), "<absent>");  // each parse starts a fresh record
}

TEST(CommandLine, ReturnCodeCheckPairsShareTheirKey) {
    ASSERT_NE(
        parse({"-b", "-pjart", "3", "-pjacrt", "-ecacrt", "-ecart", "2", "-pcato", "30"}).result,
        0);
    bool specified = true;
    EXPECT_EQ(property("pre_job_action_check_retcode", &specified), "0");
    EXPECT_FALSE(specified);  // the later flag wins
    EXPECT_EQ(property("post_chunk_action_check_retcode", &specified), "2");
    EXPECT_TRUE(specified);
    EXPECT_EQ(property("pre_chunk_action_timeout", &specified), "30");
    EXPECT_TRUE(specified);
    EXPECT_EQ(submitjob.properties.GetSize(), 3);
}

struct ControlCase {
    std::vector<std::string> args;
    int disp, cpu, jobs, chunks;
    int expectJob, expectCpu, expectChunk;
};

TEST(CommandLine, ControlFlags) {
    const ControlCase cases[] = {
        {{"-dsr"}, 1, 0, 0, 0, -1, -1, -1},
        {{"-chp", "new"}, 2, 0, 0, 0, -1, -1, -1},
        {{"-rsc"}, 3, 0, 0, 0, -1, -1, -1},
        {{"-cds"}, 4, 0, 0, 0, -1, -1, -1},
        {{"-cpur", "4"}, 0, 2, 0, 0, -1, 4, -1},
        {{"-cpukg", "4"}, 0, 3, 0, 0, -1, 4, -1},
        {{"-cpukr", "4"}, 0, 4, 0, 0, -1, 4, -1},
        {{"-cpukp", "4"}, 0, 5, 0, 0, -1, 4, -1},
        {{"-cpurn", "4"}, 0, 6, 0, 0, -1, 4, -1},
        {{"-cpusr", "4"}, 0, 7, 0, 0, -1, 4, -1},
        {{"-cpukpjob", "6"}, 0, 8, 0, 0, 6, -1, -1},
        {{"-cpukrjob", "6"}, 0, 9, 0, 0, 6, -1, -1},
        {{"-jobp", "6"}, 0, 0, 1, 0, 6, -1, -1},
        {{"-jobr", "6"}, 0, 0, 2, 0, 6, -1, -1},
        {{"-jobri", "6"}, 0, 0, 3, 0, 6, -1, -1},
        {{"-jobrm", "6"}, 0, 0, 10, 0, 6, -1, -1},
        {{"-unlock", "6"}, 0, 0, 12, 0, 6, -1, -1},
        {{"-lock", "6"}, 0, 0, 13, 0, 6, -1, -1},
        {{"-archive", "6"}, 0, 0, 14, 0, 6, -1, -1},
        {{"-unarchive", "6"}, 0, 0, 15, 0, 6, -1, -1},
        {{"-chunkrq", "6", "2"}, 0, 0, 0, 1, 6, -1, 2},
        {{"-chunkdn", "6", "2"}, 0, 0, 0, 2, 6, -1, 2},
    };
    for (const ControlCase& c : cases) {
        ASSERT_NE(parse(c.args).result, 0) << c.args[0];
        EXPECT_EQ(controlActive, 1) << c.args[0];
        EXPECT_EQ(controlDisp, c.disp) << c.args[0];
        EXPECT_EQ(controlCpu, c.cpu) << c.args[0];
        EXPECT_EQ(controlJobs, c.jobs) << c.args[0];
        EXPECT_EQ(controlChunks, c.chunks) << c.args[0];
        EXPECT_EQ(jobid, c.expectJob) << c.args[0];
        EXPECT_EQ(cpuid, c.expectCpu) << c.args[0];
        EXPECT_EQ(chunkid, c.expectChunk) << c.args[0];
    }
    EXPECT_EQ(parse({"-chp", "secret"}).result, 1);
    EXPECT_EQ(new_password, "secret");
}

TEST(CommandLine, JobCommandArguments) {
    const struct {
        const char* flag;
        int code;
    } textCommands[] = {{"-jobrn", 4}, {"-jobpo", 6},    {"-jobdp", 8},
                        {"-jobnt", 9}, {"-jobproj", 16}, {"-jobdep", 17}};
    for (const auto& c : textCommands) {
        ASSERT_NE(parse({c.flag, "11", "some text"}).result, 0);
        EXPECT_EQ(controlJobs, c.code) << c.flag;
        EXPECT_EQ(jobid, 11) << c.flag;
        EXPECT_STREQ(strBuffer, "some text") << c.flag;
    }
    const struct {
        const char* flag;
        int code;
    } numberCommands[] = {{"-jobpr", 5}, {"-jobmn", 7}, {"-jobpa", 11}};
    // Read as a long: beyond int where long is wider (not on Windows).
    const long wide = static_cast<long>(LONG_MAX > 3000000000LL ? 3000000000LL : 2000000000LL);
    for (const auto& c : numberCommands) {
        ASSERT_NE(parse({c.flag, "11", std::to_string(wide).c_str()}).result, 0);
        EXPECT_EQ(controlJobs, c.code) << c.flag;
        EXPECT_EQ(intBuffer, wide) << c.flag;
    }
}

TEST(Tokenizer, SkipsEmptyItemsAndCapsTheCount) {
    char* tokens[kMaxTokens];
    int count = tokenizer(",name,,id,", tokens);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(tokens[0], "name");
    EXPECT_STREQ(tokens[1], "id");
    EXPECT_EQ(tokens[2], nullptr);
    deallocatetokens(count, tokens);

    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "f" + std::to_string(i) + ",";
    count = tokenizer(many.c_str(), tokens);
    ASSERT_EQ(count, 255);
    EXPECT_STREQ(tokens[254], "f254");
    EXPECT_EQ(tokens[255], nullptr);
    deallocatetokens(count, tokens);

    EXPECT_EQ(tokenizer("", tokens), 0);
    EXPECT_EQ(tokens[0], nullptr);
}

TEST(FieldLists, ReplaceTheColumns) {
    ASSERT_NE(parse({"-jf", "name,,id,foo"}).result, 0);
    EXPECT_EQ(jobColumns, (std::vector<std::string>{"name", "id", "foo"}));

    ASSERT_NE(parse({"-cf", "ip,notes", "-hf", "result", "-lf", "user,type", "-pf", "ip"}).result,
              0);
    EXPECT_EQ(cpuColumns[0], 6);
    EXPECT_EQ(cpuColumns[1], 22);
    EXPECT_EQ(cpuColumns[2], 0);
    EXPECT_EQ(chunkColumns[0], 11);
    EXPECT_EQ(chunkColumns[1], 0);
    EXPECT_EQ(logColumns[0], 6);
    EXPECT_EQ(logColumns[1], 1);
    EXPECT_EQ(logColumns[2], 0);
    EXPECT_EQ(poolColumns[0], 3);
    EXPECT_EQ(poolColumns[1], 0);
}

TEST(FieldLists, RejectedListLeavesTheColumnsAlone) {
    resetColumnLists();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(buildCpuFormat("name,bogus"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nInvalid cpu format: bogus\n");
    EXPECT_EQ(cpuColumns[0], 2);  // default id, name, sst, status, os
    EXPECT_EQ(cpuColumns[4], 3);
    EXPECT_EQ(cpuColumns[5], 0);
    EXPECT_FALSE(buildJobFormat(""));
    EXPECT_EQ(jobColumns.size(), 9u);
}

TEST(FieldLists, NodeMinimumWidthsFollowTheirTable) {
    // TPAUSE is 6 wide under 7 dashes; RAM USAGE is at least 10 under 9 dashes.
    EXPECT_EQ(cpuCatalogue.Find(11)->underline, 7);
    EXPECT_EQ(cpuCatalogue.Find(11)->minWidth, 7);
    EXPECT_EQ(cpuCatalogue.Find(20)->underline, 9);
    EXPECT_EQ(cpuCatalogue.Find(20)->minWidth, 10);
    auto expectHeaderWidths = [](const auto& catalogue) {
        int number = 0;
        for (const auto& f : catalogue) {
            EXPECT_EQ(f.number, ++number);
            EXPECT_EQ(static_cast<size_t>(f.minWidth), std::strlen(f.header)) << f.keyword;
            EXPECT_EQ(static_cast<size_t>(f.underline), std::strlen(f.header)) << f.keyword;
        }
    };
    expectHeaderWidths(chunkCatalogue);
    expectHeaderWidths(logCatalogue);
    expectHeaderWidths(poolCatalogue);
    expectHeaderWidths(jobCatalogue);
}

}  // namespace
