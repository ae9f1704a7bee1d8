// Loading the local template cache and the rule for file names that come from the Dispatcher.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "CommandLine.h"
#include "TemplateCache.h"
#include "TestFolders.h"

using ZRFramework::ZRTemplateManager::zrTemplateManager;

namespace {

TEST(TemplateCache, OnlyPlainNamesInsideTheFolderAreSafe) {
    EXPECT_TRUE(isSafeCacheFileName("lumen.template"));
    EXPECT_TRUE(isSafeCacheFileName("..template"));
    EXPECT_FALSE(isSafeCacheFileName(""));
    EXPECT_FALSE(isSafeCacheFileName("."));
    EXPECT_FALSE(isSafeCacheFileName(".."));
    EXPECT_FALSE(isSafeCacheFileName("../escape.template"));
    EXPECT_FALSE(isSafeCacheFileName("sub/dir.template"));
    EXPECT_FALSE(isSafeCacheFileName("/etc/passwd"));
    EXPECT_FALSE(isSafeCacheFileName(std::string("a\0b.template", 12)));
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary);
    out << in.rdbuf();
}

TEST(TemplateCache, LoadsTemplatesAndMovesBrokenOnesAside) {
    zdTest::TempFolder folder("zdtool-cache-");
    ASSERT_TRUE(folder.ok());
    templatesdir = folder.path();
    nVerbose = 1;
    copyFile(std::string(ZD_EXAMPLES_DIR) + "/templates/lumen_render_multiframe.template",
             templatesdir + "/lumen.template");
    std::ofstream(templatesdir + "/broken.template") << "DECLARE TEMPLATE\n{\n";
    std::ofstream(templatesdir + "/readme.txt") << "not a template";

    zrTemplateManager* manager = zrTemplateManager::AllocateClass();
    testing::internal::CaptureStdout();
    loadTemplatesCache(manager);
    std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(manager->GetTemplateCount(), 1);
    EXPECT_NE(manager->GetTemplateByFilename("lumen.template"), nullptr);
    EXPECT_EQ(out.rfind("Error parsing template broken.template:", 0), 0u) << out;
    EXPECT_NE(out.find("The file has been moved in the '.invalid' folder!"), std::string::npos);
    EXPECT_TRUE(exists(templatesdir + "/.invalid/broken.template"));
    EXPECT_FALSE(exists(templatesdir + "/broken.template"));
    EXPECT_TRUE(exists(templatesdir + "/readme.txt"));

    zrTemplateManager::DestroyClass(manager);
    nVerbose = 2;
}

}  // namespace
