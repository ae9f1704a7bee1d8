// The packed attribute list gives back exactly what went in, whatever the names and values hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FarmModel.h"
#include "ListingRecords.h"
#include "Records.h"

namespace {

using namespace zdsim;

TEST(AttributeListTest, KeepsOrderFlagsAndAwkwardBytes) {
    const std::string longName(300, 'n');  // lengths past one byte of the length code
    const std::string longValue(70000, 'v');
    const std::vector<std::pair<std::string, Attribute>> items = {
        {"job_file", {"/p/a b.scene", true, true}},  // a common name
        {"job_fil", {"", false, false}},             // close to one, but not one
        {longName, {longValue, false, true}},
        {std::string("nu\0l", 4), {std::string("a\0\n\r", 4), true, false}},
        {"job_file", {"again", true, false}},  // repeats are kept as given
    };
    AttributeList list;
    for (const auto& [name, attribute] : items)
        list.emplace_back(name, attribute);
    list.ShrinkToFit();

    ASSERT_EQ(list.size(), items.size());
    size_t i = 0;
    for (const auto& [name, attribute] : list) {
        ASSERT_LT(i, items.size());
        EXPECT_EQ(name, items[i].first);
        EXPECT_EQ(attribute.value, items[i].second.value);
        EXPECT_EQ(attribute.specified, items[i].second.specified);
        EXPECT_EQ(attribute.pathSubstitution, items[i].second.pathSubstitution);
        ++i;
    }
    EXPECT_EQ(i, items.size());
    EXPECT_EQ(list[3].first, items[3].first);

    // The record's block is the one the plain pairs would give.
    Job job;
    job.attributes = items;
    std::string block;
    for (const auto& [name, attribute] : items)
        zdProtocol::AppendPropertyGroup(block, name, attribute.value, attribute.specified,
                                        attribute.pathSubstitution);
    EXPECT_EQ(AttributeBlock(job), block);

    job.attributes = {};
    EXPECT_TRUE(job.attributes.empty());
    EXPECT_EQ(job.attributes.begin(), job.attributes.end());
}

}  // namespace
