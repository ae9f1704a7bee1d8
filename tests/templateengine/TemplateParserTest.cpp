// Tests of the template language and parser: line kinds, tokens, errors with their line numbers,
// the mandatory identity block, MD5 of the exact bytes, registration and concurrent parses.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "TemplateTestSupport.h"
#include "ZRMd5.h"
#include "ZRStringHelper.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

std::string Md5Of(const std::string& bytes) {
    ZRFramework::ZRMd5::md5_state_s state;
    ZRFramework::ZRMd5::md5_init(&state);
    ZRFramework::ZRMd5::md5_append(&state, reinterpret_cast<const unsigned char*>(bytes.data()),
                                   static_cast<int>(bytes.size()));
    unsigned char digest[16];
    ZRFramework::ZRMd5::md5_finish(&state, digest);
    char text[33];
    ZRFramework::ZRMd5::md5_string(digest, text);
    return text;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

class ParserTest : public ::testing::Test {
protected:
    ManagerPtr manager_ = NewManager();

    // The single item of kind `kind` in block B of a template built around `line`.
    const zrTemplateBlockEntry* OnlyItem(ParseOutcome& outcome, int kind) {
        if (!outcome.entry) return nullptr;
        zrTemplateBlock* block = outcome.entry->GetBlockByName("B");
        if (!block || block->GetItemList(kind)->size() != 1) return nullptr;
        return &block->GetItemList(kind)->front();
    }
};

TEST_F(ParserTest, MinimalTemplateReadsItsIdentity) {
    ParseOutcome outcome = Parse(manager_.get(), MinimalTemplate(42, "MULTIFRAME"), "m.template");
    ASSERT_FALSE(outcome.failed) << outcome.error;
    zrTemplateEntry& entry = *outcome.entry;
    EXPECT_EQ(entry.GetUID(), 42);
    EXPECT_EQ(entry.GetName(), "Template 42");
    EXPECT_EQ(entry.GetDescription(), "A test template");
    EXPECT_EQ(entry.GetFileName(), "m.template");
    EXPECT_NE(entry.GetBlockByName("MULTIFRAME"), nullptr);
    EXPECT_EQ(manager_->GetTemplateCount(), 0);  // not registered
}

struct ErrorCase {
    const char* title;
    std::string text;
    std::string message;
};

class ParserErrorTest : public ParserTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ParserErrorTest, FailsWithItsMessage) {
    ParseOutcome outcome = Parse(manager_.get(), GetParam().text);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error, GetParam().message);
    EXPECT_EQ(manager_->GetTemplateCount(), 0);
}

const std::string kIdentity =
    "SET TEMPLATE_NAME n\nSET TEMPLATE_DESC d\nSET TEMPLATE_UID 3\nSET TEMPLATE_LOGIC SINGLE\n";

