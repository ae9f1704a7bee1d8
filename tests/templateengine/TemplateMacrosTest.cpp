// Tests of macro substitution: each macro against active, inactive and missing attributes, the
// order of expansion, nesting, unclosed macros and attributes that refer back to themselves.
#include <gtest/gtest.h>

#include <string>

#include "TemplateTestSupport.h"

using namespace ZRFramework::ZRTemplateManager;
using namespace zdtest;

namespace {

class MacrosTest : public ::testing::Test {
protected:
    void SetUp() override {
        attributes_.SetString("A", "12", true, false);
        attributes_.SetString("B", "bee", true, true);
        attributes_.SetString("OFF", "hidden", false, false);
        attributes_.SetString("A B", "spaced", true, false);
    }

    std::string Resolve(const std::string& text) {
        return manager_->ResolveMacros(text, &attributes_);
    }

    ManagerPtr manager_ = NewManager();
    ZRFramework::zrPropertyMap attributes_;
};

struct MacroCase {
    const char* text;
    const char* expected;
};

TEST_F(MacrosTest, ExpandsAgainstActiveInactiveAndMissingAttributes) {
    const MacroCase cases[] = {
        {"%ATTR(A)", "12"},
        {"x%ISACTIVE(A (on))y", "xony"},
        {"%ISNACTIVE(A (off))", ""},
        {"%ATTR(OFF)", ""},
        {"%ATTR(NONE)", ""},
        {"%ISNACTIVE(OFF (off))", "off"},
        {"%ISNACTIVE(NONE (off))", "off"},
        {"%ISACTIVE(OFF (on))", ""},
        {"%ISACTIVE(A)", ""},
        {"%ISACTIVE(NONE)", ""},
        {"%ISNACTIVE(NONE)", ""},
        {"%ISACTIVE(A (use %ATTR(B)))", "use bee"},
        {"%ISACTIVE(A ((x)))", "(x)"},
        {"%ISACTIVE(A x)", "x"},
        {"%ISACTIVE(\"A B\" (quoted))", "quoted"},
        {"%ATTR(A B)", "spaced"},
        {"%ATTR( A)", ""},
        {"%FOO(x) %attr(A) %ATTR A", "%FOO(x) %attr(A) %ATTR A"},
        {"pre %ATTR(A", "pre "},
        {"pre %ISACTIVE(A (never closed)", "pre "},
        {"a%ATTR(A)b%ATTR(B)c", "a12bbeec"},
        {"%ATTR(A)%ISACTIVE(B (-b %ATTR(B)))%ISNACTIVE(OFF ( -off))", "12-b bee -off"},
        {"", ""},
        {"no macros here", "no macros here"},
    };
    for (const MacroCase& c : cases)
        EXPECT_EQ(Resolve(c.text), c.expected) << c.text;
}

TEST_F(MacrosTest, ConditionsGoBeforeAttributesWhateverTheirPlace) {
    // One step each: active conditions first, then inactive ones, then attributes.
    std::string text = "%ATTR(A) %ISNACTIVE(OFF (n)) %ISACTIVE(A (y))";
    text = subst_macro(text, &attributes_);
    EXPECT_EQ(text, "%ATTR(A) %ISNACTIVE(OFF (n)) y");
    text = subst_macro(text, &attributes_);
    EXPECT_EQ(text, "%ATTR(A) n y");
    text = subst_macro(text, &attributes_);
    EXPECT_EQ(text, "12 n y");
    EXPECT_EQ(subst_macro(text, &attributes_), "12 n y");
}

TEST_F(MacrosTest, OneStepExpandsOnlyTheFirstMacroOfAValue) {
    attributes_.SetString("V", "<%ATTR(B)|%ATTR(B)>", true, false);
    EXPECT_EQ(subst_macro("%ATTR(V)", &attributes_), "<bee|%ATTR(B)>");
    EXPECT_EQ(Resolve("%ATTR(V)"), "<bee|bee>");
}

TEST_F(MacrosTest, ChainsOfValuesResolveFully) {
    for (int i = 0; i < 8; ++i)
        attributes_.SetString(("C" + std::to_string(i)).c_str(),
                              "[%ATTR(C" + std::to_string(i + 1) + ")]", true, false);
    attributes_.SetString("C8", "end", true, false);
    EXPECT_EQ(Resolve("%ATTR(C0)"), "[[[[[[[[end]]]]]]]]");
}

TEST_F(MacrosTest, ManyMacrosInOneTextAreAllExpanded) {
    std::string text, expected;
    for (int i = 0; i < 3000; ++i) {
        text += "%ATTR(A),";
        expected += "12,";
    }
    EXPECT_EQ(Resolve(text), expected);
}

TEST_F(MacrosTest, NullAttributesCountAsNone) {
    EXPECT_EQ(manager_->ResolveMacros("a%ATTR(A)b%ISNACTIVE(A (c))", nullptr), "abc");
    EXPECT_EQ(subst_macro("%ISACTIVE(A (x))", nullptr), "");
}

TEST_F(MacrosTest, AttributesAreNotChanged) {
    Resolve("%ATTR(A)%ISACTIVE(B (x))");
    std::string value;
    bool specified = false, path = false;
    EXPECT_TRUE(attributes_.GetString("B", value, &specified, &path));
    EXPECT_EQ(value, "bee");
    EXPECT_TRUE(specified);
    EXPECT_TRUE(path);
    EXPECT_EQ(attributes_.GetSize(), 4);
}

// Values that refer back to themselves stop expanding; loops that only the resolving rounds can
// see end when the rounds run out, and whatever macros are left are dropped.
TEST_F(MacrosTest, SelfReferenceIsBounded) {
    const struct {
        const char* name;
        const char* value;
    } loops[] = {{"SELF", "%ATTR(SELF)"},
                 {"WRAP", "a%ATTR(WRAP)b"},
                 {"TWICE", "%ATTR(TWICE)%ATTR(TWICE)"},
                 {"PING", "x%ATTR(PONG)"},
                 {"PONG", "y%ATTR(PING)"},
                 {"COND", "%ISACTIVE(COND (%ATTR(COND)%ATTR(COND)))"},
                 {"GROW", "%ATTR(GROW)%ATTR(GROW)%ATTR(GROW)%ATTR(GROW)"}};
    for (const auto& loop : loops)
        attributes_.SetString(loop.name, loop.value, true, false);

    // A reference back to an attribute being expanded expands to nothing.
    EXPECT_EQ(Resolve("<%ATTR(SELF)>"), "<>");
    EXPECT_EQ(Resolve("%ATTR(WRAP)"), "ab");
    EXPECT_EQ(Resolve("%ATTR(PING)"), "xy");
    EXPECT_EQ(subst_macro("%ATTR(PONG)", &attributes_), "yx");
    for (const char* text :
         {"%ATTR(WRAP)", "%ATTR(TWICE)", "%ATTR(PING)", "%ATTR(COND)", "%ATTR(GROW)",
          "%ISACTIVE(GROW (%ATTR(GROW)))", "%IS%ATTR(GROW)ACTIVE(A (x))"}) {
        const std::string result = Resolve(text);
        EXPECT_EQ(result.find("%ATTR("), std::string::npos) << text;
        EXPECT_EQ(result.find("%ISACTIVE("), std::string::npos) << text;
        EXPECT_LT(result.size(), 2u * 1024 * 1024) << text;
    }
    EXPECT_EQ(Resolve("%IS%ATTR(GROW)ACTIVE(A (x))").find("%ISACTIVE("), std::string::npos);
    // Text outside the loop survives.
    EXPECT_EQ(Resolve("[%ATTR(SELF)] %ATTR(A)"), "[] 12");
}

// Conditions nested far deeper than any template would are cut rather than recursed into.
TEST_F(MacrosTest, DeepNestingEnds) {
    std::string text = "core";
    for (int i = 0; i < 5000; ++i)
        text = "%ISACTIVE(A (" + text + "))";
    const std::string result = Resolve(text);
    EXPECT_EQ(result.find("%ISACTIVE("), std::string::npos);
    EXPECT_EQ(Resolve("%ISACTIVE(A (%ISACTIVE(A (%ISACTIVE(A (core))))))"), "core");
}

}  // namespace
