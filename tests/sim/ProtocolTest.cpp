// The conversation handlers: login decisions, status lines, the hashes map, template replies
// and the injected faults, called directly without sockets.
#include <gtest/gtest.h>

#include <string>

#include "Protocol.h"
#include "SimTestSupport.h"
#include "ZRStringHelper.h"

namespace {

using namespace zdsim;
using ZRFramework::ZRStringHelper::GetLine;

std::string LoginPayload(const std::string& user, const std::string& password) {
    return "workstation\n" + user + "\n" + EncodeBase64(password) + "\n4\n";
}

class ProtocolTest : public testing::Test {
protected:
    ProtocolTest() {
        farm_.users = {{"ann", "pw", 0}, {"old", "x", 1}, {"nopass", "", 0}};
        farm_.version = "6.1.6";
        farm_.build = "2417";
        farm_.host = "disp01";
        farm_.selectionLogic = 5;
        farm_.statistics.runningSince = 1717405200;
    }

    Context context() { return Context{&farm_, &templates_, &settings_}; }

    int Login(const std::string& payload) {
        Session session;
        const Replies replies = HandleLogin(context(), session, payload);
        EXPECT_EQ(replies.size(), 1u);
        if (replies.empty()) return -99;
        EXPECT_EQ(replies[0].code, Code::kLoginResult);
        const std::string& text = replies[0].text;
        EXPECT_EQ(text.back(), '\n');
        EXPECT_EQ(session.loginResult, std::stoi(text));
        return std::stoi(text);
    }

    Farm farm_;
    TemplateCatalogue templates_;
    ProtocolSettings settings_;
};

TEST_F(ProtocolTest, LoginAnswersUserGuestOrDenied) {
    const struct {
        bool guests;
        const char* user;
        const char* password;
        int result;
    } cases[] = {
        {true, "ann", "pw", 0},  {true, "ann", "PW", 3},   {true, "ann", "", 3},
        {true, "nopass", "", 0}, {true, "nopass", "x", 3}, {true, "bob", "pw", 2},
        {false, "bob", "pw", 3}, {false, "ann", "pw", 0},  {true, "", "", 2},
        {true, "old", "x", 1},   {true, "Ann", "pw", 2},   {false, "ann", "pw\n", 3},
    };
    for (const auto& c : cases) {
        farm_.allowGuests = c.guests;
        EXPECT_EQ(DecideLogin(farm_, c.user, c.password), c.result)
            << c.user << "/" << c.password << " guests " << c.guests;
        EXPECT_EQ(Login(LoginPayload(c.user, c.password)), c.result) << c.user;
    }
}

TEST_F(ProtocolTest, LoginWithAGarbledPasswordIsDeniedUnlessAGuest) {
    EXPECT_EQ(Login("host\nann\n!!notbase64\n4\n"), 3);
    EXPECT_EQ(Login("host\nstranger\n!!notbase64\n4\n"), 2);
    farm_.allowGuests = false;
    EXPECT_EQ(Login("host\nstranger\n!!notbase64\n4\n"), 3);
    EXPECT_EQ(Login(""), 3);
}

TEST_F(ProtocolTest, LoginRemembersWhoAsked) {
    Session session;
    HandleLogin(context(), session, "ws7\nann\n" + EncodeBase64("pw") + "\n4\n");
    EXPECT_EQ(session.host, "ws7");
    EXPECT_EQ(session.user, "ann");
    EXPECT_EQ(session.kind, "4");
    EXPECT_EQ(session.loginResult, 0);
}

TEST_F(ProtocolTest, ForcedLoginResultOverridesTheDecision) {
    settings_.forcedLoginResult = 3;
    EXPECT_EQ(Login(LoginPayload("ann", "pw")), 3);
    settings_.forcedLoginResult = 1;
    EXPECT_EQ(Login(LoginPayload("nobody", "")), 1);
}

TEST_F(ProtocolTest, StatusHasTwelveLinesWithTheToolsFieldsWhereItReadsThem) {
    Job folder;
    folder.id = 1;
    folder.type = 1;
    folder.status = JobStatus::kStarted;
    Job running;
    running.id = 2;
    running.status = JobStatus::kStartedWithWarnings;
    Job queued;
    queued.id = 3;
    farm_.jobs = {folder, running, queued};
    Node busy;
    busy.status = NodeStatus::kInProgress;
    farm_.nodes = {busy, Node{}, Node{}};
    settings_.protocolVersion = 600;
    Session session;
    session.client = 4;
    session.loginResult = 2;

    const Replies replies = HandleStatus(context(), session);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, Code::kStatus);
    EXPECT_EQ(replies[0].text,
              "1\n"           // selection logic, active
              "2\n"           // jobs, folders left out
              "1\n"           // running jobs
              "3\n"           // nodes
              "1\n"           // rendering nodes
              "6.1.6\n"       // version
              "2417\n"        // build
              "disp01\n"      // host
              "1717405200\n"  // running since
              "4\n"           // client number
              "2\n"           // login result
              "600\n");       // protocol version
    farm_.selectionLogic = 0;
    EXPECT_EQ(GetLine(HandleStatus(context(), session)[0].text, 1), "0");
}

