// Profile reading and writing: the INI behaviour _settings.ini and option.ini rely on.
#include "platform/Profile.h"

#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmoran::platform {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

class ProfileTest : public TempDirTest {
protected:
    std::string file = dir / "_settings.ini";
};

struct ReadCase {
    const char* what;
    std::optional<std::string> content; // nothing: the file does not exist
    const char* section;
    const char* key;
    const char* expected; // with the default "dflt"
};

TEST_F(ProfileTest, ReadsValuesLikeTheWindowsProfileFunctions) {
    const ReadCase cases[] = {
        {"plain value", "[main]\r\nNewsUrl=http://x/\r\n", "main", "NewsUrl", "http://x/"},
        {"section and key ignore case", "[MAIN]\r\nnewsurl=a\r\n", "Main", "NEWSURL", "a"},
        {"blanks around name and value", "  [ main ]  \r\n  Key  =  v w \t\r\n", "main", "Key",
         "v w"},
        {"value keeps later equals signs", "[main]\r\nUrl=a=b\r\n", "main", "Url", "a=b"},
        {"LF line ends", "[main]\nA=1\nB=2\n", "main", "B", "2"},
        {"no line end at the end", "[main]\r\nA=1", "main", "A", "1"},
        {"empty value is not the default", "[main]\r\nA=\r\n", "main", "A", ""},
        {"missing file", std::nullopt, "main", "A", "dflt"},
        {"missing section", "[other]\r\nA=1\r\n", "main", "A", "dflt"},
        {"missing key", "[main]\r\nB=1\r\n", "main", "A", "dflt"},
        {"key of another section", "[main]\r\nB=1\r\n[x]\r\nA=2\r\n", "main", "A", "dflt"},
        {"first of two sections", "[main]\r\nA=1\r\n[main]\r\nA=2\r\n", "main", "A", "1"},
        {"first of two keys", "[main]\r\nA=1\r\nA=2\r\n", "main", "A", "1"},
        {"comment line is no key", "[main]\r\n;A=1\r\n", "main", "A", "dflt"},
        {"line without equals is no key", "[main]\r\nA\r\n", "main", "A", "dflt"},
        {"empty file", "", "main", "A", "dflt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(file.c_str());
        if (c.content) {
            WriteFile(file, *c.content);
        }
        EXPECT_EQ(ReadProfileString(c.section, c.key, "dflt", file), c.expected);
    }
}

struct WriteCase {
    const char* what;
    std::optional<std::string> before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

TEST_F(ProfileTest, WritesChangeOnlyTheOneLine) {
    const WriteCase cases[] = {
        {"creates the file", std::nullopt, "main", "Installed", "1", "[main]\r\nInstalled=1\r\n"},
        {"replaces a value, keeps the rest byte for byte",
         "; mine\r\n[main]\r\nA = old \r\nB=2\n\r\n[x]\r\nA=3\r\n", "MAIN", "a", "new",
         "; mine\r\n[main]\r\nA=new\r\nB=2\n\r\n[x]\r\nA=3\r\n"},
        {"adds a key after the section's last line", "[main]\r\nA=1\r\n\r\n[x]\r\nC=3\r\n", "main",
         "B", "2", "[main]\r\nA=1\r\nB=2\r\n\r\n[x]\r\nC=3\r\n"},
        {"adds a key to a last line without line end", "[main]\r\nA=1", "main", "B", "2",
         "[main]\r\nA=1\r\nB=2\r\n"},
        {"adds the section at the end", "[x]\r\nC=3", "main", "A", "1",
         "[x]\r\nC=3\r\n[main]\r\nA=1\r\n"},
        {"keeps a line end without CR", "[main]\nA=1\nB=2\n", "main", "A", "9",
         "[main]\nA=9\nB=2\n"},
        {"writes an empty value", "[main]\r\nA=1\r\n", "main", "A", "", "[main]\r\nA=\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink(file.c_str());
        if (c.before) {
            WriteFile(file, *c.before);
        }
        ASSERT_TRUE(WriteProfileString(c.section, c.key, c.value, file));
        EXPECT_EQ(ReadFile(file), c.after);
        EXPECT_EQ(ReadProfileString(c.section, c.key, "dflt", file), c.value);
    }
}

TEST_F(ProfileTest, RefusedWritesReportFailureAndChangeNothing) {
    const std::string content = "[main]\r\nA=1\r\n";
    WriteFile(file, content);

    // A value with a line break would smuggle in a key of its own.
    EXPECT_FALSE(WriteProfileString("main", "A", "1\r\nUpdatesUrl=http://evil/", file));
    EXPECT_FALSE(WriteProfileString("main", "A=B", "1", file));
    EXPECT_EQ(ReadFile(file), content);

    ::chmod(file.c_str(), 0444);
    EXPECT_FALSE(WriteProfileString("main", "A", "2", file));
    EXPECT_EQ(ReadFile(file), content);
    ::chmod(file.c_str(), 0644);

    const std::string folder = dir / "locked";
    ASSERT_TRUE(CreateDir(folder));
    const std::string inLocked = folder + "/_settings.ini";
    WriteFile(inLocked, content);
    ::chmod(folder.c_str(), 0555);
    EXPECT_FALSE(WriteProfileString("main", "A", "2", inLocked));
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFile(inLocked), content);

    EXPECT_FALSE(WriteProfileString("main", "A", "1", dir / "missing/_settings.ini"));
}

TEST_F(ProfileTest, WriteKeepsPermissionsAndLeavesNoTemporaryFile) {
    WriteFile(file, "[main]\r\nA=1\r\n");
    ::chmod(file.c_str(), 0640);
    const std::string link = dir / "link.ini";
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);

    ASSERT_TRUE(WriteProfileString("main", "A", "2", link));

    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link must keep pointing at the file";
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFile(file), "[main]\r\nA=2\r\n");
    EXPECT_EQ(ListDirectory(dir.Path()).size(), 2u) << "only the file and the link";
}

} // namespace
} // namespace velmoran::platform