INSTANTIATE_TEST_SUITE_P(
    Messages, ParserErrorTest,
    ::testing::Values(
        ErrorCase{"OnlyComments", "# a comment\n\n   \n\t# another\n",
                  "Missing required SET TEMPLATE_NAME statement from TEMPLATE block"},
        ErrorCase{"Empty", "", "Missing required SET TEMPLATE_NAME statement from TEMPLATE block"},
        ErrorCase{"BraceOnDeclarationLine", "DECLARE TEMPLATE {\n" + kIdentity + "}\n",
                  "Invalid closing bracket (}) in line 6"},
        ErrorCase{"TwoSpacesBeforeName", "# c\nDECLARE  TEMPLATE\n",
                  "No name specified in declaration on line 2"},
        ErrorCase{"DeclarationWithoutName", "DECLARE\n",
                  "No name specified in declaration on line 1"},
        ErrorCase{"DeclarationOpenQuote", "DECLARE \"TEMPLATE\n",
                  "No name specified in declaration on line 1"},
        ErrorCase{"EmptySet", "DECLARE B\n{\nSET\n}\n", "Found an empty SET statement in line 3"},
        ErrorCase{"EmptyMapWithSpaces", "DECLARE B\n{\nMAP    \n}\n",
                  "Found an empty MAP statement in line 3"},
        ErrorCase{"EmptyAdd", "DECLARE B\n{\n\n\nADD\n}\n",
                  "Found an empty ADD statement in line 5"},
        ErrorCase{"NameWithOpenQuote", "DECLARE B\n{\nSET \"A 1\n}\n",
                  "Found an empty SET statement in line 3"},
        ErrorCase{"SetOutside", "SET A 1\n", "SET statement outside DECLARE block in line 1"},
        ErrorCase{"MapOutside", "\nMAP A 1\n", "MAP statement outside DECLARE block in line 2"},
        ErrorCase{"AddOutside", "\n\nADD A 1\n", "ADD statement outside DECLARE block in line 3"},
        ErrorCase{"EmptySetOutside", "SET\n", "SET statement outside DECLARE block in line 1"},
        ErrorCase{"OpenWithoutDeclaration", "{\n",
                  "Opening bracket ({) without a declaration block in line 1"},
        ErrorCase{"SecondOpenBrace", "DECLARE B\n{\n{\n",
                  "Opening bracket ({) without a declaration block in line 3"},
        ErrorCase{"StatementBeforeBrace", "DECLARE B\nSET A 1\n{\n",
                  "Opening bracket ({) without a declaration block in line 3"},
        ErrorCase{"CloseAtTopLevel", "# c\n}\n", "Invalid closing bracket (}) in line 2"},
        ErrorCase{"CloseTwice", "DECLARE B\n{\n}\n}\n", "Invalid closing bracket (}) in line 4"},
        ErrorCase{"InvalidAtTopLevel", "HELLO\n",
                  "Invalid statement on template line 1. Should contain a DECLARE statement"},
        ErrorCase{"LowerCaseKeyword", "declare TEMPLATE\n",
                  "Invalid statement on template line 1. Should contain a DECLARE statement"},
        ErrorCase{"InvalidInsideBlock", "DECLARE B\n{\nSET A 1\nhello\n}\n",
                  "Invalid statement on template line 4. Should contain a MAP/SET/ADD statement"},
        ErrorCase{"IndentedTextInsideBlock", "DECLARE B\n{\n  x # y\n",
                  "Invalid statement on template line 3. Should contain a MAP/SET/ADD statement"},
        ErrorCase{"MissingDesc", "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME n\n}\n",
                  "Missing required SET TEMPLATE_DESC statement from TEMPLATE block"},
        ErrorCase{"NameWithoutValue", "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME\n}\n",
                  "Missing required SET TEMPLATE_NAME statement from TEMPLATE block"},
        ErrorCase{"NameNeedsAValue",
                  "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME \"open\nSET TEMPLATE_DESC d\n}\n",
                  "Missing required SET TEMPLATE_NAME statement from TEMPLATE block"},
        ErrorCase{"UidCheckedBeforeLogic",
                  "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME n\nSET TEMPLATE_DESC d\n"
                  "SET TEMPLATE_UID 0\n}\n",
                  "TEMPLATE_UID must be greather than 0"},
        ErrorCase{"MissingUid",
                  "DECLARE TEMPLATE\n{\nSET TEMPLATE_NAME n\nSET TEMPLATE_DESC d\n}\n",
                  "Missing required SET TEMPLATE_UID statement from TEMPLATE block"},
        ErrorCase{"UidZero", "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "UID 3", "UID 0") + "}\n",
                  "TEMPLATE_UID must be greather than 0"},
        ErrorCase{"UidLetters",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "UID 3", "UID abc") + "}\n",
                  "TEMPLATE_UID must be greather than 0"},
        ErrorCase{"UidNegative",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "UID 3", "UID -3") + "}\n",
                  "TEMPLATE_UID must be greather than 0"},
        ErrorCase{
            "MissingLogic",
            "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SET TEMPLATE_LOGIC SINGLE\n", "") + "}\n",
            "Missing required SET TEMPLATE_LOGIC statement from TEMPLATE block"},
        ErrorCase{"LowerCaseLogic",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SINGLE", "single") + "}\n",
                  "Unsupported TEMPLATE_LOGIC value (single)"},
        ErrorCase{"MissingSingleBlock", "DECLARE TEMPLATE\n{\n" + kIdentity + "}\n",
                  "Missing SINGLE template block"},
        ErrorCase{"MissingMultiframeBlock",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SINGLE", "MULTIFRAME") + "}\n",
                  "Missing MULTIFRAME template block"},
        ErrorCase{"MissingSlicingBlock",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SINGLE", "FRAMESLICING") + "}\n",
                  "Missing FRAMESLICING template block"},
        ErrorCase{"MissingBroadcastBlock",
                  "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SINGLE", "BROADCAST") +
                      "}\nDECLARE SINGLE\n{\n}\n",
                  "Missing BROADCAST template block"},
        ErrorCase{"LogicBlockNestedDoesNotCount",
                  "DECLARE TEMPLATE\n{\n" + kIdentity + "DECLARE SINGLE\n{\n}\n}\n",
                  "Missing SINGLE template block"},
        ErrorCase{"UnclosedTemplateBlock", "DECLARE TEMPLATE\n{\n" + kIdentity,
                  "Missing required SET TEMPLATE_NAME statement from TEMPLATE block"}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return info.param.title; });

