// Tests of the file-system helpers, each in a fresh temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "ZRFileSystem.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRFileSystem;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/zrfs-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        if (!root_.empty()) RemoveTree(root_);
    }

    static void RemoveTree(const std::string& path) {
        zrDirectory dir;
        dir.dirPath = path;
        for (bool ok = EnumDirFirstFile(&dir, false); ok; ok = EnumDirNextFile(&dir)) {
            unlink((path + "/" + dir.currentName).c_str());
        }
        EnumDirClose(&dir);
        for (bool ok = EnumDirGetFirstDir(&dir); ok; ok = EnumDirGetNextDir(&dir)) {
            if (dir.currentName != "." && dir.currentName != "..") {
                RemoveTree(path + "/" + dir.currentName);
            }
        }
        EnumDirClose(&dir);
        rmdir(path.c_str());
    }

    std::string Path(const std::string& name) const { return root_ + "/" + name; }

    static void WriteFile(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::string root_;
};

std::multiset<std::string> ListFiles(const std::string& path) {
    std::multiset<std::string> names;
    zrDirectory dir;
    dir.dirPath = path;
    for (bool ok = EnumDirFirstFile(&dir, false); ok; ok = EnumDirNextFile(&dir)) {
        names.insert(dir.currentName);
    }
    EXPECT_TRUE(EnumDirClose(&dir));
    return names;
}

std::multiset<std::string> ListDirectories(const std::string& path) {
    std::multiset<std::string> names;
    zrDirectory dir;
    dir.dirPath = path;
    for (bool ok = EnumDirGetFirstDir(&dir); ok; ok = EnumDirGetNextDir(&dir)) {
        names.insert(dir.currentName);
    }
    EXPECT_TRUE(EnumDirClose(&dir));
    return names;
}

}  // namespace

