// The real zdtool program: exit statuses, messages, the usage text and the default cache folder.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class ZdtoolProgram : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zdtool-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + home_ + "'").c_str()); }

    struct Run {
        int status;
        std::string out;
        std::string err;
    };

    // Runs zdtool with HOME pointing into the test's own folder, `input` on standard input and
    // `variables` added to an environment without the tool's own variables.
    Run run(std::vector<std::string> args, const std::string& input = "",
            const std::vector<std::string>& variables = {}) {
        args.insert(args.begin(), ZDTOOL_PATH);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::string homeVar = "HOME=" + home_;
        std::vector<char*> env{homeVar.data()};
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("HOME=", 0) != 0 && entry.rfind("ZD_", 0) != 0) env.push_back(*e);
        }
        for (const std::string& variable : variables)
            env.push_back(const_cast<char*>(variable.c_str()));
        env.push_back(nullptr);
        const std::string inPath = home_ + "/stdin";
        std::ofstream(inPath, std::ios::binary) << input;

        std::string outPath = home_ + "/stdout", errPath = home_ + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = 0;
        int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0);
        int wstatus = 0;
        waitpid(pid, &wstatus, 0);
        EXPECT_TRUE(WIFEXITED(wstatus));
        return {WEXITSTATUS(wstatus), readFile(outPath), readFile(errPath)};
    }

    bool isDirectory(const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    std::string home_;
};

TEST_F(ZdtoolProgram, UsageTextMatchesItsGoldenFile) {
    Run r = run({"-h"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, readFile(std::string(ZD_FIXTURES_DIR) + "/usage.txt"));
    EXPECT_EQ(r.err, "");
}

TEST_F(ZdtoolProgram, HelpAddsItsSectionAndVersionPrintsTheVersionBothWithStatus0) {
    Run help = run({"-s", "farm", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, readFile(std::string(ZD_FIXTURES_DIR) + "/usage.txt") +
                            readFile(std::string(ZD_FIXTURES_DIR) + "/help_additions.txt"));
    EXPECT_EQ(help.err, "");
    for (const char* flag : {"--version", "-version"}) {
        Run version = run({flag, "-v", "3"});
        EXPECT_EQ(version.status, 0) << flag;
        EXPECT_EQ(version.out, "zdtool " ZDTOOL_TEST_VERSION "\n") << flag;
        EXPECT_EQ(version.err, "") << flag;
    }
}

// The password is read before connecting, so these fail without a Dispatcher.
TEST_F(ZdtoolProgram, PasswordFromStandardInputThatCannotBeUsed) {
    const std::string tooLong(4097, 'p');
    Run r = run({"-s", "127.0.0.1", "-port", "1", "-p", "-"}, tooLong + "\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "\nPassword too long: at most 4096 bytes.\n");
    EXPECT_EQ(r.err.find("ppp"), std::string::npos);
    // Without a server nothing is read.
    r = run({"-p", "-"}, tooLong);
    EXPECT_EQ(r.err, "\nNo server flag specified.\n");
}

TEST_F(ZdtoolProgram, FailuresEndWithStatus255AndTheirMessage) {
    const struct {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{}, "\nNo server flag specified.\n"},
        {{"-q", "j"}, "\nNo server flag specified.\n"},
        {{"-s", "farm", "-h"}, "\nInvalid flag(3): -h\n"},
        {{"-x", "--help"}, "\nInvalid flag(1): -x\n"},
        {{"-eev"}, "\nFlag -eev supported only on Windows platform\n"},
        {{"-s", "farm", "-jobrn", "4"}, "\nNo value supplied for flag: -jobrn\n"},
        {{"-b", "-q", "j", "-s", "farm"}, "\nPlease specify query/control or submit mode.\n"},
        {{"-cf", "id,bogus", "-s", "farm"}, "\nInvalid cpu format: bogus\n"},
    };
    for (const auto& c : cases) {
        Run r = run(c.args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(ZdtoolProgram, CreatesTheDefaultCacheFolderBeforeParsing) {
    std::string other = home_ + "/elsewhere";
    run({"-templatesdir", other, "-q", "j"});
    EXPECT_TRUE(isDirectory(home_ + "/.Zendro6/templates"));
    EXPECT_FALSE(isDirectory(other));
}

}  // namespace

#else

// zdtool.exe runs under Wine beside the native program in ToolUnderWine, which compares the
// usage text, failures and listings of both.
TEST(ZdtoolProgram, RunsUnderWineInTheEndToEndScript) {
    GTEST_SKIP() << "spawning with posix_spawn: the Windows program is checked by ToolUnderWine";
}

#endif