TEST_F(ParserTest, LongLogicValueIsCutToTheMessageSize) {
    const std::string logic(5000, 'L');
    ParseOutcome outcome = Parse(
        manager_.get(), "DECLARE TEMPLATE\n{\n" + Replace(kIdentity, "SINGLE", logic) + "}\n");
    ASSERT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.error.size(), 2047u);
    EXPECT_EQ(outcome.error.compare(0, 31, "Unsupported TEMPLATE_LOGIC valu"), 0);
}

TEST_F(ParserTest, LineNumbersCountEveryLineAndCrLf) {
    const std::string text = "# one\r\n\r\n   \r\nDECLARE B\r\n{\r\n  SET\r\n}\r\n";
    EXPECT_EQ(Parse(manager_.get(), text).error, "Found an empty SET statement in line 6");
    // The last line needs no line feed.
    EXPECT_EQ(Parse(manager_.get(), "DECLARE B\n{\nSET").error,
              "Found an empty SET statement in line 3");
}

struct KeywordCase {
    const char* line;
    int kind;
    std::string name;
    std::vector<std::string> values;
};

TEST_F(ParserTest, KeywordsAreBarePrefixes) {
    const KeywordCase cases[] = {
        {"SETX 1", kTemplateItemSet, "X", {"1"}},
        {"MAPPING a b", kTemplateItemMap, "PING", {"a", "b"}},
        {"ADDRESS", kTemplateItemAdd, "RESS", {}},
        {"SET\tA 1", kTemplateItemSet, "\tA", {"1"}},
    };
    for (const KeywordCase& c : cases) {
        ParseOutcome outcome = Parse(manager_.get(), WithBlock("B", c.line));
        ASSERT_FALSE(outcome.failed) << c.line << ": " << outcome.error;
        const zrTemplateBlockEntry* item = OnlyItem(outcome, c.kind);
        ASSERT_NE(item, nullptr) << c.line;
        EXPECT_EQ(item->GetName(), c.name) << c.line;
        EXPECT_EQ(item->GetValues(), c.values) << c.line;
    }
    // DECLARE is a prefix too: the first token, whatever it is, is dropped.
    ParseOutcome outcome =
        Parse(manager_.get(), "DECLAREFOO B\n{\nSET A 1\n}\n" + MinimalTemplate(1));
    ASSERT_FALSE(outcome.failed) << outcome.error;
    EXPECT_NE(outcome.entry->GetBlockByName("B"), nullptr);
}

struct TokenCase {
    const char* title;
    std::string rest;  // what follows "SET " on the line
    std::string name;
    std::vector<std::string> values;
};

class TokenTest : public ParserTest, public ::testing::WithParamInterface<TokenCase> {};

// Hundreds of plain, quoted and escaped values on one line longer than any short buffer.
TokenCase ManyValuesCase() {
    TokenCase c{"ManyValues", "A", "A", {}};
    for (int i = 0; i < 300; ++i) {
        const std::string digits = std::to_string(i);
        c.rest += i % 3 == 0   ? " " + digits
                  : i % 3 == 1 ? " \"" + digits + " q\""
                               : " e\\t" + digits;
        c.values.push_back(i % 3 == 0 ? digits : i % 3 == 1 ? digits + " q" : "e\t" + digits);
    }
    return c;
}

