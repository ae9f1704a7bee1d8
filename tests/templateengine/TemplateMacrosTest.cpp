// Tests of macro substitution: each macro against active, inactive and missing attributes, the
// order of expansion, nesting, unclosed macros, attributes that refer back to themselves, the
// bound on the output, and random texts against the expansion loop exactly as it is defined.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TemplateTestSupport.h"
#include "TestFolders.h"
#include "ZRLogger.h"
#include "ZRRuntime.h"
#include "ZRStringHelper.h"

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

// Conditions nested far deeper than any template would still expand completely.
TEST_F(MacrosTest, DeepNestingEnds) {
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += "%ISACTIVE(A (";
    text += "core";
    for (int i = 0; i < 5000; ++i)
        text += "))";
    const std::string result = Resolve(text);
    EXPECT_EQ(result, "core");
    EXPECT_EQ(Resolve("%ISACTIVE(A (%ISACTIVE(A (%ISACTIVE(A (core))))))"), "core");
}

// Writes the default logger's level-1 lines to a file of a temporary folder while it lives.
class CapturedLog {
public:
    CapturedLog() {
        folder_ = zdTest::MakeTempFolder("zd_macros_");
        ZRFramework::ZRLogger::SetLoggerBasePath(&logger_, folder_);
        ZRFramework::ZRLogger::SetLoggerFile(&logger_, "macros.log");
        ZRFramework::ZRLogger::CreateLogger(&logger_, 1, ZRFramework::kLogToFile);
        ZRFramework::SetDefaultLogger(&logger_);
    }
    ~CapturedLog() {
        Stop();
        zdTest::RemoveFolder(folder_);
    }
    CapturedLog(const CapturedLog&) = delete;
    CapturedLog& operator=(const CapturedLog&) = delete;

    // Bytes logged so far; the logger writes through.
    long Size() const {
        struct stat info;
        return stat((folder_ + "/macros.log").c_str(), &info) == 0 ? info.st_size : 0;
    }

    std::string Text() {
        Stop();
        std::ifstream file(folder_ + "/macros.log");
        std::stringstream content;
        content << file.rdbuf();
        return content.str();
    }

private:
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        ZRFramework::RemoveDefaultLogger();
        ZRFramework::ZRLogger::DestroyLogger(&logger_);
    }

    std::string folder_;
    ZRFramework::zrLogger logger_;
    bool stopped_ = false;
};

// Values that refer to further values, a thousand deep: once in one step, and with a second
// reference at each level that only the later steps reach.
TEST_F(MacrosTest, DeepChainsOfAttributesExpandCompletely) {
    const int kLevels = 1000;
    std::string expected;
    for (int i = 0; i < kLevels; ++i) {
        const std::string next = std::to_string(i + 1);
        attributes_.SetString(("N" + std::to_string(i)).c_str(), "<%ATTR(N" + next + ")>", true,
                              false);
        attributes_.SetString(("R" + std::to_string(i)).c_str(), "%ATTR(B).%ATTR(R" + next + ")",
                              true, false);
        expected += "bee.";
    }
    attributes_.SetString(("N" + std::to_string(kLevels)).c_str(), "end", true, false);
    attributes_.SetString(("R" + std::to_string(kLevels)).c_str(), "end", true, false);
    CapturedLog log;
    EXPECT_EQ(Resolve("%ATTR(N0)"), std::string(kLevels, '<') + "end" + std::string(kLevels, '>'));
    EXPECT_EQ(Resolve("%ATTR(R0)"), expected + "end");
    EXPECT_EQ(log.Text(), "");
}

