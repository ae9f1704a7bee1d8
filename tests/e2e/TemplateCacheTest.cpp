// zdtool's template cache against a real zdsim: fetching, repairing and refusing.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "E2eSupport.h"

namespace {

namespace fs = std::filesystem;
using e2e::E2eTest;
using e2e::ReadFile;

class TemplateCacheE2e : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        fs::create_directory(Path("served"));
        for (const char* name :
             {"lumen_render_multiframe", "vexel_compositor_single", "prism_raytracer_slices"}) {
            Serve(name);
        }
    }

    void Serve(const std::string& name, const std::string& as = "") {
        fs::copy_file(std::string(ZD_EXAMPLES_DIR) + "/templates/" + name + ".template",
                      Path("served/" + (as.empty() ? name : as) + ".template"),
                      fs::copy_options::overwrite_existing);
    }

    std::string Cache(const std::string& name = "") const {
        return folder_ + "/home/.Zendro6/templates" + (name.empty() ? "" : "/" + name);
    }

    void StartServing(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--templates", Path("served")});
        StartSimulator(extra);
    }

    e2e::ToolRun Sync(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = ToolLogin("admin", "farmadmin");
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(args);
    }

    // The template codes of the transcript, in order ("D1", "D2 110", ...).
    std::vector<std::string> TemplateFrames() const {
        std::vector<std::string> frames;
        for (const std::string& line : Transcript()) {
            std::string frame = line.substr(line.find(' ') + 1);
            if (frame.rfind("D1", 0) == 0 || frame.rfind("D2", 0) == 0) frames.push_back(frame);
        }
        return frames;
    }

    // The permission bits of a file, as stat gives them.
    static mode_t Mode(const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
    }

    std::vector<std::string> CachedFiles(const std::string& folder) const {
        std::vector<std::string> names;
        if (!fs::exists(folder)) return names;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.is_regular_file()) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

const std::vector<std::string> kThreeFiles = {"lumen_render_multiframe.template",
                                              "prism_raytracer_slices.template",
                                              "vexel_compositor_single.template"};

TEST_F(TemplateCacheE2e, EmptyCacheFetchesEveryTemplateInUidOrder) {
    StartServing();
    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TemplateFrames(), (std::vector<std::string>{"D1", "D2 110", "D2 120", "D2 130"}));
    EXPECT_EQ(CachedFiles(Cache()), kThreeFiles);
    EXPECT_EQ(ReadFile(Cache("lumen_render_multiframe.template")),
              ReadFile(Path("served/lumen_render_multiframe.template")));
    EXPECT_FALSE(fs::exists(Cache(".unused")) && !CachedFiles(Cache(".unused")).empty());

    // In step now: one hashes exchange and no template request.
    run = Sync();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(TemplateFrames(),
              (std::vector<std::string>{"D1", "D2 110", "D2 120", "D2 130", "D1"}));
}

TEST_F(TemplateCacheE2e, UseCacheSendsNoTemplateRequests) {
    StartServing();
    e2e::ToolRun run = Sync({"-usecache"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(TemplateFrames().empty());
    EXPECT_TRUE(CachedFiles(Cache()).empty());
}

TEST_F(TemplateCacheE2e, RenamedDroppedAndBrokenTemplatesAreRepaired) {
    StartServing();
    ASSERT_EQ(Sync().status, 0);
    ASSERT_TRUE(StopSimulator().has_value());

    // The Dispatcher renames one template, drops another; the cache gains junk and a broken
    // copy of a served template.
    fs::rename(Path("served/vexel_compositor_single.template"), Path("served/vexel.template"));
    fs::remove(Path("served/prism_raytracer_slices.template"));
    e2e::WriteFile(Cache("readme.txt"), "notes");
    e2e::WriteFile(Cache("lumen_render_multiframe.template"), "DECLARE TEMPLATE\n{\n");
    StartServing();

    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Error parsing template lumen_render_multiframe.template:"),
              std::string::npos);
    EXPECT_NE(run.out.find("The file has been moved in the '.invalid' folder!"), std::string::npos);
    EXPECT_EQ(CachedFiles(Cache()), (std::vector<std::string>{"lumen_render_multiframe.template",
                                                              "readme.txt", "vexel.template"}));
    EXPECT_EQ(CachedFiles(Cache(".invalid")),
              (std::vector<std::string>{"lumen_render_multiframe.template"}));
    EXPECT_EQ(CachedFiles(Cache(".unused")),
              (std::vector<std::string>{"prism_raytracer_slices.template"}));
    EXPECT_EQ(ReadFile(Cache("lumen_render_multiframe.template")),
              ReadFile(Path("served/lumen_render_multiframe.template")));
}

TEST_F(TemplateCacheE2e, BrokenBase64EndsTheRunWithStatusOne) {
    StartServing({"--bad-template", "120"});
    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Unexpected failure during templates streaming. Aborting!"),
              std::string::npos);
}