// Names keep their quotes, values lose them; escapes and empty tokens follow ExtractToken.
TEST_P(TokenTest, SplitsLikeExtractToken) {
    const TokenCase& c = GetParam();
    ParseOutcome outcome = Parse(manager_.get(), WithBlock("B", "SET " + c.rest));
    ASSERT_FALSE(outcome.failed) << outcome.error;
    const zrTemplateBlockEntry* item = OnlyItem(outcome, kTemplateItemSet);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->GetName(), c.name);
    EXPECT_EQ(item->GetValues(), c.values);

    // The same split through the framework's own tokenizer.
    std::string rest = c.rest;
    ZRFramework::ZRStringHelper::TrimLeft(rest);
    ZRFramework::ZRStringHelper::TrimRight(rest);
    std::string name, value;
    ASSERT_TRUE(ZRFramework::ZRStringHelper::ExtractToken(rest, name, " ", "\"", false));
    std::vector<std::string> values;
    while (ZRFramework::ZRStringHelper::ExtractToken(rest, value, " ", "\"", true))
        values.push_back(value);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(values, c.values);

    // The same statement as the text's last line, where short lines take another path.
    for (const char* ending : {"\n}", "\n}\n"}) {
        ParseOutcome last =
            Parse(manager_.get(), MinimalTemplate(1) + "DECLARE B\n{\nSET " + c.rest + ending);
        ASSERT_FALSE(last.failed) << last.error;
        const zrTemplateBlockEntry* lastItem = OnlyItem(last, kTemplateItemSet);
        ASSERT_NE(lastItem, nullptr);
        EXPECT_EQ(lastItem->GetName(), c.name);
        EXPECT_EQ(lastItem->GetValues(), c.values);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, TokenTest,
    ::testing::Values(
        TokenCase{"QuotedValue", "A \"hello world\"", "A", {"hello world"}},
        TokenCase{"QuotedName", "\"Q N\" 1", "\"Q N\"", {"1"}},
        TokenCase{"TwoSpaces", "A 1  2", "A", {"1", "", "2"}},
        TokenCase{"HashIsAValue", "A 1 # note", "A", {"1", "#", "note"}},
        TokenCase{"EscapedQuote", "A \"x\\\"y\"", "A", {"x\"y"}},
        TokenCase{"EscapedTab", "A a\\tb", "A", {"a\tb"}},
        TokenCase{"EscapedNewline", "A a\\nb", "A", {"a\nb"}},
        TokenCase{"EscapedBackslash", "A a\\\\b", "A", {"a\\b"}},
        TokenCase{"EscapedOther", "A \\q\\ x", "A", {"q x"}},
        TokenCase{"TrailingBackslash", "A 1\\", "A", {"1\\"}},
        TokenCase{"TabDoesNotSeparate", "A a\tb", "A", {"a\tb"}},
        TokenCase{"OpenQuoteEndsValues", "A 1 \"open 2", "A", {"1"}},
        TokenCase{"EmptyQuoted", "A \"\"", "A", {""}},
        TokenCase{"InnerQuotes", "A a\"b c\"d", "A", {"ab cd"}},
        TokenCase{"SpacesTrimmed", "   A 1   ", "A", {"1"}},
        TokenCase{"TrailingTabStays", "A 1\t", "A", {"1\t"}}, TokenCase{"NoValues", "A", "A", {}},
        TokenCase{"LongValues",
                  "A " + std::string(300, 'x') + " \"" + std::string(20000, 'y') + "\" " +
                      std::string(127, 'z'),
                  "A",
                  {std::string(300, 'x'), std::string(20000, 'y'), std::string(127, 'z')}},
        TokenCase{"ValueFillsTheItem", "A " + std::string(54, 'f'), "A", {std::string(54, 'f')}},
        TokenCase{"ValueJustPastTheItem", "A " + std::string(55, 'f'), "A", {std::string(55, 'f')}},
        // Lines of 63 and 64 bytes before their LF, and a quoted value in a short line.
        TokenCase{"LineOf63", "A " + std::string(57, 'w'), "A", {std::string(57, 'w')}},
        TokenCase{"LineOf64", "A " + std::string(58, 'w'), "A", {std::string(58, 'w')}},
        TokenCase{"QuotedAmongPlain", "A x \"y z\"  \"\" w", "A", {"x", "y z", "", "", "w"}},
        TokenCase{"LongEscapedValue",
                  "A \"" + std::string(600, 'x') + "\\\"" + std::string(600, 'y') + "\"",
                  "A",
                  {std::string(600, 'x') + "\"" + std::string(600, 'y')}},
        ManyValuesCase(),
        TokenCase{
            "LongEscapedName", std::string(70, 'n') + "\\q v", std::string(70, 'n') + "q", {"v"}}),
    [](const ::testing::TestParamInfo<TokenCase>& info) { return info.param.title; });

