// The template list and the submission-field dump.
#include "QueryTestSupport.h"
#include "TemplateListing.h"
#include "ZRTemplateManager.h"

using ZRFramework::ZRTemplateManager::zrTemplateManager;
using namespace querytest;

namespace {

const char kFieldRules[] = R"(DECLARE TEMPLATE
{
	SET TEMPLATE_NAME "Field Rules"
	SET TEMPLATE_DESC "Fields that test the dump"
	SET TEMPLATE_UID 901
	SET TEMPLATE_LOGIC SINGLE
}
DECLARE SINGLE
{
	SET EXECUTABLE "true"
}
DECLARE SUBMISSION
{
	ADD Scene FILE "Scene file" "" "*.lmn" MANDATORY FIXED
	ADD Short INTEGER "Short" 1
	ADD Five STRING "Five" "" "" OPTIONAL
	ADD Scene FILE "Repeated" "" "" OPTIONAL ACTIVABLE
	ADD Case STRING "Case" "" "" OPTIONAL ACTIVABLE
	MAP job_file Scene
	MAP other_file Scene
	MAP case_field case
	MAP five_field Five extra
}
)";

const char kNoSubmission[] = R"(DECLARE TEMPLATE
{
	SET TEMPLATE_NAME "Bare"
	SET TEMPLATE_DESC "No submission block"
	SET TEMPLATE_UID 902
	SET TEMPLATE_LOGIC SINGLE
}
DECLARE SINGLE
{
	SET EXECUTABLE "true"
}
)";

// Registers a template; a parse error fails the test with the parser's message.
void Register(zrTemplateManager* manager, const std::string& text, const char* file) {
    try {
        manager->Parse(text.c_str(), file, true, true);
    } catch (ZRFramework::ZRTemplateManager::zrTemplateException* error) {
        ADD_FAILURE() << file << ": " << error->GetErrorString();
        error->Delete();
    }
}

class TemplateListing : public testing::Test {
protected:
    void SetUp() override {
        FreshRun();
        manager_ = zrTemplateManager::AllocateClass();
        Register(manager_, kFieldRules, "rules.template");
        Register(manager_, kNoSubmission, "bare.template");
        ASSERT_EQ(manager_->GetTemplateCount(), 2);
    }
    void TearDown() override {
        zrTemplateManager::DestroyClass(manager_);
        resetRunSettings();
    }
    zrTemplateManager* manager_ = nullptr;
};

TEST_F(TemplateListing, ListsEveryTemplateInTheManagersOrder) {
    EXPECT_EQ(templateListText(manager_), "UID\tNAME\n---\t----\n902\tBare\n901\tField Rules\n\n");
    nHeaders = 0;
    EXPECT_EQ(templateListText(manager_), "902\tBare\n901\tField Rules\n\n");
    zrTemplateManager* empty = zrTemplateManager::AllocateClass();
    EXPECT_EQ(templateListText(empty), "\n");
    zrTemplateManager::DestroyClass(empty);
}

TEST_F(TemplateListing, FieldDumpFollowsTheSubmissionBlock) {
    // Index 4 of an ADD item is MANDATORY|OPTIONAL and index 5 ACTIVABLE|FIXED: each prints under
    // the header that names it. A repeated name shows its first item; MAP matches exactly.
    EXPECT_EQ(templateFieldsText(manager_, 901),
              "FIELD\tMAP\tTYPE\tACTIVABLE\tMANDATORY\n"
              "-----\t---\t----\t---------\t---------\n"
              "Scene\tjob_file\tFILE\tFIXED\tMANDATORY\t\n"
              "Short\t\tINTEGER\t\t\t\n"
              "Five\tfive_field\tSTRING\t\tOPTIONAL\t\n"
              "Scene\tjob_file\tFILE\tFIXED\tMANDATORY\t\n"
              "Case\t\tSTRING\tACTIVABLE\tOPTIONAL\t\n"
              "\n");
    nHeaders = 0;
    EXPECT_EQ(templateFieldsText(manager_, 902), "\n");
    nHeaders = 1;
    EXPECT_EQ(templateFieldsText(manager_, 902),
              "FIELD\tMAP\tTYPE\tACTIVABLE\tMANDATORY\n-----\t---\t----\t---------\t---------\n\n");
    EXPECT_EQ(templateFieldsText(manager_, 77), "Invalid template ID\n");
}

TEST_F(TemplateListing, SampleTemplateMarksReadAsTheSubmissionRulesDo) {
    zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    std::ifstream in(std::string(ZD_EXAMPLES_DIR) + "/templates/lumen_render_multiframe.template");
    std::stringstream text;
    text << in.rdbuf();
    Register(manager, text.str(), "lumen.template");
    const std::string dump = templateFieldsText(manager, 110);
    EXPECT_NE(dump.find("Scene\tjob_file\tFILE\tFIXED\tMANDATORY\t\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find("Project\tjob_project\tFOLDER\tACTIVABLE\tOPTIONAL\t\n"),
              std::string::npos);
    zrTemplateManager::DestroyClass(manager);
}

TEST_F(TemplateListing, RecordsForScripts) {
    outputFormat = kOutputTsv;
    const std::string tsv = templateListText(manager_) + templateFieldsText(manager_, 901);
    ExpectFixture(tsv, "records_templates.tsv");
    nHeaders = 0;
    EXPECT_EQ(templateListText(manager_), "902\tBare\n901\tField Rules\n");
    EXPECT_EQ(templateFieldsText(manager_, 902), "");

    outputFormat = kOutputJson;
    const std::string json = templateListText(manager_) + templateFieldsText(manager_, 901);
    ExpectFixture(json, "records_templates.jsonl");
    std::vector<nlohmann::json> objects = JsonLines(json);
    ASSERT_EQ(objects.size(), 2u + 5u);
    EXPECT_EQ(objects[0], nlohmann::json::parse(R"({"kind":"template","uid":902,"name":"Bare"})"));
    EXPECT_EQ(objects[2], nlohmann::json::parse(R"({"kind":"field","field":"Scene","map":"job_file",
        "type":"FILE","activable":"FIXED","mandatory":"MANDATORY"})"));
    EXPECT_EQ(objects[3]["activable"], "");

    // An unknown template is a message, not a record.
    EXPECT_EQ(templateFieldsText(manager_, 77), "");
    nVerbose = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    dumpTemplateFields(77);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid template ID\n");
}

TEST_F(TemplateListing, PrintsThroughTheOutputRoutine) {
    nVerbose = 0;
    testing::internal::CaptureStdout();
    dumpTemplates();
    dumpTemplateFields(901);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