TEST_F(ProtocolTest, HashesMapListsTheTemplatesInAscendingUidWithTheirTextsMd5) {
    std::string error;
    const std::string seven = simtest::TemplateText(7, "seven", "\r\n");
    const std::string three = simtest::TemplateText(3);
    ASSERT_TRUE(templates_.Add(seven, "seven.template", error)) << error;
    ASSERT_TRUE(templates_.Add(three, "three.template", error)) << error;
    const Replies replies = HandleHashesRequest(context());
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, Code::kHashes);
    EXPECT_EQ(replies[0].text, "3\t" + simtest::Md5(three) + "\tthree.template\n7\t" +
                                   simtest::Md5(seven) + "\tseven.template\n");
}

TEST_F(ProtocolTest, HashesFileReplacesTheMapVerbatim) {
    std::string error;
    ASSERT_TRUE(templates_.Add(simtest::TemplateText(3), "three.template", error));
    settings_.hashesText = "1\tabc\t../../escape.template\n";
    EXPECT_EQ(HandleHashesRequest(context())[0].text, "1\tabc\t../../escape.template\n");
    settings_.hashesText = "";
    EXPECT_EQ(HandleHashesRequest(context())[0].text, "");
}

TEST_F(ProtocolTest, TemplateReplyCarriesTheExactBytesInBase64) {
    std::string error;
    const std::string text = simtest::TemplateText(12, "crlf \xC3\xA9 and tabs\t", "\r\n");
    ASSERT_TRUE(templates_.Add(text, "twelve.template", error)) << error;
    for (const char* payload : {"12", "12\n", " 12 "}) {
        const Replies replies = HandleTemplateRequest(context(), payload);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].code, Code::kTemplate);
        const std::string& reply = replies[0].text;
        EXPECT_EQ(GetLine(reply, 1), "12");
        EXPECT_EQ(GetLine(reply, 2), "Template 12");
        EXPECT_EQ(GetLine(reply, 3), "twelve.template");
        EXPECT_EQ(simtest::DecodeBase64(GetLine(reply, 4)), text);
        EXPECT_EQ(GetLine(reply, 5), "");
        EXPECT_EQ(reply.back(), '\n');
    }
}

TEST_F(ProtocolTest, UnknownOrUnreadableUidGetsEmptyFields) {
    EXPECT_EQ(HandleTemplateRequest(context(), "99")[0], (Reply{Code::kTemplate, "99\n\n\n\n"}));
    EXPECT_EQ(HandleTemplateRequest(context(), "-4")[0], (Reply{Code::kTemplate, "-4\n\n\n\n"}));
    for (const char* payload : {"", "abc", "12abc", "99999999999", "\v12", "1 2"})
        EXPECT_EQ(HandleTemplateRequest(context(), payload)[0],
                  (Reply{Code::kTemplate, "\n\n\n\n"}))
            << payload;
}

TEST_F(ProtocolTest, BadTemplateFaultSendsALineFourThatIsNotBase64) {
    std::string error;
    ASSERT_TRUE(templates_.Add(simtest::TemplateText(5), "five.template", error));
    settings_.badTemplateUid = 5;
    const std::string reply = HandleTemplateRequest(context(), "5")[0].text;
    EXPECT_EQ(GetLine(reply, 3), "five.template");
    EXPECT_EQ(simtest::DecodeBase64(GetLine(reply, 4)), "<not Base64>");
}

TEST_F(ProtocolTest, TemplateOverrideServesOtherTextUnderTheSameNames) {
    std::string error;
    ASSERT_TRUE(templates_.Add(simtest::TemplateText(5), "five.template", error));
    settings_.templateOverrides[5] = simtest::TemplateText(5, "changed");
    settings_.templateOverrides[8] = "not a template";
    std::string reply = HandleTemplateRequest(context(), "5")[0].text;
    EXPECT_EQ(GetLine(reply, 3), "five.template");
    EXPECT_EQ(simtest::DecodeBase64(GetLine(reply, 4)), simtest::TemplateText(5, "changed"));
    reply = HandleTemplateRequest(context(), "8")[0].text;
    EXPECT_EQ(GetLine(reply, 3), "8.template");
    EXPECT_EQ(simtest::DecodeBase64(GetLine(reply, 4)), "not a template");
}

