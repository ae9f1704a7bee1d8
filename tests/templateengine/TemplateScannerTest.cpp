// Tests of the application scanner: collecting from templates, file-name patterns, the file scan
// over a temporary tree (callbacks, order, links), the environment scan and the configuration.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TemplateTestSupport.h"
#include "TestFolders.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

TEST(ScannerPatternTest, MatchesAlternativesStarsAndCase) {
    struct Case {
        const char* key;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"Maya*|Render", "Render", true},
        {"Maya*|Render", "render", true},
        {"Maya*|Render", "MAYA2009", true},
        {"Maya*|Render", "Renderer", false},
        {"Maya*|Render", "Mayb", false},
        {"maya*.bin", "maya2009.bin", true},
        {"maya*.bin", "MAYA2009.BIN", true},
        {"maya*.bin", "maya.bin", true},
        {"maya*.bin", "maya2009.bin.old", false},
        {"maya*.bin", "mayabin", false},
        {"a*a", "a", false},  // prefix and suffix may not share the name's one character
        {"*.run", "glimmer.RUN", true},
        {"*", "anything", true},
        {"a*b*c", "axb*c", true},  // only the first star is a wildcard
        {"a*b*c", "axbyc", false},
        {"one||two", "two", true},
        {"", "x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compareFilePattern(c.key, c.name), c.matches) << c.key << " / " << c.name;
}

TEST(ScannerMacroTest, ExpandsPathMacrosOnceInOrder) {
    zrTemplateScannerApp app;
    app.setBasePath("/x/y/z");
    app.setAppExec("/x/y/z/render");
    struct Case {
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"%ATTR(APPPATH)|%ATTR(APPEXEC)|%ATTR(APPBIN)", "/x/y/z|/x/y/z/render|render"},
        {"%ATTR(APPPATH):%ATTR(APPPATH)", "/x/y/z:%ATTR(APPPATH)"},
        {"%BACKPATH(APPPATH,2)/bin", "/x/bin"},
        {"%BACKPATH(APPPATH,0)/bin", "/bin"},
        {"%BACKPATH(APPPATH, 1)", "/x/y"},
        {"%BACKPATH(APPEXEC,1)", "/x/y/z"},
        {"%BACKPATH(APPPATH,9)", ""},
        {"%BACKPATH(APPPATH,99999999999)", ""},
        {"%BACKPATH(OTHER,1)x", "x"},
        {"%BACKPATH(APPPATH)x", "x"},
        {"pre %BACKPATH(APPPATH,1", "pre "},
        {"no macros", "no macros"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(substConfigMacro(c.value, &app), c.expected) << c.value;
}

TEST(ScannerMacroTest, NeverExpandsMacroTextInsideAFoundPath) {
    zrTemplateScannerApp app;
    app.setBasePath("/opt/%ATTR(APPEXEC)");
    app.setAppExec("tool");
    EXPECT_EQ(substConfigMacro("%ATTR(APPPATH) %ATTR(APPEXEC)", &app), "/opt/%ATTR(APPEXEC) tool");
    app.setBasePath("/opt/%BACKPATH(APPEXEC,1)");
    EXPECT_EQ(substConfigMacro("%ATTR(APPPATH)", &app), "/opt/%BACKPATH(APPEXEC,1)");
}

// Records every hit offered; declines the application names listed in `decline`.
struct FoundLog {
    std::vector<std::pair<std::string, std::string>> offered;  // application, path
    std::set<std::string> decline;

    static bool Callback(zrTemplateScannerApp* app, const char* path, void* data) {
        FoundLog* log = static_cast<FoundLog*>(data);
        log->offered.emplace_back(app->name(), path);
        return log->decline.count(app->name()) == 0;
    }
};

struct ProgressLog {
    std::vector<std::string> paths;
    size_t abortAfter = SIZE_MAX;

    static bool Callback(const char* path, void* data) {
        ProgressLog* log = static_cast<ProgressLog*>(data);
        log->paths.push_back(path);
        return log->paths.size() < log->abortAfter;
    }
};

#ifdef _WIN32
const char* const kBlock = "ENGINE_WIN";
const char* const kOtherBlock = "ENGINE_MAC";
#else
const char* const kBlock = "ENGINE_MAC";
const char* const kOtherBlock = "ENGINE_WIN";
#endif

// A path written with "/" in the platform's own syntax.
std::string Native(std::string path) {
#ifdef _WIN32
    for (char& c : path)
        if (c == '/') c = '\\';
#endif
    return path;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = zdTest::MakeTempFolder("zrscan-");
        ASSERT_FALSE(root_.empty());
        scanner_ = zrTemplateScanner::GetUniqueClass();
    }
    void TearDown() override {
        zrTemplateScanner::DestroyUniqueClass();
        zrTemplateManager::GetUniqueClass()->Clear();
        if (!root_.empty()) std::filesystem::remove_all(root_);
    }

    // Registers a template of `uid` whose platform block holds `lines`.
    void AddTemplate(int uid, const std::string& lines, const char* block = kBlock) {
        std::string error;
        ASSERT_NE(
            Register(zrTemplateManager::GetUniqueClass(),
                     MinimalTemplate(uid, "SINGLE",
                                     std::string("DECLARE ") + block + "\n{\n" + lines + "\n}\n"),
                     ("t" + std::to_string(uid) + ".template").c_str(), false, &error),
            nullptr)
            << error;
    }

    void MakeFile(const std::string& relative) {
        const std::filesystem::path path = root_ + Native("/" + relative);
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path.string()) << "x";
    }

    zrTemplateScannerApp* App(const zrTemplateScannerAppList& list, const std::string& name) {
        for (const auto& app : list)
            if (app->name() == name) return app.get();
        return nullptr;
    }

    std::string root_;
    zrTemplateScanner* scanner_ = nullptr;
};

