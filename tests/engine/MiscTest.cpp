// The shared text and file routines.
#include "updater/engine/Misc.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace velmoran {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

TEST(SplitFields, FieldsComeLastFirstWithoutEmptyOnes) {
    struct Case {
        const char* text;
        const char* delimiters;
        TStringList expected;
    };
    const Case cases[] = {
        {"a|b|c", "|", {"c", "b", "a"}},
        {"Rev|12", "|", {"12", "Rev"}},
        {"x|y|z|w", "|", {"w", "z", "y", "x"}},
        {"a||c", "|", {"c", "a"}},
        {"|", "|", {}},
        {"", "|", {}},
        {"alone", "|", {"alone"}},
        {"a | b", "|", {" b", "a "}},
        {"|lead|trail|", "|", {"trail", "lead"}},
        {"a,b;c", ",;", {"c", "b", "a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(SplitFields(c.text, c.delimiters), c.expected);
    }
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOnce) {
    struct Case {
        const char* text;
        const char* find;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"system\\data\\a.dat", "\\", "/", "system/data/a.dat"},
        {"aaa", "aa", "b", "ba"},    // occurrences do not overlap
        {"aXa", "a", "aa", "aaXaa"}, // a replacement is not scanned again
        {"Case case", "case", "x", "Case x"},
        {"text", "", "x", "text"},
        {"", "a", "b", ""},
        {"C:\\root\\", "C:\\root\\", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReplaceAll(c.text, c.find, c.replacement), c.expected);
    }
}

TEST(SearchText, FindsTheFirstMatchAtOrAfterStart) {
    struct Case {
        std::size_t start;
        const char* text;
        const char* pattern;
        std::size_t expected;
    };
    const Case cases[] = {
        {1, "127.0.0.1 host", "127", 1},
        {1, "abc host", "host", 5},
        {1, "ab", "abc", 0},
        {1, "Host", "host", 0},
        {1, "xxabxab", "ab", 3},
        {4, "xxabxab", "ab", 6},
        {7, "xxabxab", "ab", 0},
        {1, "aaaa", "aa", 1},
        {2, "abcabd", "abd", 4},
        {1, "x", "x", 1},
        {1, "", "x", 0},
        {1, "host\thost", "\t", 5},
        {1, "mississippi", "issip", 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.pattern);
        EXPECT_EQ(SearchText(c.start, c.text, c.pattern), c.expected);
    }
}

TEST(SearchText, AgreesWithAPlainSearchOnRandomText) {
    std::string text;
    unsigned seed = 7;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245 + 12345;
        text += static_cast<char>('a' + (seed >> 16) % 3);
    }
    for (std::size_t len = 1; len <= 8; ++len) {
        for (std::size_t at = 0; at + len <= 200; at += 7) {
            const std::string pattern = text.substr(at, len);
            for (std::size_t start : {std::size_t{1}, at + 1, at + 2}) {
                const auto plain = text.find(pattern, start - 1);
                const std::size_t expected = plain == std::string::npos ? 0 : plain + 1;
                ASSERT_EQ(SearchText(start, text, pattern), expected)
                    << "pattern " << pattern << " from " << start;
            }
        }
    }
}

class FolderRoutines : public TempDirTest {};

TEST_F(FolderRoutines, DeleteFolderRemovesTheTreeAndIgnoresAMissingOne) {
    WriteFile(dir / "backup/system/a.dat", "a");
    DeleteFolder(dir / "backup");
    EXPECT_FALSE(platform::DirectoryExists(dir / "backup"));
    DeleteFolder(dir / "backup");
}

TEST_F(FolderRoutines, RunProgramStartsInTheProgramsFolderAndStaysThere) {
    const std::string before = platform::GetCurrentDir();
    WriteFile(dir / "system/rk.sh", "#!/bin/sh\necho \"$1\" > started.txt\n");
    ::chmod((dir / "system/rk.sh").c_str(), 0755);

    RunProgram(dir / "system/rk.sh -fast");
    const std::string marker = dir / "system/started.txt";
    for (int i = 0; i < 500 && platform::FileSize(marker) <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(marker), "-fast\n");
    // Later relative paths of this process resolve against the program's folder.
    EXPECT_TRUE(platform::FileExists("rk.sh"));

    EXPECT_THROW(RunProgram(dir / "nowhere/rk.sh"), platform::EInOutError);
    ASSERT_TRUE(platform::SetCurrentDir(before));
}

TEST_F(FolderRoutines, RunProgramTakesPathsBeyondAHundredCharacters) {
    const std::string before = platform::GetCurrentDir();
    const std::string deep = dir / (std::string(120, 'd') + "/");
    WriteFile(deep + "game.sh", "#!/bin/sh\ntouch ran.txt\n");
    ::chmod((deep + "game.sh").c_str(), 0755);
    RunProgram(deep + "game.sh");
    for (int i = 0; i < 500 && !platform::FileExists(deep + "ran.txt"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(platform::FileExists(deep + "ran.txt"));
    ASSERT_TRUE(platform::SetCurrentDir(before));
}

} // namespace
} // namespace velmoran
