// zdtool's control commands and submissions against a real zdsim: the frames it sends, the
// answers it reports, the listing that follows and the exit statuses.
#include "E2eSupport.h"

namespace {

class ControlSubmitE2e : public e2e::E2eTest {
protected:
    e2e::ToolRun Tool(std::vector<std::string> extra, const std::string& user = "admin") {
        std::vector<std::string> args = {"-s", "127.0.0.1", "-port", std::to_string(Port()),
                                         "-u", user,        "-p",    "farmadmin"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunTool(args);
    }
    // The last run's frames after its second status request, as "code payload".
    std::vector<std::string> LastRunFrames() const {
        const std::vector<std::string> lines = Transcript();
        const std::string client = lines.back().substr(0, lines.back().find(' ') + 1);
        std::vector<std::string> frames;
        int statusRequests = 0;
        for (const std::string& line : lines) {
            if (line.rfind(client, 0) != 0) continue;
            if (statusRequests == 2) frames.push_back(line.substr(client.size()));
            if (line.substr(client.size()) == "23") ++statusRequests;
        }
        return frames;
    }
};

TEST_F(ControlSubmitE2e, CommandsAndTheirListings) {
    StartSimulator({"--templates", std::string(ZD_EXAMPLES_DIR) + "/templates"});
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::vector<std::string> frames;
    } cases[] = {
        {{"-jobpo", "12", "render"}, 0, "", {"36 render\\n12\\n", "2E"}},
        {{"-jobpa", "12", "1"}, 0, "", {"1F 1\\n12\\n", "2E"}},
        {{"-jobdep", "12", "lighting"}, 0, "", {"0A 12\\nlighting\\n", "2E"}},
        {{"-cpusr", "4"}, 0, "", {"B5 4\\n"}},
        {{"-cpup", "77"}, 255, "\nInvalid node id 77.\n", {"3A 77\\n", "30"}},
        {{"-rsc"}, 0, "", {"C1"}},
        {{"-chp", "y", "-u", "visitor"},
         0,
         "Dispatcher denied the operation.\n",
         {"BE " + e2e::Base64("farmadmin") + "\\n" + e2e::Base64("y") + "\\n"}},
        {{"-b", "-e", "110", "-n", "shot"}, 255, "\nField Scene is mandatory.\n", {}},
        {{"-b", "-folder", "-n", "Shots2"}, 0, "", {"80 -1\\nShots2\\n100\\n"}},
        {{"-jobrm", "12"}, 0, "", {"35 12\\n", "2E"}},
        // Last: it changes the password the other runs log in with.
        {{"-chp", "x"},
         0,
         "",
         {"BE " + e2e::Base64("farmadmin") + "\\n" + e2e::Base64("x") + "\\n"}},
    };
    Tool({});  // fills the template cache
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> args = c.args;
        args.push_back("-usecache");
        const e2e::ToolRun run = Tool(args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(run.err, c.err);
        // zdsim may record a command that gets no reply after the tool has exited.
        std::vector<std::string> frames;
        e2e::WaitInFolder(Path("."), [&] {
            frames = LastRunFrames();
            return frames.size() >= c.frames.size();
        });
        frames.resize(c.frames.empty() ? frames.size() : std::min(frames.size(), c.frames.size()));
        EXPECT_EQ(frames, c.frames);
    }
    EXPECT_EQ(Tool({"-q", "j", "-job", "12", "-usecache", "-p", "x"}).err,
              "\nInvalid job id 12.\n");

    e2e::ToolRun run = Tool({"-b", "-e", "110", "-n", "e2e_shot", "-f", "/p/a.lmn", "-sf", "1",
                             "-ef", "10", "-usecache", "-p", "x"});
    const size_t at = run.out.find("new job has ID: ");
    ASSERT_NE(at, std::string::npos) << run.out << run.err;
    EXPECT_EQ(LastRunFrames().at(0).rfind("34 1\\n110\\n100\\n", 0), 0u);
    const std::string id = run.out.substr(at + 16, run.out.find('\n', at) - at - 16);
    run = Tool({"-q", "j", "-job", id, "-jf", "id,name", "-usecache", "-p", "x"});
    EXPECT_NE(run.out.find("e2e_shot"), std::string::npos) << run.out << run.err;
}

}  // namespace
