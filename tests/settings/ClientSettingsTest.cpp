// _settings.ini: defaults, positions and the three writers.
#include "updater/settings/ClientSettings.h"

#include "platform/Files.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmoran {
namespace {

using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

// Runs each test with the client folder as the current directory.
class ClientSettingsTest : public TempDirTest {
protected:
    void SetUp() override {
        before_ = platform::GetCurrentDir();
        ASSERT_TRUE(platform::SetCurrentDir(dir.Path()));
    }
    void TearDown() override { ASSERT_TRUE(platform::SetCurrentDir(before_)); }
    std::string file = dir / "_settings.ini";

private:
    std::string before_;
};

TEST_F(ClientSettingsTest, MissingFileGivesOnlyTheFolder) {
    TStringList settings{"stale"};
    EXPECT_FALSE(ReadClientSettings(settings));
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[csFolder], platform::GetCurrentDir() + "/");
}

TEST_F(ClientSettingsTest, ValuesAndDefaultsInTheirPositions) {
    struct Case {
        const char* what;
        const char* content;
        TStringList expected; // positions 1 to 7
    };
    const Case cases[] = {
        {"no main section: all defaults",
         "[other]\r\nNewsUrl=x\r\n",
         {"", "", "Ashen Crown", "0", "0", "0", "system\\rk.exe"}},
        {"every key",
         "[main]\r\nNewsUrl=http://n/\r\nUpdatesUrl=http://u\r\nLinkName=Game\r\n"
         "Installed=1\r\nCreateBackup=01\r\nAtRevision=12\r\nRunCustom=bin\\g -x\r\n",
         {"http://n/", "http://u", "Game", "1", "01", "12", "bin\\g -x"}},
        {"present but empty is not the default",
         "[main]\r\nInstalled=\r\nLinkName=\r\n",
         {"", "", "", "", "0", "0", "system\\rk.exe"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(file, c.content);
        TStringList settings;
        ASSERT_TRUE(ReadClientSettings(settings));
        ASSERT_EQ(settings.size(), 8u);
        EXPECT_EQ(TStringList(settings.begin() + 1, settings.end()), c.expected);
        EXPECT_EQ(ReadFile(file), c.content) << "reading never writes";
    }
}

TEST_F(ClientSettingsTest, WritersChangeOneKeyAndReportRefusal) {
    const std::string content = "[main]\r\nInstalled=1\r\nAtRevision=10\r\n";
    WriteFile(file, content);
    TStringList settings;
    ASSERT_TRUE(ReadClientSettings(settings));

    WriteAtRevision(settings, "12");
    WriteCreateBackup(settings, "1");
    EXPECT_EQ(ReadFile(file), "[main]\r\nInstalled=1\r\nAtRevision=12\r\nCreateBackup=1\r\n");
    EXPECT_EQ(settings[csAtRevision], "10") << "the settings in memory keep the start value";

    ::chmod(file.c_str(), 0444);
    try {
        WriteInstalled(settings);
        FAIL() << "wrote a read-only file";
    } catch (const ESettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file);
    }
}

} // namespace
} // namespace velmoran