TEST_F(ScannerTest, CollectsValidFindersIntoTheirListsFirstTemplateWinning) {
    AddTemplate(10, "SET APPFINDER Vortex EXECUTABLE \"vortex*\"");
    AddTemplate(20, "SET APPFINDER Vortex EXECUTABLE \"vtx\"");  // same name, higher UID
    AddTemplate(30, "SET APPFINDER Lower executable \"x\"");     // type is case-sensitive
    AddTemplate(40, "SET APPFINDER Short EXECUTABLE");
    AddTemplate(50,
                "SET APPFINDER Glint ENVIRONMENTPATH GLINT_HOME\nSET APPFINDER G2 "
                "ENVIRONMENTFILE OTHER");
    AddTemplate(60, "SET APPFINDER Reg REGISTRYFILE \"HKEY_CURRENT_USER\\\\Soft\\\\Exe\"");
    AddTemplate(70, "SET APPFINDER BadReg REGISTRYPATH \"HKEY_NOWHERE\\\\Soft\"");
    AddTemplate(80, "SET APPFINDER Elsewhere EXECUTABLE \"el*\"", kOtherBlock);
    scanner_->initAppScanner();

    ASSERT_EQ(scanner_->fileList().size(), 1u);
    EXPECT_EQ(scanner_->fileList()[0]->key(), "vtx");
    ASSERT_EQ(scanner_->environmentList().size(), 1u);
    zrTemplateScannerApp* glint = scanner_->environmentList()[0].get();
    EXPECT_EQ(glint->name(), "Glint");
    EXPECT_FALSE(glint->searchExec());
    EXPECT_EQ(glint->searchSystem(), kScanSystemEnvironment);
    ASSERT_EQ(scanner_->registryList().size(), 1u);
    EXPECT_EQ(scanner_->registryList()[0]->name(), "Reg");

    // Collecting again adds nothing: every name is already there.
    scanner_->initAppScanner();
    EXPECT_EQ(scanner_->fileList().size(), 1u);
    scanner_->shutdownAppScanner();
    EXPECT_TRUE(scanner_->fileList().empty());
}

