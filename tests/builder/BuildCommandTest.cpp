// BuildCommandTest.cpp: Kelpforge --build run as a process, the way scripts run it:
// without a display, messages on stdout, exit status 0 only for a completed build.
#include "builder/crc.h"
#include "tests/builder/ZipCheck.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kelpforge {
namespace {

namespace fs = std::filesystem;
using velmoran::testing::ProcessResult;
using velmoran::testing::ReadFile;
using velmoran::testing::RunProcess;
using velmoran::testing::WriteFile;

class BuildCommandTest : public velmoran::testing::TempDirTest {
protected:
    BuildCommandTest() {
        WriteFile(dir / "client/Velmoran.exe", "MZ the updater");
        WriteFile(dir / "client/readme.txt", "");
        WriteFile(dir / "client/system/empty.ini", "");
    }

    // No display of any kind, and a Qt platform that does not exist: a window or a
    // QApplication would make the program fail.
    ProcessResult Kelpforge(std::vector<std::string> args) {
        args.insert(args.begin(), KELPFORGE);
        return RunProcess(args, dir.Path(),
                          {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", "none"}});
    }

    std::string IamLine(const std::string& name = "Velmoran.exe") const {
        return "IAM=" + name + "|" + Crc32ToString(FileCrc32(dir / ("client/" + name))) + "|" +
               std::to_string(fs::file_size(dir / ("Upload/" + name + ".zip")));
    }
};

TEST_F(BuildCommandTest, ExampleTreeGivesTheExampleListAndExitsWithZero) {
    const ProcessResult result = Kelpforge({"--build", dir / "client"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Done! 3 files have been packed.\n");
    EXPECT_EQ(ReadFile(dir / "Upload/updates.lst"),
              "[self]\r\n" + IamLine() +
                  "\r\n[misc]\r\nServer=127.0.0.1\r\nModifyHost=0\r\n[files]\r\nfcount=2\r\n"
                  "F1=readme.txt|0|118|n\r\nF2=system\\empty.ini|0|116|n\r\n");
    testing::ExpectArchiveHolds(dir / "Upload/Velmoran.exe.zip",
                                {{"Velmoran.exe", "MZ the updater"}});
    testing::ExpectArchiveHolds(dir / "Upload/readme.txt.zip", {{"readme.txt", ""}});
    testing::ExpectArchiveHolds(dir / "Upload/system/empty.ini.zip", {{"empty.ini", ""}});
}

TEST_F(BuildCommandTest, OptionsSetTheListsSwitches) {
    fs::rename(dir / "client/Velmoran.exe", dir / "client/Game.exe");
    // A relative root is taken against the current directory.
    const ProcessResult result =
        Kelpforge({"--build", "client/", "--server", "10.1.2.3", "--name", "Game.exe",
                   "--modify-host", "--critical", "--jobs", "2"});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(ReadFile(dir / "Upload/updates.lst"),
              "[self]\r\n" + IamLine("Game.exe") +
                  "\r\n[misc]\r\nServer=10.1.2.3\r\nModifyHost=1\r\n[files]\r\nfcount=2\r\n"
                  "F1=readme.txt|0|118|c\r\nF2=system\\empty.ini|0|116|c\r\n");
}

TEST_F(BuildCommandTest, AnythingButDoneExitsNonZero) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string out;      // exactly, when errStart is empty
        std::string errStart; // the start of stderr
    };
    const Case cases[] = {
        {{"--build", dir / "client", "--name", "velmoran.exe"}, 1, "velmoran.exe was not found!\n"},
        {{"--build", "/"}, 1, "\"/\" is the root of a drive; choose the client's folder!\n"},
        {{"--build", dir.Path()},
         1,
         "\"" + dir.Path() + "\" holds the Upload folder; choose a folder that does not!\n"},
        {{"--build", ""}, 1, "No folder is selected!\n"},
        {{"--build"}, 2, "", "Kelpforge: --build needs a value\nUsage: Kelpforge --build ROOT"},
        {{"--build", "client", "--jobs", "many"},
         2,
         "",
         "Kelpforge: --jobs needs a number from 1 to 256, not \"many\""},
        {{"--build", "client", "--bogus"}, 2, "", "Kelpforge: Unknown argument \"--bogus\""},
        {{"--server", "1.2.3.4", "--build", "client", "--server"},
         2,
         "",
         "Kelpforge: --server needs a value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const ProcessResult result = Kelpforge(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode);
        if (c.errStart.empty()) {
            EXPECT_EQ(result.out, c.out);
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.substr(0, c.errStart.size()), c.errStart) << result.err;
        }
    }
    EXPECT_FALSE(fs::exists(dir / "Upload/updates.lst"));

    const ProcessResult help = Kelpforge({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: Kelpforge --build ROOT", 0), 0u) << help.out;
}

TEST_F(BuildCommandTest, FailedRunPrintsTheErrorAndExitsWithOne) {
    fs::create_directories(dir / "Upload/readme.txt.zip");
    const ProcessResult result = Kelpforge({"--build", dir / "client"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out,
              "Cannot create file \"" + (dir / "Upload/readme.txt.zip") + "\". Is a directory\n");
}

} // namespace
} // namespace kelpforge
