// The whole chain as an administrator and a player meet it: velmoran-publish makes the
// update, velmoran-serve offers it on loopback, velmoran-cli (or a copy of it standing in
// for the updater) brings a client folder up to date.
#include "platform/Files.h"
#include "tests/e2e/Tools.h"
#include "tests/support/Packing.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmoran::testing {
namespace {

namespace fs = std::filesystem;

class EndToEndTest : public TempDirTest {
protected:
    void SetUp() override {
        std::string map;
        for (int i = 0; i < 4000; ++i) {
            map += "tile " + std::to_string(i % 61) + " ash\r\n";
        }
        WriteFile(source + "system/rk.exe", "#!/bin/sh\necho Ashen Crown started\n");
        WriteFile(source + "system/option.ini", "[Video]\r\nColorBits=32\r\n");
        WriteFile(source + "data/maps/ashfall.map", map);
        WriteFile(source + "data/textures/crown.tex",
                  RandomBytes(5 << 19) + std::string(1 << 20, '\0'));
        WriteFile(source + "data/empty.dat", "");
        WriteFile(source + "Read Me.txt", "Welcome to Ashen Crown\r\n");
        WriteFile(source + "deep/a/b/c/d.txt", "deep");
        WriteFile(hostsDir + "hosts", "127.0.0.1\tlocalhost\r\n");
        platform::ForceDirectories(client);
    }

    ProcessResult Publish(std::vector<std::string> args = {}) {
        args.insert(args.begin(), {source, published, "--critical", "system/*.exe"});
        auto result = testing::Publish(args, dir.Path());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result;
    }

    struct Outcome {
        ProcessResult cli;
        std::vector<std::string> requests; // the paths the server was asked for
    };

    // One update run in the client folder against a server started for it; program is
    // velmoran-cli unless a copy of it stands in the client folder.
    Outcome Update(std::vector<std::string> args = {}, std::string program = VELMORAN_CLI) {
        ServeProcess server(published, dir / ("serve" + std::to_string(++runs) + ".log"));
        EXPECT_FALSE(server.Url().empty()) << server.Banner();
        const std::string settings = client + "_settings.ini";
        if (platform::FileExists(settings)) {
            WriteFile(settings,
                      std::regex_replace(ReadFile(settings), std::regex("UpdatesUrl=[^\r\n]*"),
                                         "UpdatesUrl=" + server.Url()));
        } else {
            WriteFile(settings, "[main]\r\nUpdatesUrl=" + server.Url() + "\r\n");
        }
        args.insert(args.begin(), program);
        Outcome outcome;
        outcome.cli = RunProcess(args, client,
                                 {{"VELMORAN_HOSTS_DIR", hostsDir},
                                  {"VELMORAN_COMMAND_PROCESSOR", VELMORAN_CMD},
                                  {"VELMORAN_CONNECT_TIMEOUT", "5"},
                                  {"VELMORAN_STALL_TIMEOUT", "5"}},
                                 std::chrono::seconds(60));
        outcome.requests = GetPaths(server.Stop());
        return outcome;
    }

    std::map<std::string, std::string> Client() { return ReadTree(client, {"_settings.ini"}); }

    std::string source = dir / "source/";
    std::string published = dir / "published/";
    std::string client = dir / "client/";
    std::string hostsDir = dir / "etc/";
    int runs = 0;
};

const std::vector<std::string> kListOnly = {"/files.lst.bz2"};

TEST_F(EndToEndTest, AFreshInstallEqualsTheSourceAndTheNextRunsDownloadNothing) {
    Publish();
    auto run = Update();
    EXPECT_EQ(run.cli.exitCode, 0) << run.cli.out << run.cli.err;
    EXPECT_NE(run.cli.out.find("All the files have been updated\n"), std::string::npos);
    EXPECT_EQ(Client(), ReadTree(source));
    EXPECT_EQ(run.requests.size(), 1u + ReadTree(source).size());
    EXPECT_EQ(run.requests.front(), "/files.lst.bz2");
    EXPECT_NE(std::find(run.requests.begin(), run.requests.end(), "/Read%20Me.txt.bz2"),
              run.requests.end());
    EXPECT_NE(ReadFile(client + "_settings.ini").find("AtRevision=1\r\n"), std::string::npos);
    struct stat game {};
    ASSERT_EQ(::stat((client + "system/rk.exe").c_str(), &game), 0);
    EXPECT_NE(game.st_mode & S_IXUSR, 0u) << "the game program must stay runnable";

    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"--full"}}) {
        SCOPED_TRACE(args.empty() ? "automatic check" : "full check");
        run = Update(args);
        EXPECT_EQ(run.cli.exitCode, 0) << run.cli.err;
        EXPECT_EQ(run.requests, kListOnly);
        EXPECT_EQ(run.cli.out.find("Downloading "), run.cli.out.find("Downloading updates list"));
        EXPECT_EQ(run.cli.out.find("All the files have been updated"), std::string::npos);
        EXPECT_EQ(Client(), ReadTree(source));
    }
}

