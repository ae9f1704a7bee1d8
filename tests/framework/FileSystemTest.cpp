// Tests of the file-system helpers, each in a fresh temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "TestFolders.h"
#include "ZRFileSystem.h"

using namespace ZRFramework;
using namespace ZRFramework::ZRFileSystem;

namespace {

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = zdTest::MakeTempFolder("zrfs-");
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override { zdTest::RemoveFolder(root_); }

    // `name` written with "/" and given in the platform's own syntax.
    std::string Path(std::string name) const {
        for (char& c : name)
            if (c == '/') c = kSeparator;
        return root_ + kSeparator + name;
    }

#ifdef _WIN32
    static constexpr char kSeparator = '\\';
#else
    static constexpr char kSeparator = '/';
#endif

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
    EXPECT_TRUE(MakeDirectory(Path("/a/b//d/"), true));
    EXPECT_TRUE(CheckDirectory(Path("a/b/d")));

#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(stat(deepest.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
#endif
}

#ifdef _WIN32
TEST_F(FileSystemTest, RecursiveCreationOnWindows) {
    // Forward slashes separate levels too, as everywhere on Windows.
    EXPECT_TRUE(MakeDirectory(root_ + "/f/g", true));
    EXPECT_TRUE(CheckDirectory(Path("f/g")));
    // Two leading backslashes stay together, so a \\?\ path keeps its prefix.
    EXPECT_TRUE(MakeDirectory("\\\\?\\" + Path("u\\v"), true));
    EXPECT_TRUE(CheckDirectory(Path("u\\v")));
}
#endif

TEST_F(FileSystemTest, SingleLevelCreationNeedsTheParent) {
    EXPECT_FALSE(MakeDirectory(Path("x/y"), false));
    EXPECT_FALSE(CheckDirectory(Path("x")));
    EXPECT_TRUE(MakeDirectory(Path("x"), false));
    EXPECT_FALSE(MakeDirectory(Path("x"), false));
}

TEST_F(FileSystemTest, RecursiveCreationOfRelativePath) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    const bool created = MakeDirectory(std::string("r") + kSeparator + "s", true);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(created);
    EXPECT_TRUE(CheckDirectory(Path("r/s")));
}

TEST_F(FileSystemTest, EnumerationSeparatesFilesFromDirectories) {
    WriteFile(Path("file.txt"), "x");
    ASSERT_TRUE(MakeDirectory(Path("sub"), false));
#ifndef _WIN32
    ASSERT_EQ(symlink("missing-target", Path("dangling").c_str()), 0);
#endif

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

#ifndef _WIN32
// Windows never replaces a folder by a move; what it keeps is checked in MoveFileKeepsFolders.
TEST_F(FileSystemTest, MoveFileOntoAFolder) {
    ASSERT_TRUE(MakeDirectory(Path("empty"), false));
    ASSERT_TRUE(MakeDirectory(Path("full"), false));
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
    ASSERT_TRUE(MakeDirectory(Path("target"), false));
    EXPECT_TRUE(MoveFile(Path("full"), Path("target")));
    EXPECT_EQ(ReadFile(Path("target/kept")), "kept");
    EXPECT_FALSE(CheckDirectory(Path("full")));
}

#else
TEST_F(FileSystemTest, MoveFileKeepsFolders) {
    ASSERT_TRUE(MakeDirectory(Path("full"), false));
    WriteFile(Path("full/kept"), "kept");
    WriteFile(Path("from"), "new");
    EXPECT_FALSE(MoveFile(Path("from"), Path("full")));
    EXPECT_EQ(ReadFile(Path("full/kept")), "kept");
    EXPECT_EQ(ReadFile(Path("from")), "new");
}
#endif

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
#ifndef _WIN32
    EXPECT_EQ(GetFileCreation(Path("five").c_str()), static_cast<long>(info.st_ctime));
#else
    // The creation time, which a fresh file shares with its last write to within a second.
    EXPECT_NEAR(static_cast<double>(GetFileCreation(Path("five").c_str())),
                static_cast<double>(info.st_mtime), 2.0);
#endif
}

TEST_F(FileSystemTest, SizeBeyondIntRangeSaturates) {
    const std::string big = Path("big");
    WriteFile(big, "");
    std::error_code error;
    std::filesystem::resize_file(big, 3ULL * 1024 * 1024 * 1024, error);
    if (error) GTEST_SKIP() << "no 3 GiB file can be made here";
    EXPECT_EQ(GetFileSize(big.c_str()), INT_MAX);
}

#ifndef _WIN32
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
#else
TEST_F(FileSystemTest, WellKnownFolders) {
    const std::string home = GetHomeFolder();
    const std::string settings = GetAppSettingsFolder();
    EXPECT_FALSE(home.empty());
    EXPECT_TRUE(CheckDirectory(home));
    EXPECT_TRUE(CheckDirectory(settings));
    EXPECT_NE(settings, home);
    std::string temporary = std::filesystem::temp_directory_path().string();
    if (!temporary.empty() && temporary.back() == '\\') temporary.pop_back();
    EXPECT_EQ(GetTemporaryFolder(), temporary);
    ASSERT_GT(GetNumOfLogicalDrives(), 0);
    const std::string drive = DriveIndexToMountPoint(0);
    EXPECT_EQ(drive.size(), 2u);
    EXPECT_EQ(DriveIndexToMountPoint(GetNumOfLogicalDrives()), "");
}
#endif
