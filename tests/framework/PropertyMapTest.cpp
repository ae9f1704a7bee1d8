// Tests of zrPropertyMap: order and uniqueness of entries, flags, typed text forms, copy,
// iteration.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ZRPropertyMap.h"

using ZRFramework::item_attr;
using ZRFramework::zrPropertyMap;
using ZRFramework::zrPropertyMap_Iterator;

namespace {

std::vector<item_attr> Entries(zrPropertyMap& map) {
    std::vector<item_attr> entries;
    for (zrPropertyMap_Iterator it = map.Begin(); it != map.End(); ++it)
        entries.push_back(*it);
    return entries;
}

std::string Text(zrPropertyMap& map, const char* name) {
    std::string value = "<missing>";
    map.GetString(name, value, nullptr, nullptr);
    return value;
}

TEST(PropertyMap, EmptyMap) {
    zrPropertyMap map;
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(map.GetSize(), 0);
    EXPECT_FALSE(map.Begin() != map.End());
    EXPECT_FALSE(zrPropertyMap_Iterator() != map.End());
}

TEST(PropertyMap, SettingAnExistingNameUpdatesInPlace) {
    zrPropertyMap map;
    map.SetString("a", "1", false, false);
    map.SetString("b", "2", false, false);
    map.SetString("a", "3", true, false);
    ASSERT_EQ(map.GetSize(), 2);
    const auto entries = Entries(map);
    EXPECT_EQ(entries[0].name, "a");
    EXPECT_EQ(entries[0].value, "3");
    EXPECT_TRUE(entries[0].specified);
    EXPECT_EQ(entries[1].name, "b");
}

TEST(PropertyMap, NamesAreCaseSensitive) {
    zrPropertyMap map;
    map.SetInt("Frame", 1, false);
    map.SetInt("frame", 2, false);
    EXPECT_EQ(map.GetSize(), 2);
    EXPECT_EQ(Text(map, "Frame"), "1");
    EXPECT_EQ(Text(map, "frame"), "2");
    EXPECT_EQ(Text(map, "Fram"), "<missing>");
}

TEST(PropertyMap, TypedSettersResetPathSubstitution) {
    zrPropertyMap map;
    map.SetString("x", "/path", true, true);
    bool specified = false, pathSubstitution = false;
    std::string value;
    ASSERT_TRUE(map.GetString("x", value, &specified, &pathSubstitution));
    EXPECT_TRUE(specified);
    EXPECT_TRUE(pathSubstitution);

    map.SetInt("x", 5, false);
    ASSERT_TRUE(map.GetString("x", value, &specified, &pathSubstitution));
    EXPECT_EQ(value, "5");
    EXPECT_FALSE(specified);
    EXPECT_FALSE(pathSubstitution);
    EXPECT_EQ(map.GetSize(), 1);
}

TEST(PropertyMap, TypedTextForms) {
    zrPropertyMap map;
    long when = -5;
    map.SetInt("int", INT_MIN, true);
    map.SetInt64("int64", LLONG_MAX, true);
    map.SetLong("long", LONG_MIN, true);
    map.SetTimet("time", &when, true);
    map.SetBool("yes", true, true);
    map.SetBool("no", false, true);
    map.SetFloat("float", 1.5f, true);
    map.SetTimet("absent", nullptr, true);

    EXPECT_EQ(Text(map, "int"), "-2147483648");
    EXPECT_EQ(Text(map, "int64"), "9223372036854775807");
    EXPECT_EQ(Text(map, "long"), std::to_string(LONG_MIN));
    EXPECT_EQ(Text(map, "time"), "-5");
    EXPECT_EQ(Text(map, "yes"), "1");
    EXPECT_EQ(Text(map, "no"), "0");
    EXPECT_EQ(Text(map, "float"), "1.500000");
    EXPECT_EQ(Text(map, "absent"), "<missing>");

    int i = 0;
    long long i64 = 0;
    long l = 0, t = 0;
    float f = 0;
    EXPECT_TRUE(map.GetInt("int", i, nullptr));
    EXPECT_TRUE(map.GetIn64("int64", i64, nullptr));
    EXPECT_TRUE(map.GetLong("long", l, nullptr));
    EXPECT_TRUE(map.GetTimet("time", t, nullptr));
    EXPECT_TRUE(map.GetFloat("float", f, nullptr));
    EXPECT_EQ(i, INT_MIN);
    EXPECT_EQ(i64, LLONG_MAX);
    EXPECT_EQ(l, LONG_MIN);
    EXPECT_EQ(t, -5);
    EXPECT_EQ(f, 1.5f);
}

TEST(PropertyMap, NonNumericTextStillCountsAsFound) {
    zrPropertyMap map;
    map.SetString("v", "abc", false, false);
    int number = 99;
    float real = 99;
    EXPECT_TRUE(map.GetInt("v", number, nullptr));
    EXPECT_TRUE(map.GetFloat("v", real, nullptr));
    EXPECT_EQ(number, 0);
    EXPECT_EQ(real, 0.0f);
    map.SetString("v", "12.75abc", false, false);
    EXPECT_TRUE(map.GetInt("v", number, nullptr));
    EXPECT_TRUE(map.GetFloat("v", real, nullptr));
    EXPECT_EQ(number, 12);
    EXPECT_EQ(real, 12.75f);
}

TEST(PropertyMap, GetBoolIsFalseOnlyForZero) {
    const struct {
        const char* text;
        bool expected;
    } cases[] = {
        {"true", true}, {"false", true}, {"2", true}, {"", true}, {"00", true}, {"0", false},
    };
    for (const auto& c : cases) {
        zrPropertyMap map;
        map.SetString("flag", c.text, false, false);
        bool value = !c.expected;
        EXPECT_TRUE(map.GetBool("flag", value, nullptr)) << c.text;
        EXPECT_EQ(value, c.expected) << '[' << c.text << ']';
    }
}

TEST(PropertyMap, MissingNameLeavesOutputsUntouched) {
    zrPropertyMap map;
    map.SetString("present", "1", true, true);
    std::string text = "keep";
    int i = 7;
    long long i64 = 7;
    long l = 7, t = 7;
    bool b = true, specified = true, path = true;
    float f = 7;
    EXPECT_FALSE(map.GetString("absent", text, &specified, &path));
    EXPECT_FALSE(map.GetInt("absent", i, &specified));
    EXPECT_FALSE(map.GetIn64("absent", i64, &specified));
    EXPECT_FALSE(map.GetLong("absent", l, &specified));
    EXPECT_FALSE(map.GetTimet("absent", t, &specified));
    EXPECT_FALSE(map.GetBool("absent", b, &specified));
    EXPECT_FALSE(map.GetFloat("absent", f, &specified));
    EXPECT_EQ(text, "keep");
    EXPECT_EQ(i, 7);
    EXPECT_EQ(i64, 7);
    EXPECT_EQ(l, 7);
    EXPECT_EQ(t, 7);
    EXPECT_TRUE(b);
    EXPECT_EQ(f, 7.0f);
    EXPECT_TRUE(specified);
    EXPECT_TRUE(path);
}

TEST(PropertyMap, CopyKeepsEntriesFlagsAndOrderAndIsIndependent) {
    zrPropertyMap source, copy;
    source.SetString("c", "3", true, true);
    source.SetString("a", "1", false, true);
    source.SetInt("b", 2, true);
    copy.SetString("old", "x", false, false);

    copy.Copy(&source);
    const auto from = Entries(source);
    const auto to = Entries(copy);
    ASSERT_EQ(to.size(), from.size());
    for (size_t i = 0; i < from.size(); ++i) {
        EXPECT_EQ(to[i].name, from[i].name);
        EXPECT_EQ(to[i].value, from[i].value);
        EXPECT_EQ(to[i].specified, from[i].specified);
        EXPECT_EQ(to[i].pathSubstitution, from[i].pathSubstitution);
    }

    copy.SetString("a", "changed", false, false);
    copy.SetString("d", "4", false, false);
    EXPECT_EQ(Text(source, "a"), "1");
    EXPECT_EQ(source.GetSize(), 3);
    EXPECT_EQ(copy.GetSize(), 4);
}

TEST(PropertyMap, CopyIntoItselfEmptiesTheMap) {
    zrPropertyMap map;
    map.SetString("a", "1", false, false);
    map.Copy(&map);
    EXPECT_TRUE(map.IsEmpty());
}

TEST(PropertyMap, ClearedMapAcceptsNewEntries) {
    zrPropertyMap map;
    map.SetString("a", "1", false, false);
    map.SetString("b", "2", false, false);
    map.Clear();
    EXPECT_TRUE(map.IsEmpty());
    EXPECT_EQ(Text(map, "a"), "<missing>");
    map.SetString("c", "3", false, false);
    map.SetString("d", "4", false, false);
    const auto entries = Entries(map);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "c");
    EXPECT_EQ(entries[1].name, "d");
}

TEST(PropertyMap, IteratorIncrementReturnsTheAdvancedPosition) {
    zrPropertyMap map;
    map.SetString("a", "1", false, false);
    map.SetString("b", "2", false, true);
    zrPropertyMap_Iterator it = map.Begin();
    const item_attr second = *++it;
    EXPECT_EQ(second.name, "b");
    EXPECT_TRUE(second.pathSubstitution);
    EXPECT_FALSE(++it != map.End());
    EXPECT_FALSE(++it != map.End());
    EXPECT_EQ((*it).name, "");
}

}  // namespace