TEST_F(ProtocolTest, MessagesAreRoutedByCodeAndUnknownCodesGetNoReply) {
    Session session;
    bool known = false;
    EXPECT_EQ(HandleMessage(context(), session, Code::kStatusRequest, "", &known)[0].code,
              Code::kStatus);
    EXPECT_TRUE(known);
    EXPECT_EQ(
        HandleMessage(context(), session, Code::kLogin, LoginPayload("ann", "pw"), &known)[0].code,
        Code::kLoginResult);
    EXPECT_EQ(session.loginResult, 0);
    EXPECT_EQ(HandleMessage(context(), session, Code::kHashesRequest, "", &known)[0].code,
              Code::kHashes);
    EXPECT_EQ(HandleMessage(context(), session, Code::kTemplateRequest, "1", &known)[0].code,
              Code::kTemplate);
    EXPECT_EQ(HandleMessage(context(), session, Code::kStatisticsRequest, "", &known)[0].code,
              Code::kStatistics);
    // Listings are conversations of their own, not single replies.
    for (unsigned char code : {0x00, 0x2E, 0x32, 0x68, 0xB8, 0xFF}) {
        EXPECT_TRUE(HandleMessage(context(), session, code, "x", &known).empty());
        EXPECT_FALSE(known) << int(code);
    }
    EXPECT_TRUE(HandleMessage(context(), session, 0x2E, "", nullptr).empty());
}

TEST(TemplateCatalogue, BrokenAndDuplicateTemplatesAreRefused) {
    TemplateCatalogue catalogue;
    std::string error;
    EXPECT_FALSE(catalogue.Add("DECLARE TEMPLATE\n{\n", "broken.template", error));
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(catalogue.Add(simtest::TemplateText(4), "a.template", error));
    error.clear();
    EXPECT_FALSE(catalogue.Add(simtest::TemplateText(4, "again"), "b.template", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(catalogue.Count(), 1u);
    EXPECT_EQ(catalogue.Find(4)->fileName, "a.template");
}

TEST(TemplateCatalogue, FolderLoadingSkipsBrokenFilesAndOtherNames) {
    simtest::TempFolder folder;
    simtest::WriteFile(folder / "b.template", simtest::TemplateText(2));
    simtest::WriteFile(folder / "a.template", simtest::TemplateText(1));
    simtest::WriteFile(folder / "bad.template", "DECLARE TEMPLATE\n{\n");
    simtest::WriteFile(folder / "readme.txt", simtest::TemplateText(3));
    simtest::WriteFile(folder / ".template", simtest::TemplateText(4));
    TemplateCatalogue catalogue;
    std::vector<std::string> skipped;
    std::string error;
    ASSERT_TRUE(catalogue.LoadFolder(folder.Path(), skipped, error));
    EXPECT_EQ(catalogue.Count(), 2u);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].rfind("bad.template: ", 0), 0u) << skipped[0];
    EXPECT_EQ(GetLine(catalogue.HashesMap(), 1).substr(0, 2), "1\t");

    EXPECT_FALSE(catalogue.LoadFolder(folder / "missing", skipped, error));
    EXPECT_EQ(error, folder / "missing" + ": cannot be read");
}

TEST(TemplateCatalogue, TheSampleTemplatesAllLoad) {
    TemplateCatalogue catalogue;
    std::vector<std::string> skipped;
    std::string error;
    ASSERT_TRUE(catalogue.LoadFolder(ZD_EXAMPLES_DIR "/templates", skipped, error)) << error;
    EXPECT_TRUE(skipped.empty()) << skipped[0];
    EXPECT_GE(catalogue.Count(), 3u);
}

TEST(ParseInt, AcceptsOnlyWholeDecimalNumbers) {
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"0", true, 0},           {"42", true, 42},          {"-7", true, -7},
        {"+3", true, 3},          {" 9\n", true, 9},         {"2147483647", true, 2147483647},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"", false, 0},
        {"\n", false, 0},         {"4x", false, 0},          {"x4", false, 0},
        {"1 2", false, 0},        {"\f5", false, 0},         {"--1", false, 0},
    };
    for (const auto& c : cases) {
        int value = -12345;
        EXPECT_EQ(ParseInt(c.text, value), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
