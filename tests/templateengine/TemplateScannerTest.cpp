// Tests of the application scanner: collecting from templates, file-name patterns, the file scan
// over a temporary tree (callbacks, order, links), the environment scan, the registry walk over a
// tree of the test's own (and on Windows over keys of the system registry) and the configuration.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#endif
#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
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

// Records every hit offered; declines the application names and the paths listed in `decline`.
struct FoundLog {
    std::vector<std::pair<std::string, std::string>> offered;  // application, path
    std::set<std::string> decline;

    static bool Callback(zrTemplateScannerApp* app, const char* path, void* data) {
        FoundLog* log = static_cast<FoundLog*>(data);
        log->offered.emplace_back(app->name(), path);
        return log->decline.count(app->name()) == 0 && log->decline.count(path) == 0;
    }
};

// A registry tree of the test's own; subkeys are listed in the order they were added.
struct FakeNode {
    std::string name;
    std::vector<std::unique_ptr<FakeNode>> subkeys;
    std::map<std::string, std::pair<bool, std::string>> values;  // name: (is text, text)
    bool broken = false;  // opening and listing its subkeys fail

    // The key at the "\\"-separated `path` below this one, made as needed.
    FakeNode& Subkey(const std::string& path) {
        FakeNode* node = this;
        size_t start = 0;
        for (;;) {
            const size_t end = path.find('\\', start);
            const std::string part = path.substr(start, end - start);
            FakeNode* next = nullptr;
            for (const auto& subkey : node->subkeys)
                if (subkey->name == part) next = subkey.get();
            if (!next) {
                node->subkeys.push_back(std::make_unique<FakeNode>());
                next = node->subkeys.back().get();
                next->name = part;
            }
            node = next;
            if (end == std::string::npos) return *node;
            start = end + 1;
        }
    }
};

class FakeKey : public zrRegistryKey {
public:
    explicit FakeKey(const FakeNode* node) : node_(node) {}

    std::unique_ptr<zrRegistryKey> openSubkey(const std::string& name,
                                              zrRegistryStatus& status) override {
        status = node_->broken ? zrRegistryStatus::kFailed : zrRegistryStatus::kAbsent;
        if (node_->broken) return nullptr;
        for (const auto& subkey : node_->subkeys) {
            if (subkey->name == name) {
                status = zrRegistryStatus::kOk;
                return std::make_unique<FakeKey>(subkey.get());
            }
        }
        return nullptr;
    }
    zrRegistryStatus subkeyName(unsigned long index, std::string& name) override {
        if (node_->broken) return zrRegistryStatus::kFailed;
        if (index >= node_->subkeys.size()) return zrRegistryStatus::kAbsent;
        name = node_->subkeys[index]->name;
        return zrRegistryStatus::kOk;
    }
    zrRegistryStatus readValue(const std::string& name, bool& isString,
                               std::string& text) override {
        const auto value = node_->values.find(name);
        if (value == node_->values.end()) return zrRegistryStatus::kAbsent;
        isString = value->second.first;
        text = value->second.second;
        return zrRegistryStatus::kOk;
    }

private:
    const FakeNode* node_;
};

// Where the registry scenario keeps its keys: below `root`, a key of HKEY_CURRENT_USER.
class RegistryLayout {
public:
    virtual ~RegistryLayout() = default;
    virtual void SetText(const std::string& key, const std::string& name,
                         const std::string& text) = 0;
    virtual void SetNumber(const std::string& key, const std::string& name, unsigned number) = 0;
    std::string root;
};

class FakeLayout : public RegistryLayout {
public:
    FakeLayout() { root = "HKEY_CURRENT_USER\\Software\\zdtest"; }
    void SetText(const std::string& key, const std::string& name,
                 const std::string& text) override {
        top.Subkey(root + "\\" + key).values[name] = {true, text};
    }
    void SetNumber(const std::string& key, const std::string& name, unsigned number) override {
        top.Subkey(root + "\\" + key).values[name] = {false, std::to_string(number)};
    }
    FakeNode top;
};