#ifndef _WIN32
TEST_F(ScannerTest, PrefersALinuxBlockWhenTheTemplateHasOne) {
    AddTemplate(10,
                "SET APPFINDER Mac EXECUTABLE mac\n}\nDECLARE ENGINE_LINUX\n{\nSET APPFINDER "
                "Linux EXECUTABLE lin");
    scanner_->initAppScanner();
    ASSERT_EQ(scanner_->fileList().size(), 1u);
    EXPECT_EQ(scanner_->fileList()[0]->name(), "Linux");
}

#endif

TEST_F(ScannerTest, FindsFilesDepthFirstAndReportsFullPaths) {
    AddTemplate(20, "SET APPFINDER Vortex EXECUTABLE \"Vortex*|vrender\"");
    AddTemplate(10, "SET APPFINDER Glimmer EXECUTABLE \"glim*.run\"");
    MakeFile("top.txt");
    MakeFile("apps/vortex/bin/VRender");
    MakeFile("apps/glimmer/glimmer-2.RUN");
    MakeFile("apps/glimmer/glimmer-2.run.bak");
    scanner_->initAppScanner();

    ProgressLog progress;
    FoundLog found;
    scanner_->registerProgressCallback(ProgressLog::Callback, &progress);
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    EXPECT_TRUE(scanner_->startFileScan(false, root_.c_str()));

    zrTemplateScannerApp* vortex = App(scanner_->fileList(), "Vortex");
    ASSERT_TRUE(vortex && vortex->isFound());
    EXPECT_EQ(vortex->basePath(), root_ + Native("/apps/vortex/bin"));
    EXPECT_EQ(vortex->appExec(), "VRender");
    zrTemplateScannerApp* glimmer = App(scanner_->fileList(), "Glimmer");
    ASSERT_TRUE(glimmer && glimmer->isFound());
    EXPECT_EQ(glimmer->appExec(), "glimmer-2.RUN");
    EXPECT_EQ(found.offered.size(), 2u);

    // A folder's files come after everything below it.
    ASSERT_EQ(progress.paths.size(), 4u);
    EXPECT_EQ(progress.paths.back(), root_ + Native("/top.txt"));
    EXPECT_TRUE(std::find(found.offered.begin(), found.offered.end(),
                          std::make_pair(std::string("Vortex"),
                                         root_ + Native("/apps/vortex/bin/VRender"))) !=
                found.offered.end());
}

TEST_F(ScannerTest, OffersAFileToTheNextApplicationOnlyWhenOneDeclines) {
    AddTemplate(20, "SET APPFINDER First EXECUTABLE \"shared*\"");
    AddTemplate(10, "SET APPFINDER Second EXECUTABLE \"*.bin\"");
    MakeFile("shared.bin");
    struct Case {
        std::set<std::string> decline;
        std::vector<std::string> offered;
        bool firstFound, secondFound;
    };
    const Case cases[] = {
        {{}, {"First"}, true, false},
        {{"First"}, {"First", "Second"}, false, true},
        {{"First", "Second"}, {"First", "Second"}, false, false},
    };
    for (const Case& c : cases) {
        scanner_->shutdownAppScanner();
        scanner_->initAppScanner();
        FoundLog found;
        found.decline = c.decline;
        scanner_->registerFoundCallback(FoundLog::Callback, &found);
        EXPECT_TRUE(scanner_->startFileScan(true, root_.c_str()));
        std::vector<std::string> offered;
        for (const auto& hit : found.offered)
            offered.push_back(hit.first);
        EXPECT_EQ(offered, c.offered);
        EXPECT_EQ(App(scanner_->fileList(), "First")->isFound(), c.firstFound);
        EXPECT_EQ(App(scanner_->fileList(), "Second")->isFound(), c.secondFound);
    }
}

