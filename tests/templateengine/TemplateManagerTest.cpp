// Tests of the template manager: instances, the descending list and its walks, lookups, unloading,
// copying between managers and the SUBMISSION field mapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "TemplateTestSupport.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

std::vector<int> ListUids(zrTemplateManager* manager) {
    std::vector<int> uids;
    zrTemplateListIterator position;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&position); entry;
         entry = manager->GetNextTemplate(&position))
        uids.push_back(entry->GetUID());
    return uids;
}

std::vector<std::string> ListFiles(zrTemplateManager* manager) {
    std::vector<std::string> files;
    zrTemplateListIterator position;
    for (zrTemplateEntry* entry = manager->GetFirstTemplate(&position); entry;
         entry = manager->GetNextTemplate(&position))
        files.push_back(entry->GetFileName());
    return files;
}

TEST(ManagerInstancesTest, SingletonAndIndependentManagers) {
    zrTemplateManager* unique = zrTemplateManager::GetUniqueClass();
    ASSERT_NE(unique, nullptr);
    EXPECT_EQ(zrTemplateManager::GetUniqueClass(), unique);
    ASSERT_NE(Register(unique, MinimalTemplate(3)), nullptr);
    zrTemplateManager::DestroyUniqueClass();
    zrTemplateManager* fresh = zrTemplateManager::GetUniqueClass();
    EXPECT_EQ(fresh->GetTemplateCount(), 0);
    zrTemplateManager::DestroyUniqueClass();

    ManagerPtr first = NewManager();
    ManagerPtr second = NewManager();
    EXPECT_NE(first.get(), second.get());
    ASSERT_NE(Register(first.get(), MinimalTemplate(3)), nullptr);
    EXPECT_EQ(second->GetTemplateCount(), 0);
    zrTemplateManager::DestroyClass(nullptr);
}

class ManagerTest : public ::testing::Test {
protected:
    zrTemplateEntry* Add(int uid, const std::string& file = "") {
        const std::string name = file.empty() ? std::to_string(uid) + ".template" : file;
        std::string error;
        zrTemplateEntry* entry =
            Register(manager_.get(), MinimalTemplate(uid), name.c_str(), false, &error);
        EXPECT_NE(entry, nullptr) << error;
        return entry;
    }

    ManagerPtr manager_ = NewManager();
};

TEST_F(ManagerTest, EmptyManager) {
    zrTemplateListIterator position;
    EXPECT_EQ(manager_->GetFirstTemplate(&position), nullptr);
    EXPECT_EQ(manager_->GetNextTemplate(&position), nullptr);
    EXPECT_EQ(manager_->GetTemplateAt(0), nullptr);
    EXPECT_EQ(manager_->GetNextTemplate(0), nullptr);
    EXPECT_EQ(manager_->GetNextFreeUID(), 1);
    EXPECT_EQ(manager_->GetTemplate(1), nullptr);
}

TEST_F(ManagerTest, ListRunsFromHighestUidAndNextTemplateAscends) {
    Add(5);
    Add(2);
    Add(9);
    EXPECT_EQ(ListUids(manager_.get()), (std::vector<int>{9, 5, 2}));
    EXPECT_EQ(manager_->GetTemplateCount(), 3);
    EXPECT_EQ(manager_->GetTemplateAt(0)->GetUID(), 9);
    EXPECT_EQ(manager_->GetTemplateAt(2)->GetUID(), 2);
    EXPECT_EQ(manager_->GetTemplateAt(manager_->GetTemplateCount()), nullptr);
    EXPECT_EQ(manager_->GetTemplateAt(-1), nullptr);

    EXPECT_EQ(manager_->GetNextTemplate(0)->GetUID(), 2);
    EXPECT_EQ(manager_->GetNextTemplate(2)->GetUID(), 5);
    EXPECT_EQ(manager_->GetNextTemplate(6)->GetUID(), 9);
    EXPECT_EQ(manager_->GetNextTemplate(9), nullptr);
    EXPECT_EQ(manager_->GetNextTemplate(INT_MIN)->GetUID(), 2);
    EXPECT_EQ(manager_->GetNextFreeUID(), 10);
}

TEST_F(ManagerTest, NextFreeUidAtTheTopOfTheRange) {
    Add(INT_MAX);
    EXPECT_EQ(manager_->GetNextFreeUID(), -1);
}