// The same attribute many times over, in the text and inside values.
TEST_F(MacrosTest, RepetitionsExpandCompletely) {
    std::string text;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        text += "%ATTR(A),";
        expected += "12,";
    }
    EXPECT_EQ(Resolve(text), expected);

    std::string hundred;
    for (int i = 0; i < 100; ++i)
        hundred += "%ISACTIVE(A (%ATTR(A)))";
    attributes_.SetString("H", hundred, true, false);
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += "%ATTR(H)";
    const std::string result = Resolve(thousand);
    EXPECT_EQ(result.size(), 200000u);
    EXPECT_EQ(result.find_first_not_of("12"), std::string::npos);

    attributes_.SetString("X", "%ATTR(Y)%ATTR(Y)", true, false);
    attributes_.SetString("Y", "%ATTR(Z)-%ATTR(Z)", true, false);
    attributes_.SetString("Z", "z", true, false);
    EXPECT_EQ(Resolve("%ATTR(X)|%ATTR(X)"), "z-zz-z|z-zz-z");
}

// Only a reference that would reproduce itself is dropped, whether the loop closes within one
// step or across steps, and the drop is reported.
TEST_F(MacrosTest, CyclesAreCutAndReported) {
    attributes_.SetString("SELF", "[%ATTR(SELF)]", true, false);
    attributes_.SetString("P", "%ATTR(B)%ATTR(Q)", true, false);
    attributes_.SetString("Q", "%ATTR(B)%ATTR(P)", true, false);
    attributes_.SetString("LATER", "%ISACTIVE(A (x))%ATTR(LATER)", true, false);
    attributes_.SetString("AGAIN", "%ATTR(AGAIN)%ATTR(AGAIN)", true, false);
    const MacroCase cases[] = {
        {"%ATTR(SELF)", "[]"},
        {"%ATTR(P)", "beebee"},
        {"%ATTR(Q)%ATTR(P)", "beebeebeebee"},
        {"%ATTR(LATER)", "x"},
        {"%ATTR(AGAIN)", ""},
        {"%ISACTIVE(A (%ATTR(SELF)))%ATTR(SELF)", "[][]"},
    };
    for (const MacroCase& c : cases) {
        CapturedLog log;
        EXPECT_EQ(Resolve(c.text), c.expected) << c.text;
        const std::string logged = log.Text();
        EXPECT_NE(logged.find("[ZRTemplateEngine] %ATTR("), std::string::npos) << logged;
        EXPECT_NE(logged.find(") expands into itself"), std::string::npos) << logged;
    }
}

// The output may grow to 16 MiB; beyond, nothing is returned and the failure is reported.
TEST_F(MacrosTest, OutputBeyondTheBoundFailsAndIsReported) {
    attributes_.SetString("MEG", std::string(1 << 20, 'm'), true, false);
    std::string sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen += "%ATTR(MEG)";
    {
        CapturedLog log;
        EXPECT_EQ(Resolve(sixteen), std::string(16 << 20, 'm'));
        EXPECT_EQ(log.Text(), "");
    }
    for (const std::string& text : {sixteen + "x", sixteen + "%ATTR(A)", sixteen + sixteen}) {
        CapturedLog log;
        EXPECT_EQ(Resolve(text), "");
        EXPECT_NE(log.Text().find("[ZRTemplateEngine] [./templateengine/TemplateMacros:"),
                  std::string::npos);
    }
    // Growth is what is bounded: a larger text may still shrink.
    const std::string large(17 << 20, 'l');
    EXPECT_EQ(Resolve(large + "%ATTR(A)"), large + "12");
}

// ---- Against the definition ----