TEST_F(ScannerTest, NeedsTheFoundCallbackAndKeepsFlagsUntilReset) {
    AddTemplate(10, "SET APPFINDER Vortex EXECUTABLE vortex");
    MakeFile("a/vortex");
    scanner_->initAppScanner();
    zrTemplateScannerApp* vortex = scanner_->fileList()[0].get();

    EXPECT_TRUE(scanner_->startFileScan(false, root_.c_str()));
    EXPECT_FALSE(vortex->isFound());

    FoundLog found;
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    scanner_->startFileScan(false, root_.c_str());
    scanner_->startFileScan(false, root_.c_str());
    EXPECT_EQ(found.offered.size(), 1u);  // found once; not offered again without reset
    scanner_->startFileScan(true, root_.c_str());
    EXPECT_EQ(found.offered.size(), 2u);
    EXPECT_TRUE(vortex->isFound());

    vortex->setFound(false);
    vortex->setEnabled(false);
    scanner_->startFileScan(true, root_.c_str());
    EXPECT_EQ(found.offered.size(), 2u);
}

TEST_F(ScannerTest, ProgressCallbackAbortsTheScan) {
    AddTemplate(10, "SET APPFINDER Vortex EXECUTABLE vortex");
    MakeFile("a/one");
    MakeFile("b/two");
    MakeFile("c/three");
    scanner_->initAppScanner();
    ProgressLog progress;
    progress.abortAfter = 2;
    scanner_->registerProgressCallback(ProgressLog::Callback, &progress);
    EXPECT_FALSE(scanner_->startFileScan(false, root_.c_str()));
    EXPECT_EQ(progress.paths.size(), 2u);

    // Without applications to find nothing is walked at all.
    scanner_->shutdownAppScanner();
    progress.paths.clear();
    EXPECT_TRUE(scanner_->startFileScan(false, root_.c_str()));
    EXPECT_TRUE(progress.paths.empty());
}

#ifndef _WIN32
TEST_F(ScannerTest, ScansEachFolderOnceThroughLinkLoops) {
    AddTemplate(10, "SET APPFINDER Vortex EXECUTABLE nothing-here");
    MakeFile("a/b/file");
    MakeFile("a/other");
    ASSERT_EQ(symlink(root_.c_str(), (root_ + "/a/b/up").c_str()), 0);
    ASSERT_EQ(symlink("..", (root_ + "/a/b/parent").c_str()), 0);
    ASSERT_EQ(symlink("b", (root_ + "/a/sideways").c_str()), 0);
    scanner_->initAppScanner();
    ProgressLog progress;
    scanner_->registerProgressCallback(ProgressLog::Callback, &progress);
    EXPECT_TRUE(scanner_->startFileScan(false, root_.c_str()));
    std::multiset<std::string> names;
    for (const std::string& path : progress.paths)
        names.insert(std::filesystem::path(path).filename().string());
    EXPECT_EQ(names, (std::multiset<std::string>{"file", "other"}));
}

#else
TEST_F(ScannerTest, RootWithAFinalBackslashGivesSingleSeparators) {
    AddTemplate(10, "SET APPFINDER Vortex EXECUTABLE vortex");
    MakeFile("a/vortex");
    scanner_->initAppScanner();
    ProgressLog progress;
    scanner_->registerProgressCallback(ProgressLog::Callback, &progress);
    EXPECT_TRUE(scanner_->startFileScan(false, (root_ + "\\").c_str()));
    EXPECT_EQ(progress.paths, std::vector<std::string>{root_ + "\\a\\vortex"});
}
#endif