TEST_F(ParserTest, LinesAreCleanedBeforeTheyAreRead) {
    // Leading blanks go, then every CR; a comment may be indented.
    const std::string lines = " \t\r  SET A 1\n  # SET B 2\nSET C 1\r2\nSET D 1 \t\n";
    ParseOutcome outcome = Parse(manager_.get(), WithBlock("B", lines));
    ASSERT_FALSE(outcome.failed) << outcome.error;
    std::string value;
    EXPECT_TRUE(outcome.entry->GetString("B", "A", kTemplateItemSet, value, 0));
    EXPECT_EQ(value, "1");
    EXPECT_EQ(outcome.entry->GetItem("B", "B", kTemplateItemSet), nullptr);
    EXPECT_TRUE(outcome.entry->GetString("B", "C", kTemplateItemSet, value, 0));
    EXPECT_EQ(value, "12");
    // Trailing tabs stay, and a tab does not separate.
    const zrTemplateBlockEntry* d = outcome.entry->GetItem("B", "D", kTemplateItemSet);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetValues(), (std::vector<std::string>{"1", "\t"}));
}

TEST_F(ParserTest, DeclarationNamesKeepQuotesAndIgnoreTheRest) {
    ParseOutcome outcome =
        Parse(manager_.get(), "DECLARE \"My Block\" trailing words\n{\n}\n" + MinimalTemplate(1));
    ASSERT_FALSE(outcome.failed) << outcome.error;
    EXPECT_NE(outcome.entry->GetBlockByName("\"My Block\""), nullptr);
    EXPECT_EQ(outcome.entry->GetBlockByName("My Block"), nullptr);
}

TEST_F(ParserTest, BlocksNestAndJoinInClosingOrder) {
    const std::string text = MinimalTemplate(1) +
                             "DECLARE OUTER\n{\n"
                             "  SET A 1\n"
                             "  DECLARE FIRST\n  {\n    ADD L 1\n"
                             "    DECLARE DEEP\n    {\n    SET D 4\n    }\n    SET F 2\n  }\n"
                             "  DECLARE SECOND\n  {\n  }\n"
                             "  MAP M v\n"
                             "  SET Z 3\n"
                             "}\n";
    ParseOutcome outcome = Parse(manager_.get(), text);
    ASSERT_FALSE(outcome.failed) << outcome.error;
    zrTemplateEntry& entry = *outcome.entry;

    std::vector<std::string> topLevel;
    zrTemplateBlockIterator position;
    for (zrTemplateBlock* block = entry.GetFirstBlock(&position); block;
         block = entry.GetNextBlock(&position))
        topLevel.push_back(block->GetName());
    EXPECT_EQ(topLevel, (std::vector<std::string>{"TEMPLATE", "SINGLE", "OUTER"}));

    zrTemplateBlock* outer = entry.GetBlockByName("OUTER");
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->GetParent(), nullptr);
    std::vector<std::string> nested;
    for (zrTemplateBlock* block = outer->GetFirstBlock(&position); block;
         block = outer->GetNextBlock(&position)) {
        nested.push_back(block->GetName());
        EXPECT_EQ(block->GetParent(), outer);
    }
    EXPECT_EQ(nested, (std::vector<std::string>{"FIRST", "SECOND"}));
    zrTemplateBlock* deep = entry.ResolveTemplatePath("OUTER/FIRST/DEEP");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->GetParent(), outer->GetBlockByName("FIRST"));
    // Statements after a nested block still belong to the outer one, in file order.
    EXPECT_NE(entry.GetItem("OUTER", "M", kTemplateItemMap), nullptr);
    auto names = [](zrTemplateBlock* block, int kind) {
        std::vector<std::string> found;
        for (const zrTemplateBlockEntry& item : *block->GetItemList(kind))
            found.push_back(item.GetName());
        return found;
    };
    EXPECT_EQ(names(outer, kTemplateItemSet), (std::vector<std::string>{"A", "Z"}));
    EXPECT_EQ(names(outer->GetBlockByName("FIRST"), kTemplateItemSet),
              (std::vector<std::string>{"F"}));
    EXPECT_EQ(names(outer->GetBlockByName("FIRST"), kTemplateItemAdd),
              (std::vector<std::string>{"L"}));
    EXPECT_EQ(names(deep, kTemplateItemSet), (std::vector<std::string>{"D"}));
    EXPECT_TRUE(names(outer->GetBlockByName("SECOND"), kTemplateItemSet).empty());
}

