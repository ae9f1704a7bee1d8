// Tests of hashes maps: building them from templates, their text form in both directions, and
// every case of the difference between the local and the other side.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "TemplateTestSupport.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

using Record = std::tuple<int, std::string, std::string>;  // UID, MD5, file name
using Records = std::map<int, Record>;                     // by map key

Records Contents(const zrTemplateHashesMap& map) {
    Records records;
    for (const auto& item : map)
        records[item.first] =
            Record{item.second->GetUID(), item.second->GetMd5Hash(), item.second->GetFileName()};
    return records;
}

class HashesMapTest : public ::testing::Test {
protected:
    ~HashesMapTest() override {
        for (zrTemplateHashesMap* map : {&first_, &second_, &changed_, &removed_})
            manager_->DeleteHashesMap(map);
    }

    void Put(zrTemplateHashesMap& map, int uid, const std::string& md5, const std::string& file) {
        auto& slot = map[uid];
        delete slot;
        slot = new zrTemplateHash(uid, md5, file);
    }

    ManagerPtr manager_ = NewManager();
    zrTemplateHashesMap first_, second_, changed_, removed_;
};

TEST_F(HashesMapTest, MarshallWritesAscendingLinesWithTwoTabs) {
    Put(first_, 12, "c20ad4d76fe97759aa27a0c99bff6710", "twelve.template");
    Put(first_, 3, "eccbc87e4b5ce2fe28308fd9f2a7baa3", "three.template");
    Put(first_, -4, "", "");
    EXPECT_EQ(manager_->MarshallHashesMap(&first_),
              "-4\t\t\n"
              "3\teccbc87e4b5ce2fe28308fd9f2a7baa3\tthree.template\n"
              "12\tc20ad4d76fe97759aa27a0c99bff6710\ttwelve.template\n");
    EXPECT_EQ(manager_->MarshallHashesMap(&second_), "");
}

TEST_F(HashesMapTest, RoundTripWithAndWithoutFinalLineFeed) {
    Put(first_, 1, "aaa", "one.template");
    Put(first_, 40, "bbb", "forty with spaces.template");
    Put(first_, 7, "ccc", "");
    const std::string text = manager_->MarshallHashesMap(&first_);
    manager_->UnmarshallHashesMap(&second_, text);
    EXPECT_EQ(Contents(second_), Contents(first_));
    manager_->UnmarshallHashesMap(&second_, text.substr(0, text.size() - 1));
    EXPECT_EQ(Contents(second_), Contents(first_));
}

struct UnmarshallCase {
    const char* title;
    std::string text;
    Records expected;
};

class UnmarshallTest : public HashesMapTest,
                       public ::testing::WithParamInterface<UnmarshallCase> {};

TEST_P(UnmarshallTest, ReadsTheText) {
    Put(second_, 999, "stale", "stale");  // emptied first
    manager_->UnmarshallHashesMap(&second_, GetParam().text);
    EXPECT_EQ(Contents(second_), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, UnmarshallTest,
    ::testing::Values(
        UnmarshallCase{"Empty", "", {}},
        UnmarshallCase{"EmptyLineBetween",
                       "5\tm5\tf5\n\n9\tm9\tf9\n",
                       {{0, {0, "", ""}}, {5, {5, "m5", "f5"}}, {9, {9, "m9", "f9"}}}},
        UnmarshallCase{"OnlyALineFeed", "\n", {{0, {0, "", ""}}}},
        UnmarshallCase{"CrStaysInTheFileName",
                       "5\tm5\tf5.template\r\n6\tm6\tf6\r\n",
                       {{5, {5, "m5", "f5.template\r"}}, {6, {6, "m6", "f6\r"}}}},
        UnmarshallCase{"FirstLineWins",
                       "5\tfirst\tone\n5\tsecond\ttwo\n3\tm3\tf3\n5\tthird\tthree\n",
                       {{3, {3, "m3", "f3"}}, {5, {5, "first", "one"}}}},
        UnmarshallCase{"EmptyLinesShareUidZero", "\n\n0\tlate\tlate\n", {{0, {0, "", ""}}}},
        UnmarshallCase{"MissingFields",
                       "7\n8\tm8\n9\tm9\tf9\textra\tmore\n",
                       {{7, {7, "", ""}}, {8, {8, "m8", ""}}, {9, {9, "m9", "f9"}}}},
        UnmarshallCase{"UidAsAtoi",
                       "x\ta\tb\n -12abc\tc\td\n+4\te\tf\n",
                       {{0, {0, "a", "b"}}, {-12, {-12, "c", "d"}}, {4, {4, "e", "f"}}}}),
    [](const ::testing::TestParamInfo<UnmarshallCase>& info) { return info.param.title; });

TEST_F(HashesMapTest, MakeHashesMapDescribesTheTemplates) {
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(4), "four.template"), nullptr);
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(2), "two.template"), nullptr);
    Put(first_, 50, "stale", "stale");
    manager_->MakeHashesMap(&first_);
    ASSERT_EQ(first_.size(), 2u);
    EXPECT_EQ(Contents(first_).at(4),
              Record(4, manager_->GetTemplate(4)->GetMd5Hash(), "four.template"));
    EXPECT_EQ(Contents(first_).at(2),
              Record(2, manager_->GetTemplate(2)->GetMd5Hash(), "two.template"));
    manager_->FillInternalHashesMap();
    EXPECT_EQ(Contents(*manager_->GetInternalHashesMap()), Contents(first_));
}