// A registry key path as a quoted template value.
std::string Quoted(const std::string& key) {
    std::string quoted = "\"";
    for (char c : key) {
        if (c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

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

    // Finds applications by a "*" component (declining its first match), by a literal path, a
    // number and a missing key; rescans with and without reset; configures what it found.
    void RegistryScenario(RegistryLayout& layout, const std::function<bool(bool reset)>& scan) {
        layout.SetText("Vendor\\Add-ons", "InstallDir", "C:\\Addons\\addons.exe");
        layout.SetText("Vendor\\App 1.0", "InstallDir", "C:\\Old\\app.exe");
        layout.SetText("Vendor\\App 2.0", "InstallDir", "C:/Program Files/App/app.exe");
        layout.SetText("Vendor\\App 3.0", "InstallDir", "C:\\New\\app.exe");
        layout.SetText("Tools", "Path", "D:\\Tools\\");
        layout.SetNumber("Counter", "Count", 7);
        const std::string& root = layout.root;
        AddTemplate(
            60, "SET APPFINDER Render REGISTRYFILE " + Quoted(root + "\\Vendor\\app*\\InstallDir") +
                    "\nMAP render_path \"%ATTR(APPPATH)\"\nMAP render_exec \"%ATTR(APPEXEC)\"");
        AddTemplate(50, "SET APPFINDER Tools REGISTRYPATH " + Quoted(root + "\\Tools\\Path") +
                            "\nMAP tools \"%ATTR(APPPATH)\"");
        AddTemplate(40, "SET APPFINDER Counter REGISTRYFILE " + Quoted(root + "\\Counter\\Count") +
                            "\nMAP counter x");
        AddTemplate(30, "SET APPFINDER Missing REGISTRYPATH " + Quoted(root + "\\Nothing\\Path") +
                            "\nMAP missing x");
        scanner_->initAppScanner();
        FoundLog found;
        found.decline = {root + "\\Vendor\\App 1.0"};
        scanner_->registerFoundCallback(FoundLog::Callback, &found);
        EXPECT_TRUE(scan(false));

        // Once App 2.0 is accepted, App 3.0 is not asked about; a number is asked about but
        // found as nothing.
        const std::vector<std::pair<std::string, std::string>> offered = {
            {"Render", root + "\\Vendor\\App 1.0"},
            {"Render", root + "\\Vendor\\App 2.0"},
            {"Tools", root + "\\Tools"},
            {"Counter", root + "\\Counter"}};
        EXPECT_EQ(found.offered, offered);
        const zrTemplateScannerAppList& list = scanner_->registryList();
        // The folder is cut at the last backslash, not the first.
        EXPECT_EQ(App(list, "Render")->appExec(), "C:\\Program Files\\App\\app.exe");
        EXPECT_EQ(App(list, "Render")->basePath(), "C:\\Program Files\\App");
        EXPECT_EQ(App(list, "Tools")->appExec(), "D:\\Tools");
        EXPECT_EQ(App(list, "Tools")->basePath(), "D:\\Tools");
        EXPECT_FALSE(App(list, "Counter")->isFound());
        EXPECT_FALSE(App(list, "Missing")->isFound());

        // Found applications are walked again only after a reset.
        layout.SetText("Vendor\\App 2.0", "InstallDir", "E:\\App2\\app.exe");
        found.offered.clear();
        EXPECT_TRUE(scan(false));
        EXPECT_EQ(found.offered.size(), 1u);  // Counter only
        EXPECT_EQ(App(list, "Render")->basePath(), "C:\\Program Files\\App");
        EXPECT_TRUE(scan(true));
        EXPECT_EQ(found.offered.size(), 5u);
        EXPECT_EQ(App(list, "Render")->basePath(), "E:\\App2");

        zrConfigManager config;
        scanner_->buildConfiguration(&config);
        const std::map<std::string, std::string> expected = {
            {"60#render_path", "E:\\App2"},
            {"60#render_exec", "E:\\App2\\app.exe"},
            {"60#enabled", "1"},
            {"50#tools", "D:\\Tools"},
            {"50#enabled", "1"}};
        EXPECT_EQ(config.values, expected);
        scanner_->registerFoundCallback(nullptr, nullptr);
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

TEST_F(ScannerTest, RegistryWalkMatchesComponentsAndSetsFoundValues) {
    FakeLayout layout;
    FakeKey top(&layout.top);
    RegistryScenario(layout, [&](bool reset) { return scanner_->startRegScan(reset, &top); });
}

TEST_F(ScannerTest, RegistryWalkStopsWhenReadingFailsAndBoundsItsDepth) {
    AddTemplate(50, "SET APPFINDER Deep REGISTRYPATH HKEY_CURRENT_USER");
    AddTemplate(40, "SET APPFINDER Deeper REGISTRYPATH HKEY_CURRENT_USER");
    AddTemplate(30, "SET APPFINDER OddRoot REGISTRYPATH HKEY_CURRENT_USERX\\v");
    AddTemplate(20, "SET APPFINDER Broken REGISTRYPATH HKEY_CURRENT_USER");
    AddTemplate(10, "SET APPFINDER After REGISTRYPATH HKEY_CURRENT_USER\\v");
    scanner_->initAppScanner();
    const zrTemplateScannerAppList& list = scanner_->registryList();
    ASSERT_EQ(list.size(), 5u);

    // The registry nests 512 levels; a key path one level deeper is not walked.
    FakeNode top;
    FakeNode* node = &top.Subkey("HKEY_CURRENT_USER");
    node->values["v"] = {true, "root"};
    std::string deep = "HKEY_CURRENT_USER";
    for (int level = 1; level <= 513; ++level) {
        node = &node->Subkey("d");
        node->values["v"] = {true, "level " + std::to_string(level)};
        if (level == 512) App(list, "Deep")->setKey(deep + "\\d\\v");
        deep += "\\d";
    }
    App(list, "Deeper")->setKey(deep + "\\v");
    top.Subkey("HKEY_CURRENT_USER\\Broken").broken = true;
    App(list, "Broken")->setKey("HKEY_CURRENT_USER\\Broken\\*\\v");
    FakeKey registry(&top);

    App(list, "Broken")->setEnabled(false);
    EXPECT_TRUE(scanner_->startRegScan(false, &registry));
    EXPECT_FALSE(App(list, "Deep")->isFound());  // nothing is found without a found callback

    App(list, "Broken")->setEnabled(true);
    FoundLog found;
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    EXPECT_FALSE(scanner_->startRegScan(false, &registry));
    ASSERT_EQ(found.offered.size(), 1u);
    EXPECT_EQ(found.offered[0].first, "Deep");
    EXPECT_EQ(App(list, "Deep")->appExec(), "level 512");
    EXPECT_FALSE(App(list, "After")->isFound());  // the scan stopped at Broken

    EXPECT_TRUE(scanner_->startRegScan(false, nullptr));
}

#ifdef _WIN32
// Keys below HKEY_CURRENT_USER\Software\<unique name>, deleted with the layout.
class SystemLayout : public RegistryLayout {
public:
    SystemLayout()
        : base_("Software\\zdtest-reg-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount())) {
        root = "HKEY_CURRENT_USER\\" + base_;
    }
    ~SystemLayout() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }
    SystemLayout(const SystemLayout&) = delete;
    SystemLayout& operator=(const SystemLayout&) = delete;

    void SetText(const std::string& key, const std::string& name,
                 const std::string& text) override {
        Set(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    void SetNumber(const std::string& key, const std::string& name, unsigned number) override {
        const DWORD value = number;
        Set(key, name, REG_DWORD, &value, sizeof value);
    }
    void Set(const std::string& key, const std::string& name, DWORD type, const void* data,
             DWORD size) {
        HKEY handle = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\" + key).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(
            RegSetValueExA(handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
        RegCloseKey(handle);
    }

private:
    std::string base_;
};

TEST_F(ScannerTest, RegistryScanReadsTheSystemRegistryInBothViews) {
    SystemLayout layout;
    RegistryScenario(layout, [&](bool reset) { return scanner_->startRegScan(reset, true); });
    // HKEY_CURRENT_USER\Software is one key in both views.
    FoundLog found;
    found.decline = {layout.root + "\\Vendor\\App 1.0"};
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    EXPECT_TRUE(scanner_->startRegScan(true, false));
    EXPECT_EQ(found.offered.size(), 4u);
    EXPECT_EQ(App(scanner_->registryList(), "Render")->basePath(), "E:\\App2");
}

TEST_F(ScannerTest, RegistryScanReadsTextsAsStoredAndNoLongerThanAPath) {
    SystemLayout layout;
    const std::string bare = "C:\\Raw\\raw.exe";  // stored without its final NUL
    layout.Set("Raw", "", REG_SZ, bare.data(), static_cast<DWORD>(bare.size()));
    const std::string expand = "%SystemRoot%\\x";
    layout.Set("Raw", "Expand", REG_EXPAND_SZ, expand.c_str(),
               static_cast<DWORD>(expand.size() + 1));
    layout.SetText("Raw", "Huge", std::string(70000, 'a'));
    AddTemplate(30, "SET APPFINDER Bare REGISTRYFILE " + Quoted(layout.root + "\\Raw\\"));
    AddTemplate(20, "SET APPFINDER Expand REGISTRYPATH " + Quoted(layout.root + "\\Raw\\Expand"));
    AddTemplate(10, "SET APPFINDER Huge REGISTRYPATH " + Quoted(layout.root + "\\Raw\\Huge"));
    scanner_->initAppScanner();
    FoundLog found;
    scanner_->registerFoundCallback(FoundLog::Callback, &found);
    EXPECT_TRUE(scanner_->startRegScan(false, true));
    const zrTemplateScannerAppList& list = scanner_->registryList();
    EXPECT_EQ(App(list, "Bare")->appExec(), bare);  // the key's default value
    EXPECT_EQ(App(list, "Bare")->basePath(), "C:\\Raw");
    EXPECT_EQ(App(list, "Expand")->appExec(), expand);  // not expanded
    EXPECT_EQ(found.offered.size(), 3u);
    EXPECT_FALSE(App(list, "Huge")->isFound());
}
#endif

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
