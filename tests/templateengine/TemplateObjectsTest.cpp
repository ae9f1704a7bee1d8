// Tests of the template objects: typed reads and their conversions, path lookup, item and block
// walks, and deep copies of blocks and templates.
#include <gtest/gtest.h>

#include <climits>

#include <cstring>
#include <string>

#include "TemplateTestSupport.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

class ObjectsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string text = MinimalTemplate(12, "MULTIFRAME",
                                                 "DECLARE VALUES\n{\n"
                                                 "  SET FLAG_EMPTY \"\"\n"
                                                 "  SET FLAG_ZERO 0\n"
                                                 "  SET FLAG_NO no\n"
                                                 "  SET FLAG_FALSE false\n"
                                                 "  SET FLAG_DOUBLE_ZERO 00\n"
                                                 "  SET MIXED 12abc\n"
                                                 "  SET LETTERS abc\n"
                                                 "  SET SPACED \" -7\"\n"
                                                 "  SET BIG 9000000000\n"
                                                 "  SET TWICE first\n"
                                                 "  SET TWICE second\n"
                                                 "  MAP TWICE mapped\n"
                                                 "  ADD LIST a b c\n"
                                                 "  DECLARE INNER\n  {\n"
                                                 "    SET DEEP 1\n"
                                                 "    DECLARE CORE\n    {\n    }\n"
                                                 "  }\n"
                                                 "}\n");
        ParseOutcome outcome = Parse(manager_.get(), text);
        ASSERT_FALSE(outcome.failed) << outcome.error;
        entry_ = std::move(outcome.entry);
    }

    ManagerPtr manager_ = NewManager();
    std::unique_ptr<zrTemplateEntry> entry_;
};

TEST_F(ObjectsTest, EntryWithoutTemplateBlockHasNoIdentity) {
    zrTemplateEntry empty;
    EXPECT_EQ(empty.GetUID(), -1);
    EXPECT_EQ(empty.GetName(), "");
    EXPECT_EQ(empty.GetDescription(), "");
    EXPECT_EQ(empty.GetTemplateContent(), nullptr);
    EXPECT_EQ(empty.GetTemplateContentSize(), 0u);
    zrTemplateBlockIterator position;
    EXPECT_EQ(empty.GetFirstBlock(&position), nullptr);
    EXPECT_EQ(empty.GetNextBlock(&position), nullptr);
}

TEST_F(ObjectsTest, IndexBeyondTheValuesIsFalseAndLeavesTheOutput) {
    std::string out = "unchanged";
    EXPECT_FALSE(entry_->GetString("TEMPLATE", "TEMPLATE_UID", kTemplateItemSet, out, 1));
    EXPECT_FALSE(entry_->GetString("TEMPLATE", "TEMPLATE_UID", kTemplateItemSet, out, -1));
    EXPECT_EQ(out, "unchanged");
    int number = 99;
    EXPECT_FALSE(entry_->GetInt("TEMPLATE", "MISSING", kTemplateItemSet, number, 0));
    EXPECT_FALSE(entry_->GetInt("NOBLOCK", "TEMPLATE_UID", kTemplateItemSet, number, 0));
    EXPECT_EQ(number, 99);
    EXPECT_TRUE(entry_->GetString("TEMPLATE", "TEMPLATE_UID", kTemplateItemSet, out, 0));
    EXPECT_EQ(out, "12");
}

