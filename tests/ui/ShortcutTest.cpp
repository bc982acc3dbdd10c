// ShortcutTest.cpp: where the desktop is, and the launcher file saved there.
#include "platform/Files.h"
#include "platform/Shell.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

// Sets the variables the desktop lookup reads, and puts them back afterwards.
class DesktopLookup : public TempDirTest {
protected:
    static constexpr const char* kNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR",
                                             "VELMORAN_DESKTOP_DIR"};
    DesktopLookup() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
            ::unsetenv(name);
        }
    }
    ~DesktopLookup() override {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(DesktopLookup, FollowsTheOverrideTheUserDirsFileTheVariableThenHome) {
    const std::string home = dir / "home";
    struct Case {
        const char* what;
        std::map<std::string, std::string> variables;
        const char* userDirs; // content of home/.config/user-dirs.dirs, nullptr for none
        std::string expected;
    };
    const Case cases[] = {
        {"nothing set", {{"HOME", home}}, nullptr, home + "/Desktop"},
        {"the file",
         {{"HOME", home}},
         "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Plocha\"\n",
         home + "/Plocha"},
        {"absolute in the file", {{"HOME", home}}, "XDG_DESKTOP_DIR=\"/srv/desk/\"\n", "/srv/desk"},
        {"escapes and the last line win",
         {{"HOME", home}},
         "XDG_DESKTOP_DIR=\"$HOME/a\"\nXDG_DESKTOP_DIR=\"$HOME/my \\\"desk\\\"\"\n",
         home + "/my \"desk\""},
        {"a relative value is ignored",
         {{"HOME", home}, {"XDG_DESKTOP_DIR", "/var/desk"}},
         "XDG_DESKTOP_DIR=\"Desktop\"\n",
         "/var/desk"},
        {"the file wins over the variable",
         {{"HOME", home}, {"XDG_DESKTOP_DIR", "/var/desk"}},
         "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n",
         home + "/Bureau"},
        {"XDG_CONFIG_HOME moves the file",
         {{"HOME", home}, {"XDG_CONFIG_HOME", dir / "cfg"}},
         "XDG_DESKTOP_DIR=\"$HOME/Plocha\"\n",
         "/elsewhere"},
        {"the override wins",
         {{"HOME", home}, {"VELMORAN_DESKTOP_DIR", dir / "test-desk/"}},
         "XDG_DESKTOP_DIR=\"$HOME/Plocha\"\n",
         dir / "test-desk"},
        {"no home", {}, nullptr, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : kNames) {
            ::unsetenv(name);
        }
        for (const auto& [name, value] : c.variables) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        platform::DeleteTree(home);
        if (c.userDirs) {
            WriteFile(home + "/.config/user-dirs.dirs", c.userDirs);
        }
        // Read only where XDG_CONFIG_HOME points.
        WriteFile(dir / "cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"/elsewhere\"\n");
        EXPECT_EQ(platform::DesktopDirectory(), c.expected);
    }
}

TEST(DesktopShortcut, TheExecLineQuotesWhatTheLauncherFormatWouldReadOtherwise) {
    const platform::ShellLink link{"Ashen Crown", "Play Ashen Crown",
                                   "/opt/Ashen Crown/100% \"real\" $HOME\\Velmoran",
                                   " /games/ashen/"};
    EXPECT_EQ(platform::DesktopEntryText(link),
              "[Desktop Entry]\n"
              "Type=Application\n"
              "Name=Ashen Crown\n"
              "Comment=Play Ashen Crown\n"
              "Exec=\"/opt/Ashen Crown/100%% \\\\\"real\\\\\" \\\\$HOME\\\\\\\\Velmoran\"\n"
              "Path=\\s/games/ashen/\n"
              "Terminal=false\n");
}

class DesktopShortcutFile : public TempDirTest {
protected:
    DesktopShortcutFile() { ::setenv("VELMORAN_DESKTOP_DIR", desktop.c_str(), 1); }
    ~DesktopShortcutFile() override { ::unsetenv("VELMORAN_DESKTOP_DIR"); }
    std::string desktop = dir / "desktop";
};

TEST_F(DesktopShortcutFile, IsReplacedWholeAndMadeExecutable) {
    platform::ForceDirectories(desktop);
    WriteFile(desktop + "/Ashen Crown.desktop", "an old launcher");
    const platform::ShellLink link{"Ashen Crown", "Play Ashen Crown", "/opt/velmoran/Velmoran",
                                   "/games/ashen/"};
    ASSERT_TRUE(platform::SaveDesktopShortcut(link));
    EXPECT_EQ(ReadFile(desktop + "/Ashen Crown.desktop"), platform::DesktopEntryText(link));
    struct stat st {};
    ASSERT_EQ(::stat((desktop + "/Ashen Crown.desktop").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IXUSR, 0u);
    EXPECT_EQ(platform::ListDirectory(desktop).size(), 1u) << "no temporary file left";
}

TEST_F(DesktopShortcutFile, RefusesNamesThatAreNoFileNamesAndAMissingDesktop) {
    platform::ForceDirectories(desktop);
    for (const char* name : {"", ".", "..", "../Ashen", "a/b", "line\nbreak"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::DesktopShortcutPath(name), "");
        EXPECT_FALSE(platform::SaveDesktopShortcut({name, "d", "/bin/true", "/"}));
    }
    EXPECT_TRUE(platform::ListDirectory(desktop).empty());
    EXPECT_TRUE(platform::ListDirectory(dir.Path()).size() == 1u) << "nothing beside the desktop";

    platform::DeleteTree(desktop);
    EXPECT_FALSE(platform::SaveDesktopShortcut({"Ashen Crown", "d", "/bin/true", "/"}));
    EXPECT_FALSE(platform::DirectoryExists(desktop)) << "the desktop is not created";
}

} // namespace
} // namespace velmoran::testing
