// Folders, attributes, copies, mappings, paths and program start.
#include "platform/Files.h"

#include "platform/Errors.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Shell.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmoran::platform {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

using FilesTest = TempDirTest;

TEST_F(FilesTest, ListingGivesNamesAttributesAndSizesSorted) {
    WriteFile(dir / "b.txt", "12345");
    WriteFile(dir / ".hidden", "");
    WriteFile(dir / "ro.txt", "x");
    ::chmod((dir / "ro.txt").c_str(), 0444);
    ASSERT_TRUE(CreateDir(dir / "a"));

    const auto entries = ListDirectory(dir.Path());
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, ".hidden");
    EXPECT_EQ(entries[0].attributes, faHidden | faArchive);
    EXPECT_EQ(entries[1].name, "a");
    EXPECT_EQ(entries[1].attributes, faDirectory);
    EXPECT_EQ(entries[2].name, "b.txt");
    EXPECT_EQ(entries[2].size, 5);
    EXPECT_EQ(entries[3].attributes, faReadOnly | faArchive);
    EXPECT_FALSE(IsWritable(dir / "ro.txt")) << "read-only even for root";
    EXPECT_TRUE(IsWritable(dir / "b.txt"));

    try {
        ListDirectory(dir / "missing");
        FAIL() << "listed a missing folder";
    } catch (const EInOutError& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
}

TEST_F(FilesTest, CopyKeepsContentModeAndTimeAndHonoursFailIfExists) {
    const std::string from = dir / "from.bin";
    WriteFile(from, std::string(3 << 20, 'q'));
    ::chmod(from.c_str(), 0750);
    const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ::utimensat(AT_FDCWD, from.c_str(), times, 0);

    ASSERT_TRUE(CopyFile(from, dir / "to.bin", false));
    EXPECT_EQ(ReadFile(dir / "to.bin"), ReadFile(from));
    const auto info = GetFileInfo(dir / "to.bin");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->modified, 1000000000);
    struct stat st {};
    ::stat((dir / "to.bin").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0750u);

    WriteFile(dir / "kept.bin", "kept");
    EXPECT_FALSE(CopyFile(from, dir / "kept.bin", true));
    EXPECT_EQ(ReadFile(dir / "kept.bin"), "kept");
    EXPECT_TRUE(CopyFile(from, dir / "kept.bin", false));
    EXPECT_FALSE(CopyFile(dir / "missing", dir / "x.bin", false));
    EXPECT_FALSE(FileExists(dir / "x.bin"));
    EXPECT_EQ(ListDirectory(dir.Path()).size(), 3u) << "no temporary file is left";
}

TEST_F(FilesTest, DeleteTreeRemovesLinksButNeverWhatTheyPointAt) {
    WriteFile(dir / "outside/keep.txt", "keep");
    WriteFile(dir / "tree/a/b/c.txt", "c");
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/a/link").c_str()), 0);

    EXPECT_TRUE(DeleteTree(dir / "tree"));
    EXPECT_FALSE(DirectoryExists(dir / "tree"));
    EXPECT_EQ(ReadFile(dir / "outside/keep.txt"), "keep");
    EXPECT_TRUE(DeleteTree(dir / "tree")) << "a missing folder is no failure";
}

TEST_F(FilesTest, ForceDirectoriesAndAtomicWrites) {
    EXPECT_TRUE(ForceDirectories(dir / "x/y/z/"));
    EXPECT_TRUE(DirectoryExists(dir / "x/y/z"));
    EXPECT_TRUE(ForceDirectories(dir / "x/y"));
    WriteFile(dir / "file", "f");
    EXPECT_FALSE(ForceDirectories(dir / "file/sub"));

    const mode_t mask = ::umask(022);
    WriteFileAtomic(dir / "new.txt", "abc");
    ::umask(mask);
    EXPECT_EQ(ReadFile(dir / "new.txt"), "abc");
    struct stat st {};
    ::stat((dir / "new.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_THROW(WriteFileAtomic(dir / "nofolder/new.txt", "abc"), EFCreateError);
}

TEST_F(FilesTest, MappingCoversTheWholeFileOrNothing) {
    WriteFile(dir / "data", "mapped bytes");
    TFileMapping mapped(dir / "data");
    ASSERT_TRUE(mapped.IsMapped());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped.Data()), mapped.Size()),
              "mapped bytes");
    WriteFile(dir / "empty", "");
    for (const auto& path : {dir / "empty", dir / "missing", dir.Path()}) {
        SCOPED_TRACE(path);
        TFileMapping none(path);
        EXPECT_FALSE(none.IsMapped());
        EXPECT_EQ(none.Size(), 0u);
    }
}

TEST(Path, ListPathsBecomeNativeWhenJoined) {
    EXPECT_EQ(JoinPath("/game/", "system\\data\\a.dat"), "/game/system/data/a.dat");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/game"), "/game/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/game/"), "/game/");
    EXPECT_EQ(ExtractFilePath("/game/system/rk.exe"), "/game/system/");
    EXPECT_EQ(ExtractFilePath("rk.exe"), "");
    EXPECT_EQ(ExtractFileName("/game/system/rk.exe"), "rk.exe");
}

TEST(CommandLine, SplitsAtBlanksAndKeepsQuotedStretches) {
    const std::vector<std::string> expected{"a", "b c", "d\\e", "fg"};
    EXPECT_EQ(SplitCommandLine("  a \"b c\"\td\\e f\"g\" "), expected);
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

// Waits for a file the started program writes.
std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !FileExists(path + ".done"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadFile(path);
}

TEST_F(FilesTest, StartedProgramRunsInItsFolderWithItsArguments) {
    const std::string folder = dir / "My Game";
    WriteFile(folder + "/run me.sh",
              "#!/bin/sh\npwd > out.txt\necho \"$#:$1:$2\" >> out.txt\ntouch out.txt.done\n");
    ::chmod((folder + "/run me.sh").c_str(), 0755);

    // An unquoted path with a blank in it, followed by arguments, as a settings file gives it.
    ASSERT_TRUE(StartProgram(folder + "/run me.sh -window \"two words\"", folder));
    EXPECT_EQ(WaitForFile(folder + "/out.txt"), folder + "\n2:-window:two words\n");

    EXPECT_FALSE(StartProgram(dir / "missing.sh", ""));
    EXPECT_FALSE(StartProgram("", ""));
}

} // namespace
} // namespace velmoran::platform