TEST_F(TemplateCacheE2e, TemplateThatKeepsDifferingIsFetchedABoundedNumberOfTimes) {
    e2e::WriteFile(Path("other.template"),
                   ReadFile(Path("served/lumen_render_multiframe.template")) + "\n# edited\n");
    StartServing({"--template-override", "110=" + Path("other.template")});
    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> frames = TemplateFrames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "D2 110"), 3);
    EXPECT_NE(run.out.find("Template 110 still differs"), std::string::npos);
}

TEST_F(TemplateCacheE2e, HostileFileNamesNeverLeaveTheCacheFolder) {
    fs::create_directory(Path("home/.Zendro6"));
    StartServing({"--template-file-name", "110=../../escaped.template", "--template-file-name",
                  "120=..", "--template-file-name", "130=a/b.template"});
    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    for (int uid : {110, 120, 130}) {
        EXPECT_NE(run.err.find("Template " + std::to_string(uid) + " has an unsafe file name"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_TRUE(CachedFiles(Cache()).empty());
    EXPECT_FALSE(fs::exists(Path("escaped.template")));
    EXPECT_FALSE(fs::exists(Path("home/escaped.template")));
    const std::vector<std::string> frames = TemplateFrames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), "D2 110"), 1);
}

// Sets the umask of the test process (which zdtool inherits) for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : saved_(umask(mask)) {}
    ~UmaskScope() { umask(saved_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t saved_;
};

// A request whose reply holds the text of a lower UID: that UID's record changes, so it is
// requested next, before the requested UID comes round again; the requested one is given up
// after three transfers and reported once, after the last request.
TEST_F(TemplateCacheE2e, ReplyCarryingAnotherTemplateRequeuesItInUidOrder) {
    StartServing();
    ASSERT_EQ(Sync().status, 0);
    ASSERT_TRUE(StopSimulator().has_value());
    fs::remove(Cache("vexel_compositor_single.template"));
    StartServing({"--template-override", "120=" + Path("served/lumen_render_multiframe.template")});

    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TemplateFrames(), (std::vector<std::string>{"D1", "D2 120", "D2 110", "D2 120",
                                                          "D2 110", "D2 120", "D2 110"}));
    EXPECT_NE(run.out.find("Synching templates......\nTemplate 120 still differs from the "
                           "Dispatcher's copy after 3 transfers; using the copy received.\n\n"),
              std::string::npos)
        << run.out;
    // Each copy of 120 was stored under 120's file name and removed again when 110, which its
    // text declares, was fetched back under its own name.
    EXPECT_EQ(CachedFiles(Cache()), (std::vector<std::string>{"lumen_render_multiframe.template",
                                                              "prism_raytracer_slices.template"}));
    EXPECT_EQ(ReadFile(Cache("lumen_render_multiframe.template")),
              ReadFile(Path("served/lumen_render_multiframe.template")));
}