TEST_F(ObjectsTest, BoolReadsFalseOnlyForZeroAndEmpty) {
    const struct {
        const char* name;
        bool expected;
    } cases[] = {{"FLAG_EMPTY", false}, {"FLAG_ZERO", false},       {"FLAG_NO", true},
                 {"FLAG_FALSE", true},  {"FLAG_DOUBLE_ZERO", true}, {"LETTERS", true}};
    for (const auto& c : cases) {
        bool value = !c.expected;
        EXPECT_TRUE(entry_->GetBool("VALUES", c.name, kTemplateItemSet, value, 0)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }
}

TEST_F(ObjectsTest, NumbersConvertAsTheCLibraryDoes) {
    int number = -1;
    EXPECT_TRUE(entry_->GetInt("VALUES", "MIXED", kTemplateItemSet, number, 0));
    EXPECT_EQ(number, 12);
    EXPECT_TRUE(entry_->GetInt("VALUES", "LETTERS", kTemplateItemSet, number, 0));
    EXPECT_EQ(number, 0);
    EXPECT_TRUE(entry_->GetInt("VALUES", "SPACED", kTemplateItemSet, number, 0));
    EXPECT_EQ(number, -7);
    long wide = 0;
    EXPECT_TRUE(entry_->GetLong("VALUES", "BIG", kTemplateItemSet, wide, 0));
#if LONG_MAX > INT_MAX  // a 32-bit long cannot hold the value
    EXPECT_EQ(wide, 9000000000L);
#endif
    zrTemplateTime time = 0;
    EXPECT_TRUE(entry_->GetTime("VALUES", "BIG", kTemplateItemSet, time, 0));
    EXPECT_EQ(time, 9000000000LL);

    const zrTemplateBlockEntry* item = entry_->GetItem("VALUES", "MIXED", kTemplateItemSet);
    ASSERT_NE(item, nullptr);
    EXPECT_TRUE(item->GetInt(number, 0));
    EXPECT_EQ(number, 12);
    EXPECT_FALSE(item->GetLong(wide, 1));
}

TEST_F(ObjectsTest, FirstItemOfANameWinsAndKindsSelectLists) {
    std::string value;
    EXPECT_TRUE(entry_->GetString("VALUES", "TWICE", kTemplateItemSet, value, 0));
    EXPECT_EQ(value, "first");
    EXPECT_TRUE(entry_->GetString("VALUES", "TWICE", kTemplateItemMap, value, 0));
    EXPECT_EQ(value, "mapped");
    EXPECT_TRUE(entry_->GetString("VALUES", "LIST", kTemplateItemAdd, value, 2));
    EXPECT_EQ(value, "c");
    // Unknown kinds read the SET items.
    EXPECT_EQ(entry_->GetItem("VALUES", "TWICE", 7),
              entry_->GetItem("VALUES", "TWICE", kTemplateItemSet));
    EXPECT_EQ(entry_->GetItem("VALUES", "LIST", 7), nullptr);
    // Names are exact.
    EXPECT_EQ(entry_->GetItem("VALUES", "twice", kTemplateItemSet), nullptr);
    EXPECT_EQ(entry_->GetItem("VALUES", nullptr, kTemplateItemSet), nullptr);
}

TEST_F(ObjectsTest, PathsNameNestedBlocks) {
    zrTemplateBlock* values = entry_->GetBlockByName("VALUES");
    ASSERT_NE(values, nullptr);
    zrTemplateBlock* inner = values->GetBlockByName("INNER");
    ASSERT_NE(inner, nullptr);
    const struct {
        const char* path;
        zrTemplateBlock* expected;
    } cases[] = {{"", nullptr},
                 {"/VALUES", nullptr},
                 {"VALUES", values},
                 {"VALUES/", values},
                 {"VALUES/INNER", inner},
                 {"VALUES/INNER/", inner},
                 {"VALUES/INNER/CORE", inner->GetBlockByName("CORE")},
                 {"VALUES//INNER", nullptr},
                 {"VALUES/NOPE", nullptr},
                 {"INNER", nullptr},
                 {"values", nullptr}};
    for (const auto& c : cases)
        EXPECT_EQ(entry_->ResolveTemplatePath(c.path), c.expected) << "'" << c.path << "'";
    EXPECT_EQ(entry_->ResolveTemplatePath(nullptr), nullptr);
    std::string value;
    EXPECT_TRUE(entry_->GetString("VALUES/INNER", "DEEP", kTemplateItemSet, value, 0));
    EXPECT_EQ(value, "1");
    // One level only.
    EXPECT_EQ(values->GetBlockByName("CORE"), nullptr);
}

TEST_F(ObjectsTest, ItemWalkStopsAtTheEndOfTheChosenList) {
    zrTemplateBlock* values = entry_->GetBlockByName("VALUES");
    zrTemplateItemIterator position;
    zrTemplateBlockEntry* item = nullptr;
    std::vector<std::string> names;
    for (bool more = values->GetFirstItem(&position, kTemplateItemSet, &item); more;
         more = values->GetNextItem(&position, kTemplateItemSet, &item))
        names.push_back(item->GetName());
    ASSERT_EQ(names.size(), 11u);
    EXPECT_EQ(names.front(), "FLAG_EMPTY");
    EXPECT_EQ(names.back(), "TWICE");
    EXPECT_FALSE(values->GetNextItem(&position, kTemplateItemSet, &item));

    zrTemplateBlock* core = entry_->ResolveTemplatePath("VALUES/INNER/CORE");
    item = nullptr;
    EXPECT_FALSE(core->GetFirstItem(&position, kTemplateItemAdd, &item));
    EXPECT_FALSE(core->GetNextItem(&position, kTemplateItemAdd, &item));
    EXPECT_EQ(item, nullptr);
}

TEST_F(ObjectsTest, FindInMapGivesTheFirstMatchOrTheEnd) {
    zrTemplateItemList* list = entry_->GetBlockByName("VALUES")->GetItemList(kTemplateItemSet);
    zrTemplateItemIterator found = entry_->FindInMap(list, "TWICE");
    ASSERT_NE(found, list->end());
    std::string value;
    EXPECT_TRUE(found->GetString(value, 0));
    EXPECT_EQ(value, "first");
    EXPECT_EQ(entry_->FindInMap(list, "ABSENT"), list->end());
}

TEST_F(ObjectsTest, EntryCopyIsDeepAndAppends) {
    zrTemplateEntry copy;
    copy.AddBlock(std::make_unique<zrTemplateBlock>("EXISTING"));
    copy = *entry_;
    EXPECT_NE(copy.GetBlockByName("EXISTING"), nullptr);
    EXPECT_EQ(copy.GetUID(), 12);
    EXPECT_EQ(copy.GetMd5Hash(), entry_->GetMd5Hash());
    EXPECT_EQ(copy.GetFileName(), entry_->GetFileName());
    ASSERT_EQ(copy.GetTemplateContentSize(), entry_->GetTemplateContentSize());
    EXPECT_NE(copy.GetTemplateContent(), entry_->GetTemplateContent());
    EXPECT_EQ(std::strcmp(copy.GetTemplateContent(), entry_->GetTemplateContent()), 0);

    zrTemplateBlock* copiedValues = copy.GetBlockByName("VALUES");
    ASSERT_NE(copiedValues, nullptr);
    EXPECT_NE(copiedValues, entry_->GetBlockByName("VALUES"));
    EXPECT_EQ(copiedValues->GetParent(), nullptr);
    zrTemplateBlock* copiedInner = copy.ResolveTemplatePath("VALUES/INNER");
    EXPECT_EQ(copiedInner->GetParent(), copiedValues);
    EXPECT_EQ(copy.ResolveTemplatePath("VALUES/INNER/CORE")->GetParent(), copiedInner);

    copiedValues->clear();
    EXPECT_EQ(copiedValues->GetName(), "VALUES");
    EXPECT_EQ(copy.GetItem("VALUES", "TWICE", kTemplateItemSet), nullptr);
    EXPECT_NE(entry_->GetItem("VALUES", "TWICE", kTemplateItemSet), nullptr);
}

TEST_F(ObjectsTest, SelfAssignmentChangesNothing) {
    zrTemplateEntry& same = *entry_;
    const size_t blocks = [&] {
        size_t count = 0;
        zrTemplateBlockIterator position;
        for (auto* b = entry_->GetFirstBlock(&position); b; b = entry_->GetNextBlock(&position))
            ++count;
        return count;
    }();
    *entry_ = same;
    size_t after = 0;
    zrTemplateBlockIterator position;
    for (auto* b = entry_->GetFirstBlock(&position); b; b = entry_->GetNextBlock(&position))
        ++after;
    EXPECT_EQ(after, blocks);

    zrTemplateBlock* values = entry_->GetBlockByName("VALUES");
    zrTemplateBlock& sameBlock = *values;
    *values = sameBlock;
    EXPECT_NE(entry_->GetItem("VALUES", "TWICE", kTemplateItemSet), nullptr);
}

TEST_F(ObjectsTest, BlockAssignmentReplacesAndReparents) {
    zrTemplateBlock target("TARGET");
    target.AddItem(kTemplateItemSet, zrTemplateBlockEntry("OLD", {"1"}));
    target.AddBlock(std::make_unique<zrTemplateBlock>("OLDCHILD"));
    target = *entry_->GetBlockByName("VALUES");
    EXPECT_EQ(target.GetName(), "VALUES");
    EXPECT_EQ(target.GetBlockByName("OLDCHILD"), nullptr);
    EXPECT_EQ(target.GetItemList(kTemplateItemSet)->size(), 11u);
    EXPECT_EQ(target.GetItemList(kTemplateItemMap)->size(), 1u);
    EXPECT_EQ(target.GetItemList(kTemplateItemAdd)->size(), 1u);
    zrTemplateBlock* inner = target.GetBlockByName("INNER");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->GetParent(), &target);
    EXPECT_EQ(inner->GetBlockByName("CORE")->GetParent(), inner);
}