TEST_F(FileSystemTest, RecursiveCreationReportsTheLastLevel) {
    const std::string deepest = Path("a/b/c");
    EXPECT_TRUE(MakeDirectory(deepest, true));
    EXPECT_TRUE(CheckDirectory(Path("a")));
    EXPECT_TRUE(CheckDirectory(Path("a/b")));
    EXPECT_TRUE(CheckDirectory(deepest));
    EXPECT_FALSE(MakeDirectory(deepest, true));

    // Doubled and trailing separators give no empty levels; the existing ones are passed over.
    EXPECT_TRUE(MakeDirectory(root_ + "//a/b//d/", true));
    EXPECT_TRUE(CheckDirectory(Path("a/b/d")));

    struct stat info;
    ASSERT_EQ(stat(deepest.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(FileSystemTest, SingleLevelCreationNeedsTheParent) {
    EXPECT_FALSE(MakeDirectory(Path("x/y"), false));
    EXPECT_FALSE(CheckDirectory(Path("x")));
    EXPECT_TRUE(MakeDirectory(Path("x"), false));
    EXPECT_FALSE(MakeDirectory(Path("x"), false));
}

TEST_F(FileSystemTest, RecursiveCreationOfRelativePath) {
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(root_.c_str()), 0);
    const bool created = MakeDirectory("r/s", true);
    ASSERT_EQ(chdir(previous), 0);
    EXPECT_TRUE(created);
    EXPECT_TRUE(CheckDirectory(Path("r/s")));
}

TEST_F(FileSystemTest, EnumerationSeparatesFilesFromDirectories) {
    WriteFile(Path("file.txt"), "x");
    ASSERT_TRUE(MakeDirectory(Path("sub"), false));
    ASSERT_EQ(symlink("missing-target", Path("dangling").c_str()), 0);

    EXPECT_EQ(ListFiles(root_), (std::multiset<std::string>{"file.txt"}));
    EXPECT_EQ(ListDirectories(root_), (std::multiset<std::string>{".", "..", "sub"}));
}

TEST_F(FileSystemTest, FileEnumerationSkipsLongRunsOfDirectories) {
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(MakeDirectory(Path("d" + std::to_string(i)), false));
    WriteFile(Path("only"), "");
    EXPECT_EQ(ListFiles(root_), (std::multiset<std::string>{"only"}));
}

TEST_F(FileSystemTest, EnumerationOfMissingDirectory) {
    zrDirectory dir;
    dir.dirPath = Path("missing");
    EXPECT_FALSE(EnumDirFirstFile(&dir, false));
    EXPECT_FALSE(EnumDirClose(&dir));
    EXPECT_FALSE(EnumDirGetFirstDir(&dir));
    EXPECT_FALSE(EnumDirClose(&dir));
    EXPECT_FALSE(EnumDirNextFile(&dir));
}

TEST_F(FileSystemTest, MoveFile) {
    WriteFile(Path("from"), "new");
    WriteFile(Path("to"), "old");
    EXPECT_TRUE(MoveFile(Path("from"), Path("to")));
    EXPECT_EQ(ReadFile(Path("to")), "new");
    EXPECT_FALSE(CheckFile(Path("from")));

    EXPECT_TRUE(MoveFile(Path("to"), Path("fresh")));
    EXPECT_EQ(ReadFile(Path("fresh")), "new");
    EXPECT_FALSE(CheckFile(Path("to")));

    // A move that cannot happen must not cost the destination.
    EXPECT_FALSE(MoveFile(Path("missing"), Path("fresh")));
    EXPECT_EQ(ReadFile(Path("fresh")), "new");
}

TEST_F(FileSystemTest, MoveFileOntoAFolder) {
    ASSERT_EQ(mkdir(Path("empty").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(Path("full").c_str(), 0700), 0);
    WriteFile(Path("full/kept"), "kept");
    WriteFile(Path("from"), "new");

    // Nothing to move: the empty folder stays.
    EXPECT_FALSE(MoveFile(Path("missing"), Path("empty")));
    EXPECT_TRUE(CheckDirectory(Path("empty")));
    // A folder with content is never removed to make room.
    EXPECT_FALSE(MoveFile(Path("from"), Path("full")));
    EXPECT_EQ(ReadFile(Path("full/kept")), "kept");
    EXPECT_EQ(ReadFile(Path("from")), "new");

    EXPECT_TRUE(MoveFile(Path("from"), Path("empty")));
    EXPECT_FALSE(CheckDirectory(Path("empty")));
    EXPECT_EQ(ReadFile(Path("empty")), "new");
    EXPECT_FALSE(CheckFile(Path("from")));

    // A folder moved onto an empty folder takes its place.
    ASSERT_EQ(mkdir(Path("target").c_str(), 0700), 0);
    EXPECT_TRUE(MoveFile(Path("full"), Path("target")));
    EXPECT_EQ(ReadFile(Path("target/kept")), "kept");
    EXPECT_FALSE(CheckDirectory(Path("full")));
}

TEST_F(FileSystemTest, ChecksAndStatus) {
    WriteFile(Path("five"), "12345");
    EXPECT_TRUE(CheckFile(Path("five")));
    EXPECT_FALSE(CheckFile(Path("missing")));
    EXPECT_TRUE(CheckDirectory(root_));
    EXPECT_FALSE(CheckDirectory(Path("five")));

    EXPECT_EQ(GetFileSize(Path("five").c_str()), 5);
    EXPECT_EQ(GetFileSize(Path("missing").c_str()), -1);
    EXPECT_EQ(GetFileCreation(Path("missing").c_str()), -1);
    EXPECT_EQ(GetFileLastMod(Path("missing").c_str()), -1);

    struct stat info;
    ASSERT_EQ(stat(Path("five").c_str(), &info), 0);
    EXPECT_EQ(GetFileLastMod(Path("five").c_str()), static_cast<long>(info.st_mtime));
    EXPECT_EQ(GetFileCreation(Path("five").c_str()), static_cast<long>(info.st_ctime));
}

TEST_F(FileSystemTest, SizeBeyondIntRangeSaturates) {
    const std::string big = Path("big");
    WriteFile(big, "");
    if (truncate(big.c_str(), 3LL * 1024 * 1024 * 1024) != 0) {
        GTEST_SKIP() << "no sparse files here";
    }
    EXPECT_EQ(GetFileSize(big.c_str()), INT_MAX);
}

TEST_F(FileSystemTest, WellKnownFolders) {
    const char* saved = getenv("HOME");
    const std::string previous = saved ? saved : "";
    ASSERT_EQ(setenv("HOME", root_.c_str(), 1), 0);
    const std::string home = GetHomeFolder();
    const std::string settings = GetAppSettingsFolder();
    ASSERT_EQ(unsetenv("HOME"), 0);
    const std::string unset = GetHomeFolder();
    if (saved) setenv("HOME", previous.c_str(), 1);

    EXPECT_EQ(home, root_);
    EXPECT_EQ(settings, home);
    EXPECT_EQ(unset, "");
    EXPECT_EQ(GetTemporaryFolder(), "/tmp");
}