// One step exactly as defined, recursing for the one-step expansion of values and texts. False
// when `budget` runs out, which is how a loop that never ends shows here.
bool DefinedStep(std::string& text, ZRFramework::zrPropertyMap* attributes, int& budget) {
    if (--budget < 0) return false;
    static const char* const prefixes[] = {"%ISACTIVE(", "%ISNACTIVE(", "%ATTR("};
    size_t start = std::string::npos;
    int kind = 0;
    for (; kind < 3; ++kind)
        if ((start = text.find(prefixes[kind])) != std::string::npos) break;
    if (start == std::string::npos) return true;
    const size_t inner = start + std::char_traits<char>::length(prefixes[kind]);
    size_t close = std::string::npos;
    for (size_t i = inner, depth = 1; i < text.size(); ++i) {
        if (text[i] == '(') ++depth;
        if (text[i] == ')' && --depth == 0) {
            close = i;
            break;
        }
    }
    if (close == std::string::npos) {
        text.erase(start);
        return true;
    }
    std::string part = text.substr(inner, close - inner);
    std::string name = part;
    std::string replacement;
    if (kind != 2) {
        name.clear();
        ZRFramework::ZRStringHelper::ExtractToken(part, name, " ", "\"", true);
        if (!part.empty() && part.back() == ')') part.pop_back();
        if (!part.empty() && part.front() == '(') part.erase(0, 1);
    }
    std::string value;
    bool specified = false;
    const bool active =
        attributes->GetString(name.c_str(), value, &specified, nullptr) && specified;
    if (kind == 2 && active) {
        replacement = value;
    } else if (kind != 2 && active == (kind == 0)) {
        replacement = part;
    }
    if (!DefinedStep(replacement, attributes, budget)) return false;
    text.replace(start, close + 1 - start, replacement);
    return true;
}

bool DefinedResolve(std::string& text, ZRFramework::zrPropertyMap* attributes) {
    int budget = 3000;
    while (text.find("%ISACTIVE(") != std::string::npos ||
           text.find("%ISNACTIVE(") != std::string::npos ||
           text.find("%ATTR(") != std::string::npos) {
        if (!DefinedStep(text, attributes, budget) || text.size() > 20000) return false;
    }
    return true;
}

// Random texts of macro pieces, quotes, parentheses and fragments that join into macros, over
// attributes that refer to each other: one step always agrees with the definition, and so does
// the resolver whenever the definition comes to an end and no reference was dropped. (A
// dropped reference expands into itself, which the definition may still escape by accident,
// when the fragments around its copies happen to join.)
TEST(MacrosDefinition, RandomTextsResolveAsDefined) {
    static const char* const pieces[] = {"%ATTR(",  "%ISACTIVE(", "%ISNACTIVE(", "(",        ")",
                                         ")",       " ",          " ",           "A",        "B",
                                         "C",       "D",          "x",           "\"",       "%IS",
                                         "ACTIVE(", "%AT",        "TR(",         "\\",       "A)",
                                         "B)",      "%ATTR(A)",   "%ATTR(B)",    "%ATTR(C)", "(y)"};
    std::mt19937 random(20240611);
    auto draw = [&](int most) {
        std::string s;
        for (int n = static_cast<int>(random() % static_cast<unsigned>(most)); n > 0; --n)
            s += pieces[random() % (sizeof pieces / sizeof pieces[0])];
        return s;
    };
    ManagerPtr manager = NewManager();
    CapturedLog log;
    int compared = 0;
    for (int round = 0; round < 20000; ++round) {
        ZRFramework::zrPropertyMap attributes;
        std::string setting;  // shown with a failure
        for (const char* name : {"A", "B", "C", "D"}) {
            if (random() % 5 == 0) continue;
            const std::string value = draw(6);
            const bool specified = random() % 4 != 0;
            attributes.SetString(name, value, specified, false);
            setting += std::string(" ") + name + (specified ? "=" : "~") + "[" + value + "]";
        }
        const std::string text = draw(12);
        SCOPED_TRACE(setting);
        int budget = 3000;
        std::string once = text;
        if (DefinedStep(once, &attributes, budget)) {
            ASSERT_EQ(ZRFramework::ZRTemplateManager::subst_macro(text, &attributes), once) << text;
        }
        std::string resolved = text;
        if (!DefinedResolve(resolved, &attributes)) continue;
        const long logged = log.Size();
        const std::string result = manager->ResolveMacros(text, &attributes);
        if (log.Size() != logged) continue;
        ++compared;
        ASSERT_EQ(result, resolved) << text;
    }
    EXPECT_GT(compared, 15000);
}

}  // namespace
