// Reading sections and values out of files.lst.
#include "updater/engine/LstFile.h"

#include "platform/Errors.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace velmoran {
namespace {

using testing::TempDirTest;
using testing::WriteFile;

class LstFileTest : public TempDirTest {
protected:
    std::string path = dir / "files.lst";
};

TEST_F(LstFileTest, SectionsAsTheUpdateRunReadsThem) {
    struct Case {
        const char* what;
        const char* content;
        const char* section;
        TStringList expected;
    };
    const Case cases[] = {
        {"entries in order, trimmed",
         "[files_normal]\r\n  a|1|2 \r\n\tb|3|4\r\n[/files_normal]\r\n",
         "files_normal",
         {"a|1|2", "b|3|4"}},
        {"LF alone ends a line", "[s]\nx\ny\n[/s]\n", "s", {"x", "y"}},
        {"blank and space-only lines skipped", "[s]\r\n\r\n   \r\nx\r\n\t\r\n[/s]", "s", {"x"}},
        {"comment-looking lines are entries",
         "[s]\r\n#x\r\n;y\r\n[t]\r\n[/s]",
         "s",
         {"#x", ";y", "[t]"}},
        {"opening line with blanks around it", "  [s]\t\r\nx\r\n[/s]", "s", {"x"}},
        {"names compare with case", "[S]\r\nx\r\n[/S]", "s", {"FAIL"}},
        {"no spaces inside the brackets", "[ s ]\r\nx\r\n[/ s ]", "s", {"FAIL"}},
        {"missing section", "[t]\r\nx\r\n[/t]", "s", {"FAIL"}},
        {"empty section", "[s]\r\n[/s]\r\n", "s", {"FAIL"}},
        {"only the first section of a name", "[s]\r\na\r\n[/s]\r\n[s]\r\nb\r\n[/s]", "s", {"a"}},
        {"text between sections ignored", "junk\r\n[s]\r\na\r\n[/s]\r\nmore junk", "s", {"a"}},
        {"no closing line: ends with the file", "[s]\r\na\r\nb", "s", {"a", "b"}},
        {"control characters trimmed", "[s]\r\n\x01x\x1f\r\n[/s]", "s", {"x"}},
        {"an entry FAIL reads as missing", "[self]\r\nFAIL\r\n[/self]", "self", {"FAIL"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(path, c.content);
        TListFile list(path);
        EXPECT_EQ(list.ReadSection(c.section), c.expected);
    }
}

TEST_F(LstFileTest, ValuesAreTheLastFieldOfTheFirstMatchingKey) {
    struct Case {
        const char* what;
        const char* content;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        {"plain", "[settings]\r\nRev|12\r\nModHosts|0\r\n[/settings]", "Rev", "12"},
        {"one field is key and value", "[settings]\r\nRev\r\n[/settings]", "Rev", "Rev"},
        {"empty fields dropped", "[settings]\r\nRev||12\r\n[/settings]", "Rev", "12"},
        {"spaces belong to the fields", "[settings]\r\nRev | 12\r\n[/settings]", "Rev", ""},
        {"middle fields ignored", "[settings]\r\nRev|x|12\r\n[/settings]", "Rev", "12"},
        {"first match wins", "[settings]\r\nRev|1\r\nRev|2\r\n[/settings]", "Rev", "1"},
        {"key compared with case", "[settings]\r\nrev|1\r\n[/settings]", "Rev", ""},
        {"only the first section", "[settings]\r\nA|1\r\n[/settings]\r\n[settings]\r\nRev|2\r\n",
         "Rev", ""},
        {"missing section", "[other]\r\nRev|1\r\n[/other]", "Rev", ""},
        {"never past the closing line", "[settings]\r\n[/settings]\r\nRev|1", "Rev", ""},
        {"no closing line", "[settings]\r\nA|1\r\nRev|3", "Rev", "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(path, c.content);
        TListFile list(path);
        EXPECT_EQ(list.ReadValue("settings", c.key), c.expected);
    }
}

TEST_F(LstFileTest, ReadsRepeatInAnyOrderAndLongLinesSurvive) {
    const std::string longPath(1 << 20, 'p');
    WriteFile(path, "[settings]\r\nRev|7\r\n[/settings]\r\n[files_critical]\r\n" + longPath +
                        "|d|1\r\n[/files_critical]\r\n");
    TListFile list(path);
    const auto first = list.ReadSection("files_critical");
    EXPECT_EQ(list.ReadValue("settings", "Rev"), "7");
    EXPECT_EQ(list.ReadSection("files_critical"), first);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].size(), longPath.size() + 4);
}

TEST_F(LstFileTest, ErrorsOfTheFileAndOfEmptyLines) {
    TListFile missing(dir / "missing.lst");
    EXPECT_THROW(missing.ReadSection("settings"), platform::EInOutError);
    EXPECT_THROW(missing.ReadValue("settings", "Rev"), platform::EInOutError);

    WriteFile(path, "[settings]\r\n||\r\nRev|1\r\n[/settings]");
    TListFile list(path);
    EXPECT_THROW(list.ReadValue("settings", "Rev"), platform::EListError);
}

} // namespace
} // namespace velmoran