// Thousands of registrations in random order keep the list sorted and every UID reachable.
TEST_F(ManagerTest, ManyTemplatesStayOrderedAndIndexed) {
    std::vector<int> uids(3000);
    for (size_t i = 0; i < uids.size(); ++i)
        uids[i] = static_cast<int>(i) * 3 + 1;
    std::shuffle(uids.begin(), uids.end(), std::mt19937(7));
    for (int uid : uids)
        Add(uid);
    std::vector<int> listed = ListUids(manager_.get());
    std::vector<int> expected = uids;
    std::sort(expected.rbegin(), expected.rend());
    EXPECT_EQ(listed, expected);
    for (int uid : uids) {
        ASSERT_NE(manager_->GetTemplate(uid), nullptr);
        EXPECT_EQ(manager_->GetTemplate(uid)->GetUID(), uid);
        EXPECT_EQ(manager_->GetTemplate(uid + 1), nullptr);
    }
    int walked = 0;
    for (zrTemplateEntry* entry = manager_->GetNextTemplate(0); entry;
         entry = manager_->GetNextTemplate(entry->GetUID()))
        ++walked;
    EXPECT_EQ(walked, 3000);
}

// Unloading frees index entries that later registrations take again; several templates of one
// UID leave in list order, whichever of them goes first.
TEST_F(ManagerTest, IndexSurvivesUnloadsAndSharedUids) {
    for (int uid = 1; uid <= 600; ++uid)
        Add(uid);
    for (int uid = 1; uid <= 600; uid += 2)
        manager_->UnloadTemplate(uid);
    for (int uid = 601; uid <= 900; ++uid)
        Add(uid);
    EXPECT_EQ(manager_->GetTemplateCount(), 600);
    EXPECT_EQ(manager_->GetTemplate(3), nullptr);
    EXPECT_EQ(manager_->GetNextTemplate(2)->GetUID(), 4);
    EXPECT_EQ(manager_->GetNextFreeUID(), 901);
    std::vector<int> listed = ListUids(manager_.get());
    EXPECT_TRUE(std::is_sorted(listed.rbegin(), listed.rend()));

    ManagerPtr source = NewManager();
    ASSERT_NE(Register(source.get(), MinimalTemplate(1000), "b"), nullptr);
    Add(1000, "a");
    manager_->CopyFrom(source.get());
    ASSERT_NE(Register(source.get(), MinimalTemplate(1000), "c", true), nullptr);
    manager_->CopyFrom(source.get());
    // Files a, b, c with UID 1000; c was replaced into the source, so it is copied last.
    EXPECT_EQ(manager_->GetTemplate(1000)->GetFileName(), "a");
    manager_->UnloadTemplate(1000);
    EXPECT_EQ(manager_->GetTemplate(1000)->GetFileName(), "b");
    manager_->UnloadTemplate(1000);
    EXPECT_EQ(manager_->GetTemplate(1000)->GetFileName(), "c");
    manager_->UnloadTemplate(1000);
    EXPECT_EQ(manager_->GetTemplate(1000), nullptr);
    EXPECT_EQ(manager_->GetNextFreeUID(), 901);
}