TEST_F(HashesMapTest, SharedUidKeepsTheFirstTemplateWalked) {
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(4), "mine.template"), nullptr);
    ManagerPtr other = NewManager();
    ASSERT_NE(Register(other.get(), MinimalTemplate(4, "BROADCAST"), "theirs.template"), nullptr);
    manager_->CopyFrom(other.get());
    manager_->MakeHashesMap(&first_);
    ASSERT_EQ(first_.size(), 1u);
    EXPECT_EQ(first_.at(4)->GetFileName(), "mine.template");
}

TEST_F(HashesMapTest, UpdateReplacesTheEntrysRecord) {
    zrTemplateEntry* entry = Register(manager_.get(), MinimalTemplate(6), "six.template");
    ASSERT_NE(entry, nullptr);
    Put(first_, 6, "old", "old.template");
    Put(first_, 7, "m7", "seven.template");
    manager_->UpdateHashesMapItem(&first_, entry);
    EXPECT_EQ(Contents(first_).at(6), Record(6, entry->GetMd5Hash(), "six.template"));
    EXPECT_EQ(first_.size(), 2u);
}

struct DiffCase {
    const char* title;
    Records ours;
    Records theirs;
    Records changed;
    Records removed;
};

class DiffTest : public HashesMapTest, public ::testing::WithParamInterface<DiffCase> {
protected:
    void Load(zrTemplateHashesMap& map, const Records& records) {
        for (const auto& item : records)
            Put(map, item.first, std::get<1>(item.second), std::get<2>(item.second));
    }
};

TEST_P(DiffTest, SortsRecordsIntoChangedAndRemoved) {
    Load(*manager_->GetInternalHashesMap(), GetParam().ours);
    Load(first_, GetParam().theirs);
    Put(changed_, 500, "left", "over");  // both outputs are emptied first
    Put(removed_, 501, "left", "over");
    manager_->CalculateHashesDiffs(&first_, &changed_, &removed_);
    EXPECT_EQ(Contents(changed_), GetParam().changed);
    EXPECT_EQ(Contents(removed_), GetParam().removed);
    // Inputs stay as they were.
    EXPECT_EQ(Contents(first_), GetParam().theirs);
    EXPECT_EQ(Contents(*manager_->GetInternalHashesMap()), GetParam().ours);
}

