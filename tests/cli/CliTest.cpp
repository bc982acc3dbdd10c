// velmoran-cli as a player or a script runs it: exit codes, output, _settings.ini after.
#include "platform/Files.h"
#include "tests/fixtures/TestServer.h"
#include "tests/support/Packing.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "updater/codecs/md5.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

class CliTest : public TempDirTest {
protected:
    void SetUp() override {
        WriteFile(client + "keep", "");
        WriteFile(serverRoot + "keep", "");
    }

    ProcessResult Cli(std::vector<std::string> args = {}) {
        args.insert(args.begin(), VELMORAN_CLI);
        return RunProcess(args, client,
                          {{"VELMORAN_HOSTS_DIR", dir / "etc"},
                           {"VELMORAN_STALL_TIMEOUT", "2"},
                           {"VELMORAN_CONNECT_TIMEOUT", "2"}});
    }

    void Settings(const std::string& url, const std::string& more = "") {
        WriteFile(client + "_settings.ini", "[main]\r\nUpdatesUrl=" + url + "\r\n" + more);
    }

    void PublishList(const std::string& rev, const std::string& critical = "") {
        WriteFile(serverRoot + "files.lst.bz2", Bzip2("[settings]\r\nRev|" + rev +
                                                      "\r\nModHosts|0\r\n[/settings]\r\n"
                                                      "[files_critical]\r\n" +
                                                      critical + "[/files_critical]\r\n"));
    }

    std::string client = dir / "client/";
    std::string serverRoot = dir / "server/";
};

TEST_F(CliTest, StoresTheRevisionAndExitsZero) {
    TestServer server(serverRoot);
    PublishList("5");
    Settings(server.Url());
    const auto result = Cli();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(client + "_settings.ini"),
              "[main]\r\nUpdatesUrl=" + server.Url() + "\r\nAtRevision=5\r\n");
    EXPECT_NE(result.out.find("Downloading updates list"), std::string::npos);
}

TEST_F(CliTest, InstallsAFileAndAFullCheckFindsNothingMore) {
    TestServer server(serverRoot);
    const std::string content = "game data";
    const std::string packed = Bzip2(content);
    WriteFile(serverRoot + "system/game.dat.bz2", packed);
    MD5Context context;
    MD5Init(context);
    MD5Update(context, content.data(), static_cast<std::uint32_t>(content.size()));
    MD5Digest digest;
    MD5Final(context, digest);
    PublishList("2", "system\\game.dat|" + MD5ToHex(digest) + "|" + std::to_string(packed.size()) +
                         "\r\n");
    Settings(server.Url());

    auto result = Cli();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadFile(client + "system/game.dat"), content);
    EXPECT_NE(result.out.find("All the files have been updated"), std::string::npos);

    result = Cli({"--full"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.find("Downloading system"), std::string::npos);
}

TEST_F(CliTest, ExitCodesTellFailureFromError) {
    const std::string deadPort = [] {
        TestServer gone;
        return gone.Url();
    }();
    struct Case {
        const char* what;
        std::string settings; // the [main] lines after UpdatesUrl
        bool dead;
        int exitCode;
        const char* err;
    };
    const Case cases[] = {
        {"no server", "", true, 1, ""},
        {"settings not a number", "AtRevision=x\r\n", false, 2, "'x' is not a valid integer value"},
        {"revision cannot be stored", "", false, 2, "Unable to write to "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestServer server(serverRoot);
        PublishList("9");
        Settings(c.dead ? deadPort : server.Url(), c.settings);
        if (std::string(c.what) == "revision cannot be stored") {
            ::chmod((client + "_settings.ini").c_str(), 0444);
        }
        const auto result = Cli();
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err;
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
        ::chmod((client + "_settings.ini").c_str(), 0644);
    }
}

TEST_F(CliTest, MissingSettingsAndBadOptions) {
    auto result = Cli();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "ERROR: _settings.ini Not Found !\n");
    EXPECT_EQ(result.out, "");

    result = Cli({"--bogus"});
    EXPECT_EQ(result.exitCode, 2);
    result = Cli({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("--full"), std::string::npos);
}

TEST_F(CliTest, PlayStartsTheGameInItsFolder) {
    Settings("http://127.0.0.1:9/", "RunCustom=bin\\game.sh -fast\r\n");
    WriteFile(client + "bin/game.sh", "#!/bin/sh\npwd > started.txt\necho \"$1\" >> started.txt\n");
    ::chmod((client + "bin/game.sh").c_str(), 0755);
    const auto result = Cli({"--play"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const std::string marker = client + "bin/started.txt";
    const std::string expected = client + "bin\n-fast\n";
    for (int i = 0; i < 500 && platform::FileSize(marker) < std::int64_t(expected.size()); ++i) {
        ::usleep(10000);
    }
    EXPECT_EQ(ReadFile(marker), expected);
}

} // namespace
} // namespace velmoran::testing