TEST_F(ScannerTest, EnvironmentScanSplitsFilesAndTrimsFolders) {
    AddTemplate(50, "SET APPFINDER Tool ENVIRONMENTFILE ZDT_TOOL");
    AddTemplate(40, "SET APPFINDER Home ENVIRONMENTPATH ZDT_HOME");
    AddTemplate(30, "SET APPFINDER Bare ENVIRONMENTFILE ZDT_BARE");
    AddTemplate(20, "SET APPFINDER Missing ENVIRONMENTPATH ZDT_MISSING");
    AddTemplate(10, "SET APPFINDER Off ENVIRONMENTPATH ZDT_HOME");
    scanner_->initAppScanner();
    App(scanner_->environmentList(), "Off")->setEnabled(false);

    ZRProcesses::zrEnvironment* environment = ZRProcesses::CreateEnvironment(false);
    ZRProcesses::SetEnvironmentValue(environment, "ZDT_TOOL", "/opt/tool/bin/tool");
    ZRProcesses::SetEnvironmentValue(environment, "ZDT_HOME", "/opt/home/");
    ZRProcesses::SetEnvironmentValue(environment, "ZDT_BARE", "tool");
    EXPECT_TRUE(scanner_->startEnvScan(false, environment));
    ZRProcesses::DestroyEnvironment(environment);

    const zrTemplateScannerAppList& list = scanner_->environmentList();
    // Windows reads the values with backslashes.
    EXPECT_EQ(App(list, "Tool")->basePath(), Native("/opt/tool/bin"));
    EXPECT_EQ(App(list, "Tool")->appExec(), Native("/opt/tool/bin/tool"));
    EXPECT_EQ(App(list, "Home")->basePath(), Native("/opt/home"));
    EXPECT_EQ(App(list, "Home")->appExec(), Native("/opt/home"));
    EXPECT_EQ(App(list, "Bare")->basePath(), "tool");
    EXPECT_FALSE(App(list, "Missing")->isFound());
    EXPECT_FALSE(App(list, "Off")->isFound());

    // The process's own environment is what a scan without one reads.
    ASSERT_TRUE(zdTest::SetEnv("ZDT_MISSING", "/srv/missing"));
    EXPECT_TRUE(scanner_->startEnvScan(false));
    zdTest::UnsetEnv("ZDT_MISSING");
    EXPECT_EQ(App(list, "Missing")->appExec(), Native("/srv/missing"));
}

TEST_F(ScannerTest, BuildsOneSectionPerFoundEnabledApplication) {
    AddTemplate(30,
                "SET APPFINDER Vortex EXECUTABLE \"vortex*\"\nMAP Vortex_Path \"%ATTR(APPPATH)\"\n"
                "MAP vortex_root \"%BACKPATH(APPPATH,2)/lib\"\nMAP bare");
    AddTemplate(25, "SET APPFINDER Vortex EXECUTABLE \"vortex*\"\nMAP again \"%ATTR(APPEXEC)\"");
    AddTemplate(20, "SET APPFINDER Vortex EXECUTABLE \"other\"\nMAP never x");
    AddTemplate(10, "SET APPFINDER Glimmer EXECUTABLE \"glimmer\"\nMAP glimmer x");
    MakeFile("opt/vortex/bin/vortex5");
    MakeFile("glimmer");
    scanner_->initAppScanner();
    FoundLog found;
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    scanner_->startFileScan(false, root_.c_str());
    App(scanner_->fileList(), "Glimmer")->setEnabled(false);

    zrConfigManager config;
    scanner_->buildConfiguration(&config);
    const std::map<std::string, std::string> expected = {
        {"30#vortex_path", root_ + Native("/opt/vortex/bin")},
        {"30#vortex_root", root_ + Native("/opt") + "/lib"},
        {"30#bare", ""},
        {"30#enabled", "1"},
        {"25#again", "vortex5"},
        {"25#enabled", "1"},
    };
    EXPECT_EQ(config.values, expected);
}

TEST_F(ScannerTest, SurvivesTheTemplateManagerBeingReplaced) {
    zrTemplateManager::DestroyUniqueClass();
    AddTemplate(10, "SET APPFINDER Vortex ENVIRONMENTPATH ZDT_HOME\nMAP home \"%ATTR(APPPATH)\"");
    scanner_->initAppScanner();
    ZRProcesses::zrEnvironment* environment = ZRProcesses::CreateEnvironment(false);
    ZRProcesses::SetEnvironmentValue(environment, "ZDT_HOME", "/h");
    scanner_->startEnvScan(false, environment);
    ZRProcesses::DestroyEnvironment(environment);
    zrConfigManager config;
    scanner_->buildConfiguration(&config);
    EXPECT_EQ(config.values["10#home"], Native("/h"));

    zrTemplateScanner::DestroyUniqueClass();
    EXPECT_NE(zrTemplateScanner::GetUniqueClass(), nullptr);
    EXPECT_TRUE(zrTemplateScanner::GetUniqueClass()->environmentList().empty());
}

}  // namespace