// A template whose copy keeps differing is given up while a higher UID is still to fetch, and
// reported when the scan passes it, before that UID's request.
TEST_F(TemplateCacheE2e, SpentTemplateIsReportedBeforeTheNextHigherRequest) {
    e2e::WriteFile(Path("other.template"),
                   ReadFile(Path("served/vexel_compositor_single.template")) + "\n# edited\n");
    StartServing({"--template-override", "120=" + Path("other.template")});
    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TemplateFrames(),
              (std::vector<std::string>{"D1", "D2 110", "D2 120", "D2 120", "D2 120", "D2 130"}));
    EXPECT_NE(run.out.find("Synching templates....\nTemplate 120 still differs from the "
                           "Dispatcher's copy after 3 transfers; using the copy received.\n.\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(CachedFiles(Cache()), kThreeFiles);
    EXPECT_EQ(ReadFile(Cache("vexel_compositor_single.template")),
              ReadFile(Path("other.template")));
}

// ".invalid" and ".unused" replaced by links to folders elsewhere: nothing is moved through
// them, the files stay in the cache folder and a warning names each link.
TEST_F(TemplateCacheE2e, LinkedSubfoldersReceiveNothing) {
    StartServing();
    ASSERT_EQ(Sync().status, 0);
    ASSERT_TRUE(StopSimulator().has_value());

    fs::remove(Path("served/prism_raytracer_slices.template"));  // vanishes from the Dispatcher
    const std::string broken = "DECLARE TEMPLATE\n{\n";
    e2e::WriteFile(Cache("broken.template"), broken);
    fs::create_directories(Path("elsewhere/invalid"));
    fs::create_directories(Path("elsewhere/unused"));
    fs::remove(Cache(".unused"));  // the first run made it, empty
    fs::remove(Cache(".invalid"));
    fs::create_directory_symlink(Path("elsewhere/invalid"), Cache(".invalid"));
    fs::create_directory_symlink(Path("elsewhere/unused"), Cache(".unused"));
    StartServing();

    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Error parsing template broken.template:"), std::string::npos);
    EXPECT_EQ(run.out.find("The file has been moved in the '.invalid' folder!"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nThe folder " + Cache(".invalid") + " is not a real folder; " +
                           Cache("broken.template") + " is left in place.\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nThe folder " + Cache(".unused") + " is not a real folder; " +
                           Cache("prism_raytracer_slices.template") + " is left in place.\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(ReadFile(Cache("broken.template")), broken);
    EXPECT_EQ(CachedFiles(Cache()),
              (std::vector<std::string>{"broken.template", "lumen_render_multiframe.template",
                                        "prism_raytracer_slices.template",
                                        "vexel_compositor_single.template"}));
    EXPECT_TRUE(fs::is_empty(Path("elsewhere/invalid")));
    EXPECT_TRUE(fs::is_empty(Path("elsewhere/unused")));
    EXPECT_TRUE(fs::is_symlink(Cache(".invalid")));
    EXPECT_TRUE(fs::is_symlink(Cache(".unused")));
}

// A dangling link and a plain file in place of the subfolders: neither is replaced, followed or
// written.
TEST_F(TemplateCacheE2e, SubfoldersThatAreNoFoldersAreLeftAlone) {
    fs::create_directories(Cache());
    fs::create_directory_symlink(Path("nowhere"), Cache(".invalid"));
    e2e::WriteFile(Cache(".unused"), "not a folder");
    e2e::WriteFile(Cache("broken.template"), "DECLARE TEMPLATE\n{\n");
    StartServing();

    e2e::ToolRun run = Sync();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\nThe folder " + Cache(".invalid") + " is not a real folder; " +
                           Cache("broken.template") + " is left in place.\n"),
              std::string::npos)
        << run.out;
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    EXPECT_TRUE(fs::is_symlink(Cache(".invalid")));
    EXPECT_EQ(ReadFile(Cache(".unused")), "not a folder");
    EXPECT_TRUE(fs::exists(Cache("broken.template")));
    EXPECT_EQ(TemplateFrames(), (std::vector<std::string>{"D1", "D2 110", "D2 120", "D2 130"}));
}

// New cache files get 0666 less the umask; a replaced one keeps the mode it had.
TEST_F(TemplateCacheE2e, StoredTemplatesTakeTheUmaskOrKeepTheirMode) {
    {
        UmaskScope mask(022);
        StartServing();
        ASSERT_EQ(Sync().status, 0);
    }
    for (const std::string& name : kThreeFiles)
        EXPECT_EQ(Mode(Cache(name)), mode_t(0644)) << name;
    ASSERT_TRUE(StopSimulator().has_value());

    // The Dispatcher changes 110; 130 goes missing from the cache.
    e2e::WriteFile(Path("served/lumen_render_multiframe.template"),
                   ReadFile(Path("served/lumen_render_multiframe.template")) + "\n# edited\n");
    ASSERT_EQ(chmod(Cache("lumen_render_multiframe.template").c_str(), 0640), 0);
    fs::remove(Cache("prism_raytracer_slices.template"));
    {
        UmaskScope mask(002);
        StartServing();
        ASSERT_EQ(Sync().status, 0);
    }
    EXPECT_EQ(TemplateFrames(), (std::vector<std::string>{"D1", "D2 110", "D2 130"}));
    EXPECT_EQ(ReadFile(Cache("lumen_render_multiframe.template")),
              ReadFile(Path("served/lumen_render_multiframe.template")));
    EXPECT_EQ(Mode(Cache("lumen_render_multiframe.template")), mode_t(0640));
    EXPECT_EQ(Mode(Cache("prism_raytracer_slices.template")), mode_t(0664));
    EXPECT_EQ(Mode(Cache("vexel_compositor_single.template")), mode_t(0644));
}

}  // namespace

namespace {

// The Dispatcher going away during any wait ends the run at once with the socket message.
TEST_F(TemplateCacheE2e, ConnectionClosedInEveryWaitEndsTheRun) {
    for (int frames = 0; frames <= 4; ++frames) {
        StartServing({"--close-after", std::to_string(frames)});
        e2e::ToolRun run = Sync();
        EXPECT_EQ(run.status, 255) << "after " << frames << " frames";
        EXPECT_EQ(run.err, "Socket error while communicating with the Dispatcher.\n")
            << "after " << frames << " frames";
        ASSERT_EQ(StopSimulator(), 0);
    }
}

}  // namespace
