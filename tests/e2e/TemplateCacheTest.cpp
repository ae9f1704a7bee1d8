// zdtool's template cache against a real zdsim: fetching, repairing and refusing.
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
