// The sample templates under examples/templates: each parses, has a consistent SUBMISSION block,
// and its command line expands against a job's properties.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "TemplateTestSupport.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

struct SampleFile {
    std::string name;
    std::string text;
};

std::vector<SampleFile> ReadSamples() {
    std::vector<SampleFile> samples;
    const std::filesystem::path folder = std::filesystem::path(ZD_EXAMPLES_DIR) / "templates";
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (item.path().extension() != ".template") continue;
        std::ifstream in(item.path(), std::ios::binary);
        samples.push_back(
            {item.path().filename().string(), std::string(std::istreambuf_iterator<char>(in), {})});
    }
    return samples;
}

std::vector<std::string> ItemNames(zrTemplateBlock* block, int kind) {
    std::vector<std::string> names;
    zrTemplateItemIterator position;
    zrTemplateBlockEntry* item = nullptr;
    for (bool more = block->GetFirstItem(&position, kind, &item); more;
         more = block->GetNextItem(&position, kind, &item))
        names.push_back(item->GetName());
    return names;
}

TEST(SampleTemplatesTest, EverySampleParsesAndRegisters) {
    const std::vector<SampleFile> samples = ReadSamples();
    ASSERT_GE(samples.size(), 4u);
    ASSERT_LE(samples.size(), 6u);
    ManagerPtr manager = NewManager();
    std::set<std::string> logics;
    for (const SampleFile& sample : samples) {
        std::string error;
        zrTemplateEntry* entry =
            Register(manager.get(), sample.text, sample.name.c_str(), false, &error);
        ASSERT_NE(entry, nullptr) << sample.name << ": " << error;
        EXPECT_EQ(entry->GetTemplateContentSize(), sample.text.size()) << sample.name;
        std::string logic;
        ASSERT_TRUE(entry->GetString("TEMPLATE", "TEMPLATE_LOGIC", kTemplateItemSet, logic, 0));
        logics.insert(logic);
    }
    EXPECT_EQ(manager->GetTemplateCount(), static_cast<int>(samples.size()));
    EXPECT_EQ(logics, (std::set<std::string>{"BROADCAST", "FRAMESLICING", "MULTIFRAME", "SINGLE"}));
}

// Every MAP item names an ADD field, and every field carries its mandatory and activable marks.
TEST(SampleTemplatesTest, SubmissionBlocksAreConsistent) {
    ManagerPtr manager = NewManager();
    for (const SampleFile& sample : ReadSamples()) {
        ParseOutcome outcome = Parse(manager.get(), sample.text, sample.name.c_str());
        ASSERT_FALSE(outcome.failed) << sample.name << ": " << outcome.error;
        zrTemplateBlock* submission = outcome.entry->GetBlockByName("SUBMISSION");
        ASSERT_NE(submission, nullptr) << sample.name;
        const std::vector<std::string> fields = ItemNames(submission, kTemplateItemAdd);
        ASSERT_FALSE(fields.empty()) << sample.name;
        for (const std::string& field : fields) {
            const zrTemplateBlockEntry* add =
                outcome.entry->GetItem("SUBMISSION", field.c_str(), kTemplateItemAdd);
            ASSERT_NE(add, nullptr);
            std::string mandatory, activable;
            ASSERT_TRUE(add->GetString(mandatory, 4)) << sample.name << " " << field;
            ASSERT_TRUE(add->GetString(activable, 5)) << sample.name << " " << field;
            EXPECT_TRUE(mandatory == "MANDATORY" || mandatory == "OPTIONAL") << field;
            EXPECT_TRUE(activable == "ACTIVABLE" || activable == "FIXED") << field;
        }
        for (const std::string& property : ItemNames(submission, kTemplateItemMap)) {
            std::string field;
            ASSERT_TRUE(outcome.entry->GetString("SUBMISSION", property.c_str(), kTemplateItemMap,
                                                 field, 0));
            EXPECT_NE(std::find(fields.begin(), fields.end(), field), fields.end())
                << sample.name << ": MAP " << property << " names no field";
        }
    }
}

TEST(SampleTemplatesTest, MultiFrameCommandLineExpands) {
    ManagerPtr manager = NewManager();
    std::string text;
    for (const SampleFile& sample : ReadSamples())
        if (sample.name == "lumen_render_multiframe.template") text = sample.text;
    ASSERT_FALSE(text.empty());
    ParseOutcome outcome = Parse(manager.get(), text);
    ASSERT_FALSE(outcome.failed) << outcome.error;
    std::string arguments;
    ASSERT_TRUE(
        outcome.entry->GetString("MULTIFRAME", "ARGUMENTS", kTemplateItemSet, arguments, 0));

    ZRFramework::zrPropertyMap job;
    job.SetString("job_file", "/shows/ep1/shot 10.lmn", true, true);
    job.SetInt("start_frame", 1, true);
    job.SetInt("end_frame", 24, true);
    job.SetInt("by_frame", 2, true);
    job.SetString("job_project", "/shows/ep1", false, true);  // given but not chosen
    job.SetString("output_folder", "/renders/ep1", true, true);
    job.SetString("ADD_FLAGS", "-quality high", true, false);
    EXPECT_EQ(manager->ResolveMacros(arguments, &job),
              "-scene \"/shows/ep1/shot 10.lmn\" -frames 1-24 -step 2 -out \"/renders/ep1\" "
              "-quality high");
}

}  // namespace