TEST_F(EndToEndTest, OnlyChangedFilesComeDownAndNormalFilesWaitForANewRevision) {
    Publish();
    ASSERT_EQ(Update().cli.exitCode, 0);

    // Republished at the same revision: the critical file comes at once, the normal one
    // is not even looked at.
    WriteFile(source + "system/rk.exe", "#!/bin/sh\necho Ashen Crown 1.1 started\n");
    WriteFile(source + "data/maps/ashfall.map", "a smaller valley\r\n");
    const auto republished = Publish({"--rev", "1"});
    EXPECT_NE(republished.out.find("Packed 2, kept 5 unchanged"), std::string::npos)
        << republished.out;
    auto run = Update();
    EXPECT_EQ(run.requests, (std::vector<std::string>{"/files.lst.bz2", "/system/rk.exe.bz2"}));
    EXPECT_EQ(ReadFile(client + "system/rk.exe"), ReadFile(source + "system/rk.exe"));
    EXPECT_NE(ReadFile(client + "data/maps/ashfall.map"), "a smaller valley\r\n");

    // Revision 2: now files_normal is checked, and the changed map is the one download.
    Publish();
    run = Update();
    EXPECT_EQ(run.cli.exitCode, 0) << run.cli.err;
    EXPECT_EQ(run.requests,
              (std::vector<std::string>{"/files.lst.bz2", "/data/maps/ashfall.map.bz2"}));
    EXPECT_EQ(Client(), ReadTree(source));
    EXPECT_NE(ReadFile(client + "_settings.ini").find("AtRevision=2\r\n"), std::string::npos);
}

TEST_F(EndToEndTest, TheRunningUpdaterIsReplacedThroughItsScript) {
    // The name is this test's own, so that the script ends no other test's updater.
    const std::string name = "Velmoran-" + std::to_string(::getpid()) + ".exe";
    const std::string updater = ReadFile(VELMORAN_CLI);
    const std::string newUpdater = updater + "\n# build 2\n"; // runs like the old one
    WriteFile(source + name, newUpdater);
    ::chmod((source + name).c_str(), 0755);
    WriteFile(client + name, updater);
    ::chmod((client + name).c_str(), 0755);
    Publish({"--self", name});

    const auto run = Update({}, client + name);
    // The script ended the old updater, swapped the files and started the new one, which
    // found itself current and brought the client up to date.
    const std::string script = client + "Update.bat";
    for (int i = 0;
         i < 300 && (platform::FileExists(script) || ReadFile(client + name) != newUpdater); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_FALSE(platform::FileExists(script));
    EXPECT_FALSE(platform::FileExists(client + name + ".New"));
    EXPECT_FALSE(platform::FileExists(client + "files.lst"));
    EXPECT_TRUE(ReadFile(client + name) == newUpdater);
    EXPECT_EQ(std::count(run.requests.begin(), run.requests.end(), "/" + name + ".bz2"), 1)
        << run.cli.out << run.cli.err;
    for (const auto& [path, content] : ReadTree(source, {name})) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(platform::FileExists(client + path));
        EXPECT_TRUE(ReadFile(client + path) == content);
    }
}

TEST_F(EndToEndTest, TheHostsStageEditsTheHostsFileOnce) {
    WriteFile(hostsDir + "hosts", "127.0.0.1\tlocalhost\r\n10.9.9.9 login.ashen.test\r\n");
    WriteFile(dir / "mappings.txt", "10.1.2.3 login.ashen.test\n10.1.2.4 patch.ashen.test\n");
    Publish({"--hosts", dir / "mappings.txt", "--mod-hosts"});

    auto run = Update();
    EXPECT_EQ(run.cli.exitCode, 0) << run.cli.err;
    EXPECT_NE(run.cli.out.find("Applying changes to Hosts\nHosts file chamged\n"),
              std::string::npos)
        << run.cli.out;
    const std::string edited = "127.0.0.1\tlocalhost\r\n#10.9.9.9 login.ashen.test\r\n"
                               "#-------- Added by RkUpdater --------\r\n"
                               "10.1.2.3\tlogin.ashen.test\r\n10.1.2.4\tpatch.ashen.test\r\n"
                               "#-----------------\r\n";
    EXPECT_EQ(ReadFile(hostsDir + "hosts"), edited);
    EXPECT_EQ(Client(), ReadTree(source));

    run = Update({"--full"});
    EXPECT_EQ(run.cli.exitCode, 0);
    EXPECT_EQ(run.cli.out.find("Hosts"), std::string::npos);
    EXPECT_EQ(ReadFile(hostsDir + "hosts"), edited);
}

} // namespace
} // namespace velmoran::testing