TEST_F(ParserTest, UnclosedBlockIsNotPartOfTheTemplate) {
    ParseOutcome outcome =
        Parse(manager_.get(), MinimalTemplate(1) + "DECLARE LOOSE\n{\nSET A 1\n");
    ASSERT_FALSE(outcome.failed) << outcome.error;
    EXPECT_EQ(outcome.entry->GetBlockByName("LOOSE"), nullptr);
}

TEST_F(ParserTest, CrLfParsesLikeLfButHashesDifferently) {
    const std::string lf = MinimalTemplate(7, "BROADCAST", "DECLARE SUBMISSION\n{\nMAP a b\n}");
    const std::string crlf = Replace(lf, "\n", "\r\n");
    ParseOutcome fromLf = Parse(manager_.get(), lf);
    ParseOutcome fromCrLf = Parse(manager_.get(), crlf);
    ASSERT_FALSE(fromLf.failed) << fromLf.error;
    ASSERT_FALSE(fromCrLf.failed) << fromCrLf.error;

    for (ParseOutcome* outcome : {&fromLf, &fromCrLf}) {
        zrTemplateEntry& entry = *outcome->entry;
        EXPECT_EQ(entry.GetUID(), 7);
        EXPECT_EQ(entry.GetName(), "Template 7");
        std::string value;
        EXPECT_TRUE(entry.GetString("SUBMISSION", "a", kTemplateItemMap, value, 0));
        EXPECT_EQ(value, "b");
    }
    EXPECT_EQ(fromLf.entry->GetMd5Hash(), Md5Of(lf));
    EXPECT_EQ(fromCrLf.entry->GetMd5Hash(), Md5Of(crlf));
    EXPECT_NE(fromLf.entry->GetMd5Hash(), fromCrLf.entry->GetMd5Hash());
}

TEST_F(ParserTest, ContentIsAnExactCopyOfTheText) {
    const std::string text = "# leading comment\r\n\n" + MinimalTemplate(9) + "\n\n# tail";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    zrTemplateEntry* raw = manager_->Parse(buffer.data(), "c.template", false, false);
    std::unique_ptr<zrTemplateEntry> entry(raw);
    EXPECT_EQ(std::string(buffer.data()), text);  // not modified
    ASSERT_EQ(entry->GetTemplateContentSize(), text.size());
    EXPECT_NE(entry->GetTemplateContent(), buffer.data());
    EXPECT_EQ(std::memcmp(entry->GetTemplateContent(), text.data(), text.size()), 0);
    EXPECT_EQ(entry->GetTemplateContent()[text.size()], '\0');
    EXPECT_EQ(entry->GetMd5Hash(), Md5Of(text));
    EXPECT_EQ(entry->GetMd5Hash().size(), 32u);
}

// The digest is taken block by block as lines are read: texts ending on, just before and just
// after a block boundary, and lines that straddle one, must hash as the whole text does.
TEST_F(ParserTest, DigestMatchesTheWholeTextAtEveryLengthAroundBlockEnds) {
    const std::string base = MinimalTemplate(3);
    for (size_t target : {size_t{192}, size_t{256}, size_t{1024}, size_t{4096}}) {
        for (size_t length = target - 2; length <= target + 2; ++length) {
            std::string text = base;
            while (text.size() + 80 < length)
                text += "# " + std::string(60, 'x') + "\n";
            if (text.size() < length) text += "#" + std::string(length - text.size() - 1, 'y');
            ASSERT_EQ(text.size(), length);
            ParseOutcome outcome = Parse(manager_.get(), text);
            ASSERT_FALSE(outcome.failed) << outcome.error;
            EXPECT_EQ(outcome.entry->GetMd5Hash(), Md5Of(text)) << length;
        }
    }
}