// The source lives inside the destination, which assignment empties first.
TEST_F(ObjectsTest, BlockAssignedFromItsOwnChild) {
    zrTemplateBlock* values = entry_->GetBlockByName("VALUES");
    *values = *values->GetBlockByName("INNER");
    EXPECT_EQ(values->GetName(), "INNER");
    EXPECT_NE(values->GetBlockByName("CORE"), nullptr);
    EXPECT_EQ(values->GetBlockByName("CORE")->GetParent(), values);
    ASSERT_EQ(values->GetItemList(kTemplateItemSet)->size(), 1u);
    EXPECT_EQ(values->GetItemList(kTemplateItemSet)->front().GetName(), "DEEP");
    EXPECT_EQ(entry_->GetBlockByName("INNER"), values);
}

// Values of every length survive copies and moves, whether they live in the item or beside it.
TEST(TemplateBlockEntryTest, ValuesSurviveCopiesAndMoves) {
    const std::vector<std::string> shortValues = {"", "1", "two words"};
    const std::vector<std::string> longValues = {"", std::string(127, 'a'), std::string(128, 'b'),
                                                 std::string(20000, 'c'), "last"};
    zrTemplateBlockEntry small("SMALL", shortValues);
    zrTemplateBlockEntry large(std::string(40, 'N'), longValues);
    EXPECT_EQ(small.GetValues(), shortValues);
    EXPECT_EQ(large.GetValues(), longValues);
    EXPECT_EQ(large.GetName(), std::string(40, 'N'));
    EXPECT_EQ(large.GetValueCount(), 5);
    std::string value;
    EXPECT_TRUE(large.GetString(value, 3));
    EXPECT_EQ(value.size(), 20000u);
    EXPECT_FALSE(large.GetString(value, 5));

    zrTemplateBlockEntry copy = large;
    EXPECT_EQ(copy.GetValues(), longValues);
    copy = small;  // a large buffer takes a small item
    EXPECT_EQ(copy.GetValues(), shortValues);
    EXPECT_EQ(copy.GetName(), "SMALL");
    zrTemplateBlockEntry moved = std::move(large);
    EXPECT_EQ(moved.GetValues(), longValues);
    small = std::move(moved);  // a small buffer takes a large one
    EXPECT_EQ(small.GetValues(), longValues);
    moved = zrTemplateBlockEntry("AGAIN", shortValues);
    EXPECT_EQ(moved.GetValues(), shortValues);

    std::vector<zrTemplateBlockEntry> many;
    for (int i = 0; i < 200; ++i)
        many.emplace_back("I" + std::to_string(i),
                          std::vector<std::string>{std::string(static_cast<size_t>(i), 'v')});
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(many[static_cast<size_t>(i)].GetName(), "I" + std::to_string(i));
        EXPECT_TRUE(many[static_cast<size_t>(i)].GetString(value, 0));
        EXPECT_EQ(value, std::string(static_cast<size_t>(i), 'v'));
    }
}