TEST_F(ManagerTest, LookupsByNameAndFileName) {
    zrTemplateEntry* three = Add(3, "three.template");
    Add(8, "eight.template");
    EXPECT_EQ(manager_->GetTemplate("Template 3"), three);
    EXPECT_EQ(manager_->GetTemplate("template 3"), nullptr);
    EXPECT_EQ(manager_->GetTemplate(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(manager_->GetTemplateByFilename("three.template"), three);
    EXPECT_EQ(manager_->GetTemplateByFilename("three"), nullptr);
    EXPECT_EQ(manager_->GetTemplateByFilename(nullptr), nullptr);
}

TEST_F(ManagerTest, UnloadRemovesTheTemplateAndItsRecord) {
    Add(4);
    Add(6);
    manager_->FillInternalHashesMap();
    manager_->UnloadTemplate(4);
    EXPECT_EQ(manager_->GetTemplate(4), nullptr);
    EXPECT_EQ(ListUids(manager_.get()), (std::vector<int>{6}));
    EXPECT_EQ(manager_->GetInternalHashesMap()->count(4), 0u);
    EXPECT_EQ(manager_->GetInternalHashesMap()->count(6), 1u);

    // No template of that UID: nothing happens, not even to a record of it.
    manager_->GetInternalHashesMap()->emplace(77, new zrTemplateHash(77, "x", "y"));
    manager_->UnloadTemplate(77);
    EXPECT_EQ(manager_->GetInternalHashesMap()->count(77), 1u);

    manager_->Clear();
    EXPECT_EQ(manager_->GetTemplateCount(), 0);
    EXPECT_TRUE(manager_->GetInternalHashesMap()->empty());
    Add(4);  // the UID is free again
}

TEST_F(ManagerTest, CopyAppendsDeepCopiesWithoutSorting) {
    Add(2, "dest-2");
    Add(7, "dest-7");
    ManagerPtr source = NewManager();
    ASSERT_NE(Register(source.get(), MinimalTemplate(9), "src-9"), nullptr);
    ASSERT_NE(Register(source.get(), MinimalTemplate(2), "src-2"), nullptr);
    source->FillInternalHashesMap();
    manager_->GetInternalHashesMap()->emplace(2, new zrTemplateHash(2, "old", "old"));

    manager_->CopyFrom(source.get());
    EXPECT_EQ(ListFiles(manager_.get()),
              (std::vector<std::string>{"dest-7", "dest-2", "src-9", "src-2"}));
    // The first template of a UID in list order is the one found.
    EXPECT_EQ(manager_->GetTemplate(2)->GetFileName(), "dest-2");
    EXPECT_EQ(manager_->GetNextTemplate(7)->GetFileName(), "src-9");
    EXPECT_EQ(manager_->GetInternalHashesMap()->at(2)->GetFileName(), "src-2");
    EXPECT_EQ(manager_->GetInternalHashesMap()->at(9)->GetFileName(), "src-9");

    // The copies outlive their source.
    zrTemplateEntry* copied = manager_->GetTemplateAt(2);
    source.reset();
    EXPECT_EQ(copied->GetFileName(), "src-9");
    EXPECT_EQ(copied->GetName(), "Template 9");

    // The next registration sorts the whole list; equal UIDs keep their order.
    Add(5, "dest-5");
    EXPECT_EQ(ListFiles(manager_.get()),
              (std::vector<std::string>{"src-9", "dest-7", "dest-5", "dest-2", "src-2"}));
    manager_->UnloadTemplate(2);
    EXPECT_EQ(manager_->GetTemplate(2)->GetFileName(), "src-2");
}

TEST_F(ManagerTest, CopyIntoItselfOrFromNothingDoesNothing) {
    Add(1);
    manager_->CopyFrom(manager_.get());
    manager_->CopyFrom(nullptr);
    EXPECT_EQ(manager_->GetTemplateCount(), 1);
}

class MappingTest : public ::testing::Test {
protected:
    void TearDown() override { zrTemplateManager::DestroyUniqueClass(); }

    zrTemplateManager* Unique() { return zrTemplateManager::GetUniqueClass(); }
};

TEST_F(MappingTest, MapItemsTurnValuesIntoNames) {
    ASSERT_NE(Register(Unique(), MinimalTemplate(21, "SINGLE",
                                                 "DECLARE SUBMISSION\n{\n"
                                                 "MAP job_file Scene\n"
                                                 "MAP EMPTY\n"
                                                 "MAP first Shared\n"
                                                 "MAP second Shared\n"
                                                 "MAP job_file Other\n"
                                                 "}\n")),
              nullptr);
    ASSERT_NE(Register(Unique(), MinimalTemplate(22)), nullptr);
    const struct {
        int uid;
        const char* field;
        const char* expected;
    } cases[] = {
        {21, "Scene", "job_file"},
        {21, "job_file", "job_file"},
        {21, "scene", "scene"},
        {21, "Shared", "first"},
        {21, "", ""},
        {21, "Other", "Other"},
        {22, "Scene", "Scene"},
        {99, "Scene", "Scene"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Unique()->ResolveMappingToJob(c.uid, c.field), c.expected)
            << c.uid << " " << c.field;
        EXPECT_EQ(Unique()->ResolveMappingToTemplate(c.uid, c.field), c.expected);
    }
}

// The lookup always reads the process-wide manager, whichever manager it is called on.
TEST_F(MappingTest, LooksInTheProcessWideManager) {
    ManagerPtr other = NewManager();
    ASSERT_NE(
        Register(other.get(), MinimalTemplate(30, "SINGLE", "DECLARE SUBMISSION\n{\nMAP a b\n}\n")),
        nullptr);
    EXPECT_EQ(other->ResolveMappingToJob(30, "b"), "b");
    ASSERT_NE(
        Register(Unique(), MinimalTemplate(30, "SINGLE", "DECLARE SUBMISSION\n{\nMAP c b\n}\n")),
        nullptr);
    EXPECT_EQ(other->ResolveMappingToJob(30, "b"), "c");
}

}  // namespace