TEST_F(ParserTest, RegisteringHandsTheTemplateToTheManager) {
    zrTemplateEntry* entry = Register(manager_.get(), MinimalTemplate(4), "four.template");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(manager_->GetTemplateCount(), 1);
    EXPECT_EQ(manager_->GetTemplate(4), entry);
    // Parse leaves the internal hashes map to the caller.
    EXPECT_TRUE(manager_->GetInternalHashesMap()->empty());
}

TEST_F(ParserTest, DuplicateUidIsRejectedWithoutReplace) {
    zrTemplateEntry* first = Register(manager_.get(), MinimalTemplate(5), "first.template");
    ASSERT_NE(first, nullptr);
    std::string error;
    EXPECT_EQ(
        Register(manager_.get(), MinimalTemplate(5, "BROADCAST"), "second.template", false, &error),
        nullptr);
    EXPECT_EQ(error, "Duplicate template UID found. Template discarded");
    EXPECT_EQ(manager_->GetTemplateCount(), 1);
    EXPECT_EQ(manager_->GetTemplate(5), first);
    EXPECT_EQ(first->GetFileName(), "first.template");

    // Without registering, nothing is compared.
    ParseOutcome loose = Parse(manager_.get(), MinimalTemplate(5));
    EXPECT_FALSE(loose.failed);
}

TEST_F(ParserTest, DuplicateUidReplacesWithReplace) {
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(5), "old.template"), nullptr);
    manager_->FillInternalHashesMap();
    const std::string oldHash = manager_->GetInternalHashesMap()->at(5)->GetMd5Hash();

    zrTemplateEntry* fresh =
        Register(manager_.get(), MinimalTemplate(5, "BROADCAST"), "new.template", true);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(manager_->GetTemplateCount(), 1);
    EXPECT_EQ(manager_->GetTemplate(5), fresh);
    EXPECT_EQ(fresh->GetFileName(), "new.template");
    // The internal record still describes the old template until the caller updates it.
    EXPECT_EQ(manager_->GetInternalHashesMap()->at(5)->GetMd5Hash(), oldHash);
    EXPECT_EQ(manager_->GetInternalHashesMap()->at(5)->GetFileName(), "old.template");
}

TEST_F(ParserTest, FailedReplacementKeepsTheRegisteredTemplate) {
    zrTemplateEntry* kept = Register(manager_.get(), MinimalTemplate(5), "kept.template");
    std::string error;
    EXPECT_EQ(Register(manager_.get(), "DECLARE TEMPLATE\n{\nSET TEMPLATE_UID 5\n}\n", "bad", true,
                       &error),
              nullptr);
    EXPECT_EQ(error, "Missing required SET TEMPLATE_NAME statement from TEMPLATE block");
    EXPECT_EQ(manager_->GetTemplate(5), kept);
}

// Each thread expects its own message; a buffer shared between parses would mix them up.
TEST_F(ParserTest, TwoThreadsParseAtOnce) {
    constexpr int kRounds = 300;
    std::atomic<int> mismatches{0};
    auto worker = [&](int seed) {
        for (int round = 0; round < kRounds; ++round) {
            const int line = 3 + (round + seed) % 40;
            std::string text = "DECLARE B\n{\n";
            for (int i = 3; i < line; ++i)
                text += "SET A" + std::to_string(i) + " v\n";
            text += seed % 2 ? "SET\n" : "bogus\n";
            const std::string expected =
                seed % 2 ? "Found an empty SET statement in line " + std::to_string(line)
                         : "Invalid statement on template line " + std::to_string(line) +
                               ". Should contain a MAP/SET/ADD statement";
            if (Parse(manager_.get(), text).error != expected) ++mismatches;
            ParseOutcome good = Parse(manager_.get(), MinimalTemplate(seed * 1000 + round));
            if (good.failed || good.entry->GetUID() != seed * 1000 + round) ++mismatches;
        }
    };
    std::thread first(worker, 1);
    std::thread second(worker, 2);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