// Nesting depth comes from the text: copying and destroying must not recurse once per level.
TEST(TemplateDepthTest, DeeplyNestedBlocksCopyAndFree) {
    constexpr int kDepth = 200000;
    std::string text;
    text.reserve(kDepth * 14 + 400);
    for (int i = 0; i < kDepth; ++i)
        text += "DECLARE N\n{\n";
    text += "SET DEEPEST 1\n";
    for (int i = 0; i < kDepth; ++i)
        text += "}\n";
    text += MinimalTemplate(1);
    ManagerPtr manager = NewManager();
    ParseOutcome outcome = Parse(manager.get(), text);
    ASSERT_FALSE(outcome.failed) << outcome.error;
    zrTemplateEntry copy;
    copy = *outcome.entry;
    outcome.entry.reset();
    zrTemplateBlock* block = copy.GetBlockByName("N");
    for (int level = 1; block && level < kDepth; ++level)
        block = block->GetBlockByName("N");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->GetItemList(kTemplateItemSet)->size(), 1u);
}

TEST(TemplateExceptionTest, CopiesItsMessage) {
    std::string message = "Something broke on line 3";
    auto* error = new zrTemplateException(message.c_str());
    message.assign("changed");
    EXPECT_STREQ(error->GetErrorString(), "Something broke on line 3");
    error->Delete();
}

}  // namespace