const Records kTwo = {{1, {1, "m1", "a.template"}}, {2, {2, "m2", "b.template"}}};

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffTest,
    ::testing::Values(DiffCase{"BothEmpty", {}, {}, {}, {}},
                      DiffCase{"OtherEmpty", kTwo, {}, {}, kTwo},
                      DiffCase{"OursEmpty", {}, kTwo, kTwo, {}},
                      DiffCase{"Identical", kTwo, kTwo, {}, {}},
                      DiffCase{"Md5Differs",
                               kTwo,
                               {{1, {1, "m1", "a.template"}}, {2, {2, "new", "b.template"}}},
                               {{2, {2, "new", "b.template"}}},
                               {}},
                      DiffCase{"FileNameAloneDiffers",
                               kTwo,
                               {{1, {1, "m1", "renamed.template"}}, {2, {2, "m2", "b.template"}}},
                               {{1, {1, "m1", "renamed.template"}}},
                               {}},
                      DiffCase{"FileNameLengthDiffers",
                               kTwo,
                               {{1, {1, "m1", "a.template\r"}}, {2, {2, "m2", "b.templat"}}},
                               {{1, {1, "m1", "a.template\r"}}, {2, {2, "m2", "b.templat"}}},
                               {}},
                      DiffCase{"NewAndGone",
                               {{1, {1, "m1", "a"}}, {3, {3, "m3", "c"}}, {5, {5, "m5", "e"}}},
                               {{1, {1, "m1", "a"}}, {4, {4, "m4", "d"}}, {5, {5, "x5", "e"}}},
                               {{4, {4, "m4", "d"}}, {5, {5, "x5", "e"}}},
                               {{3, {3, "m3", "c"}}}},
                      DiffCase{"NegativeAndZeroUids",
                               {{-3, {-3, "m", "n"}}, {0, {0, "", ""}}},
                               {{0, {0, "", ""}}, {-9, {-9, "m", "n"}}},
                               {{-9, {-9, "m", "n"}}},
                               {{-3, {-3, "m", "n"}}}}),
    [](const ::testing::TestParamInfo<DiffCase>& info) { return info.param.title; });

// A map passed both as input and as output is read before it is replaced.
TEST_F(HashesMapTest, DiffOutputMayBeTheOtherMap) {
    Put(*manager_->GetInternalHashesMap(), 1, "m1", "a");
    Put(first_, 1, "changed", "a");
    Put(first_, 2, "m2", "b");
    manager_->CalculateHashesDiffs(&first_, &first_, &removed_);
    EXPECT_EQ(Contents(first_), (Records{{1, {1, "changed", "a"}}, {2, {2, "m2", "b"}}}));
    EXPECT_TRUE(removed_.empty());
}

TEST_F(HashesMapTest, CacheSynchronisationRoundTrip) {
    // The other side holds 1 (same), 2 (edited), 4 (new); locally 1, 2 and 3 (dropped there).
    ManagerPtr dispatcher = NewManager();
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(1), "one.template"), nullptr);
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(2), "two.template"), nullptr);
    ASSERT_NE(Register(manager_.get(), MinimalTemplate(3), "three.template"), nullptr);
    ASSERT_NE(Register(dispatcher.get(), MinimalTemplate(1), "one.template"), nullptr);
    ASSERT_NE(Register(dispatcher.get(), MinimalTemplate(2, "BROADCAST"), "two.template"), nullptr);
    ASSERT_NE(Register(dispatcher.get(), MinimalTemplate(4), "four.template"), nullptr);
    dispatcher->FillInternalHashesMap();
    const std::string wire = dispatcher->MarshallHashesMap(dispatcher->GetInternalHashesMap());

    manager_->FillInternalHashesMap();
    manager_->UnmarshallHashesMap(&first_, wire);
    manager_->CalculateHashesDiffs(&first_, &changed_, &removed_);
    EXPECT_EQ(Contents(changed_).size(), 2u);
    EXPECT_EQ(changed_.count(2), 1u);
    EXPECT_EQ(changed_.count(4), 1u);
    ASSERT_EQ(removed_.size(), 1u);
    EXPECT_EQ(removed_.at(3)->GetFileName(), "three.template");

    // Apply the differences as the cache does; afterwards nothing differs.
    manager_->UnloadTemplate(3);
    for (int uid : {2, 4}) {
        zrTemplateEntry* fetched = dispatcher->GetTemplate(uid);
        zrTemplateEntry* stored = Register(manager_.get(), fetched->GetTemplateContent(),
                                           fetched->GetFileName().c_str(), true);
        ASSERT_NE(stored, nullptr);
        manager_->UpdateHashesMapItem(manager_->GetInternalHashesMap(), stored);
    }
    manager_->CalculateHashesDiffs(&first_, &changed_, &removed_);
    EXPECT_TRUE(changed_.empty());
    EXPECT_TRUE(removed_.empty());
}

}  // namespace
