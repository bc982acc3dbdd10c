// The stages of the update run: the file check and download queue, the hosts file and
// the self-replacement's refusals.
#include "tests/engine/UpdateRunFixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmoran::testing {
namespace {

using Events = std::vector<std::string>;

class Stages : public UpdateRunTest {
protected:
    std::string PackedSize(const std::string& serverPath) const {
        return std::to_string(platform::FileSize(serverRoot + serverPath + ".bz2"));
    }
    std::string ListMax() const {
        return "max0:" + std::to_string(platform::FileSize(serverRoot + "files.lst.bz2"));
    }
    // The client folder's files, without the settings the test may have put there.
    std::map<std::string, std::string> ClientFiles() const { return Snapshot(client); }
};

TEST_F(Stages, AMissingFileIsDownloadedIntoNewFoldersWithEveryNotification) {
    const std::string entry = Serve("system\\data\\rk.exe", "game program");
    PublishList({.rev = "1", .critical = {entry}});
    const std::string size = PackedSize("system/data/rk.exe");

    const auto outcome = Run();

    EXPECT_EQ(outcome.events, (Events{"lock",
                                      "status:Downloading updates list",
                                      "status:",
                                      ListMax(),
                                      "status:Checking files",
                                      "max1:0",
                                      "total:0",
                                      "status:Checking system\\data\\rk.exe",
                                      "total:0",
                                      "status:",
                                      "max1:0",
                                      "status:Downloading system\\data\\rk.exe",
                                      "max0:" + size,
                                      "status:Extracting system\\data\\rk.exe",
                                      "max0:" + size,
                                      "total:1",
                                      "total:0",
                                      "rev:1",
                                      "status:All the files have been updated",
                                      "unlock"}));
    EXPECT_EQ(ClientFiles(),
              (std::map<std::string, std::string>{{"system/data/rk.exe", "game program"}}));
    // The file gauge counted the packed bytes and went back to 0 after each transfer.
    EXPECT_NE(std::find(outcome.all.begin(), outcome.all.end(), "file:" + size), outcome.all.end());

    const auto again = Run({.atRevision = 1});
    EXPECT_EQ(again.FinalStatus(), "") << "a second run has nothing to do";
    EXPECT_EQ(server->Requests().size(), 3u) << "list, file, list";
}

TEST_F(Stages, SectionsAreCheckedAsTheRevisionAndFullCheckSay) {
    const std::string critical = Serve("c.dat", "critical");
    const std::string normal = Serve("n.dat", "normal");
    PublishList({.rev = "3", .critical = {critical}, .normal = {normal}});
    struct Case {
        const char* what;
        RunInputs inputs;
        std::map<std::string, std::string> files;
    };
    const Case cases[] = {
        {"revision applied: critical only", {.atRevision = 3}, {{"c.dat", "critical"}}},
        {"full check",
         {.fullCheck = true, .atRevision = 3},
         {{"c.dat", "critical"}, {"n.dat", "normal"}}},
        {"newer list", {.atRevision = 2}, {{"c.dat", "critical"}, {"n.dat", "normal"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::DeleteFile(client + "c.dat");
        platform::DeleteFile(client + "n.dat");
        const auto outcome = Run(c.inputs);
        EXPECT_EQ(outcome.FinalStatus(), "All the files have been updated");
        EXPECT_EQ(ClientFiles(), c.files);
    }
}

TEST_F(Stages, BackupsKeepTheReplacedFilesAndAreEmptiedBeforeAFullCheck) {
    WriteFile(client + "system/rk.exe", "old program");
    WriteFile(client + "backup/stale.txt", "from an earlier run");
    const std::string replaced = Serve("system\\rk.exe", "new program");
    const std::string added = Serve("new.dat", "new file");
    PublishList({.rev = "1", .normal = {replaced, added}});

    const auto outcome = Run({.fullCheck = true, .createBackup = 1});

    EXPECT_EQ(outcome.FinalStatus(), "All the files have been updated");
    EXPECT_EQ(ReadFile(client + "system/rk.exe"), "new program");
    EXPECT_EQ(Snapshot(client + "backup/"),
              (std::map<std::string, std::string>{{"system/rk.exe", "old program"}}))
        << "the stale copy is gone and the new file has no backup";

    // With nothing to download the folder is still emptied at a full check.
    WriteFile(client + "backup/stale.txt", "x");
    Run({.fullCheck = true, .createBackup = 1});
    EXPECT_TRUE(Snapshot(client + "backup/").empty());
}

TEST_F(Stages, AFailedDownloadStopsTheQueueAndAFailedUnpackSkipsOneEntry) {
    const std::string a = Serve("a.dat", "A");
    const std::string b = Serve("b.dat", "B");
    const std::string c = Serve("c.dat", "C");
    PublishList({.rev = "1", .critical = {a, b, c}});

    server->Script("/a.dat.bz2", Reply::Drop());
    auto outcome = Run();
    EXPECT_EQ(outcome.FinalStatus(), "Update Failed") << outcome.fatal;
    EXPECT_TRUE(ClientFiles().empty()) << "nothing after the failed download is fetched";
    EXPECT_EQ(outcome.events[outcome.events.size() - 4], "total:0")
        << "the total gauge was not advanced";

    server->Unscript("/a.dat.bz2");
    server->Script("/b.dat.bz2", Reply::Body("<html>no bzip2</html>"));
    outcome = Run();
    EXPECT_EQ(outcome.FinalStatus(), "Update Failed") << outcome.fatal;
    EXPECT_EQ(ClientFiles(), (std::map<std::string, std::string>{{"a.dat", "A"}, {"c.dat", "C"}}));
}

TEST_F(Stages, ABadDownloadLeavesTheInstalledFileAsItWas) {
    const std::string content = RandomBytes(300000, 7);
    const std::string entry = Serve("system\\game.dat", content);
    const std::string packed = ReadFile(serverRoot + "system/game.dat.bz2");
    std::string flipped = packed;
    flipped[flipped.size() / 2] ^= 0x10;
    struct Case {
        const char* what;
        Reply reply;
    };
    const Case cases[] = {
        {"cut short with Content-Length",
         Reply::Truncated(packed, packed.size() / 2, Framing::ContentLength)},
        {"cut short without Content-Length",
         Reply::Truncated(packed, packed.size() / 2, Framing::Close)},
        {"404", Reply::Status(404, "missing")},
        {"500 with the right bytes", Reply::Status(500, packed)},
        {"an HTML page", Reply::Body("<html>error</html>")},
        {"the right bzip2 of the wrong content", Reply::Body(Bzip2("other content"))},
        {"one byte flipped", Reply::Body(flipped)},
        {"bzip2 without its end", Reply::Body(packed.substr(0, packed.size() - 20))},
        {"stalled", Reply::Stall(packed, 100)},
    };
    PublishList({.rev = "1", .critical = {entry}});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(client + "system/game.dat", "installed");
        ::chmod((client + "system/game.dat").c_str(), 0640);
        server->Script("/system/game.dat.bz2", c.reply);
        const auto outcome = Run();
        EXPECT_EQ(outcome.FinalStatus(), "Update Failed");
        EXPECT_TRUE(outcome.Unlocked());
        EXPECT_EQ(ClientFiles(),
                  (std::map<std::string, std::string>{{"system/game.dat", "installed"}}))
            << "no packed or temporary file stays behind";
    }
    server->Unscript("/system/game.dat.bz2");
    Run();
    EXPECT_EQ(ReadFile(client + "system/game.dat"), content);
    struct stat st {};
    ::stat((client + "system/game.dat").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
}

TEST_F(Stages, NewProgramsBecomeRunnable) {
    const std::string script = Serve("system\\rk.sh", "#!/bin/sh\necho game\n");
    const std::string data = Serve("system\\data.txt", "just data");
    PublishList({.rev = "1", .critical = {script, data}});
    Run();
    EXPECT_EQ(::access((client + "system/rk.sh").c_str(), X_OK), 0);
    struct stat st {};
    ::stat((client + "system/data.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0111, 0u);
}

TEST_F(Stages, UnsafePathsFailTheirEntryAndTouchNothingOutside) {
    const std::string good = Serve("ok.dat", "fine");
    WriteFile(serverRoot + "x.bz2", Bzip2("evil"));
    const std::string digest = "|" + Md5Text("evil") + "|10";
    const std::vector<std::string> unsafe = {"..\\sentinel\\keep.txt",
                                             "..\\..\\x",
                                             "a\\..\\..\\x",
                                             "C:\\x",
                                             "\\\\srv\\share\\x",
                                             "\\x",
                                             "/tmp/velmoran-x",
                                             "a/../../x",
                                             "..",
                                             "x\\..\\..\\sentinel"};
    std::vector<std::string> critical;
    for (const auto& path : unsafe) {
        critical.push_back(path + digest);
    }
    critical.push_back(good);
    PublishList({.rev = "1", .critical = critical});

    const auto outcome = Run({.createBackup = 1});

    EXPECT_EQ(outcome.FinalStatus(), "Update Failed");
    EXPECT_EQ(ClientFiles(), (std::map<std::string, std::string>{{"ok.dat", "fine"}}));
    EXPECT_EQ(Snapshot(sentinel), (std::map<std::string, std::string>{{"keep.txt", "untouched"}}));
    EXPECT_FALSE(platform::FileExists("/tmp/velmoran-x"));
    for (const auto& request : server->Requests()) {
        EXPECT_TRUE(request.path == "/files.lst.bz2" || request.path == "/ok.dat.bz2")
            << request.path;
    }
}

TEST_F(Stages, EntriesThatCannotBeReadEndTheRun) {
    struct Case {
        const char* what;
        std::string line;
    };
    const Case cases[] = {
        {"too few fields", "a.dat|" + Md5Text("x")},
        {"size not a number", "a.dat|" + Md5Text("x") + "|big"},
        {"negative size", "a.dat|" + Md5Text("x") + "|-5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PublishList({.rev = "1", .critical = {c.line}});
        const auto outcome = Run();
        EXPECT_FALSE(outcome.Unlocked());
        EXPECT_FALSE(outcome.fatal.empty());
        EXPECT_FALSE(platform::FileExists(client + "a.dat"));
        platform::DeleteFile(client + "files.lst");
    }
}

TEST_F(Stages, TheSameFileInBothSectionsIsFetchedTwice) {
    const std::string entry = Serve("twice.dat", "content");
    PublishList({.rev = "2", .critical = {entry}, .normal = {entry}});
    const auto outcome = Run({.atRevision = 1});
    EXPECT_EQ(outcome.FinalStatus(), "All the files have been updated");
    int fetched = 0;
    for (const auto& request : server->Requests()) {
        fetched += request.path == "/twice.dat.bz2";
    }
    EXPECT_EQ(fetched, 2);
}

// The hosts stage on a copy of a hosts file.
class HostsStage : public Stages {
protected:
    std::string hosts = hostsDir + "hosts";

    RunOutcome Apply(std::vector<std::string> entries) {
        PublishList({.rev = "1", .modHosts = "1", .hosts = std::move(entries)});
        return Run({.atRevision = 1});
    }
};

constexpr char kOpen[] = "#-------- Added by RkUpdater --------\r\n";
constexpr char kClose[] = "#-----------------\r\n";

TEST_F(HostsStage, MappingsAreAddedSwitchedOffOrLeftAsTheFileHasThem) {
    struct Case {
        const char* what;
        std::string before;
        std::vector<std::string> entries;
        std::string after;
    };
    const std::string base = "127.0.0.1\tlocalhost\r\n";
    const Case cases[] = {
        {"host nowhere",
         base,
         {"10.1.1.1|game.example"},
         base + kOpen + "10.1.1.1\tgame.example\r\n" + kClose},
        {"host only in a comment",
         base + "#10.1.1.1 game.example\r\n",
         {"10.1.1.1|game.example"},
         base + "#10.1.1.1 game.example\r\n" + kOpen + "10.1.1.1\tgame.example\r\n" + kClose},
        {"same address with a tab",
         base + "10.1.1.1\tgame.example\r\n",
         {"10.1.1.1|game.example"},
         base + "10.1.1.1\tgame.example\r\n"},
        {"same address with a space",
         base + "10.1.1.1 game.example\r\n",
         {"10.1.1.1|game.example"},
         base + "10.1.1.1 game.example\r\n"},
        {"another address is switched off",
         base + "10.9.9.9 game.example\r\n",
         {"10.1.1.1|game.example"},
         base + "#10.9.9.9 game.example\r\n" + kOpen + "10.1.1.1\tgame.example\r\n" + kClose},
        {"a longer name matches too",
         base + "10.9.9.9 login.game.example\r\n",
         {"10.1.1.1|game.example"},
         base + "#10.9.9.9 login.game.example\r\n" + kOpen + "10.1.1.1\tgame.example\r\n" + kClose},
        {"every line trimmed when rewritten",
         "  127.0.0.1 localhost  \r\n\r\n\tx y\t\n",
         {"::1|game.example"},
         std::string("127.0.0.1 localhost\r\n\r\nx y\r\n") + kOpen + "::1\tgame.example\r\n" +
             kClose},
        {"fields further left ignored",
         base,
         {"old|10.1.1.1|game.example"},
         base + kOpen + "10.1.1.1\tgame.example\r\n" + kClose},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(hosts, c.before);
        const auto outcome = Apply(c.entries);
        EXPECT_TRUE(outcome.Unlocked()) << outcome.fatal;
        EXPECT_EQ(ReadFile(hosts), c.after);
        const bool rewritten = c.after != c.before;
        EXPECT_EQ(
            std::count(outcome.events.begin(), outcome.events.end(), "status:Hosts file chamged"),
            rewritten ? 1 : 0);
    }
}

TEST_F(HostsStage, ASecondRunChangesNothingAndHostsMsnWinsWhenPresent) {
    WriteFile(hosts, "127.0.0.1 localhost\r\n10.9.9.9 game.example\r\n");
    Apply({"10.1.1.1|game.example", "10.1.1.2|patch.example"});
    const std::string once = ReadFile(hosts);
    Apply({"10.1.1.1|game.example", "10.1.1.2|patch.example"});
    EXPECT_EQ(ReadFile(hosts), once);

    WriteFile(hostsDir + "hosts.msn", "127.0.0.1 localhost\r\n");
    Apply({"10.1.1.3|new.example"});
    EXPECT_EQ(ReadFile(hosts), once) << "hosts is left alone when hosts.msn exists";
    EXPECT_EQ(ReadFile(hostsDir + "hosts.msn"), std::string("127.0.0.1 localhost\r\n") + kOpen +
                                                    "10.1.1.3\tnew.example\r\n" + kClose);
}

TEST_F(HostsStage, HostileMappingsAreLeftOutAndTheRunSaysSo) {
    const std::string before = "127.0.0.1 localhost\r\n";
    WriteFile(hosts, before);
    const auto outcome = Apply({"not-an-address|game.example", "10.1.1.1|a.example b.example",
                                "10.1.1.1|evil#comment", "10.1.1.5|ok.example"});
    EXPECT_EQ(ReadFile(hosts), before + kOpen + "10.1.1.5\tok.example\r\n" + kClose);
    EXPECT_EQ(outcome.FinalStatus(), "Update Failed");
}

TEST_F(HostsStage, FailuresEndTheRunAndLeaveTheFileAsItWas) {
    const std::string before = "127.0.0.1 localhost\r\n";
    struct Case {
        const char* what;
        std::vector<std::string> entries;
        bool readOnly;
    };
    const Case cases[] = {
        {"no hosts section", {}, false},
        {"an entry of one field", {"game.example"}, false},
        {"a read-only file", {"10.1.1.1|game.example"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(hosts, before);
        ::chmod(hosts.c_str(), c.readOnly ? 0444 : 0644);
        const auto outcome = Apply(c.entries);
        EXPECT_FALSE(outcome.Unlocked());
        EXPECT_EQ(ReadFile(hosts), before);
        ::chmod(hosts.c_str(), 0644);
        platform::DeleteFile(client + "files.lst");
    }
    platform::DeleteFile(hosts);
    EXPECT_FALSE(Apply({"10.1.1.1|game.example"}).Unlocked()) << "a missing hosts file";
}

TEST_F(Stages, SelfEntriesThatTheScriptCouldMisreadAreRefused) {
    const std::vector<std::string> names = {
        "Velmoran launcher.exe", "a&b.exe",          "a\"b.exe", "%PATH%.exe",
        "..\\Velmoran.exe",      "bin\\Velmoran.exe"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        WriteFile(serverRoot + "x.bz2", Bzip2("new updater"));
        PublishList({.rev = "1", .self = {name + "|" + Md5Text("new updater") + "|20"}});
        const auto outcome = Run({.atRevision = 1});
        EXPECT_TRUE(outcome.Unlocked());
        EXPECT_EQ(outcome.FinalStatus(), "Update Failed");
        EXPECT_FALSE(platform::FileExists(client + "Update.bat"));
        EXPECT_EQ(server->Requests().back().path, "/files.lst.bz2") << "nothing downloaded";
    }
}

TEST_F(Stages, ACurrentUpdaterIsLeftAlone) {
    WriteFile(client + "Velmoran.exe", "current updater");
    PublishList({.rev = "1", .self = {"Velmoran.exe|" + Md5Text("current updater") + "|20"}});
    const auto outcome = Run({.atRevision = 1});
    EXPECT_EQ(outcome.FinalStatus(), "");
    EXPECT_FALSE(platform::FileExists(client + "Update.bat"));
    EXPECT_EQ(server->Requests().size(), 1u);
}

} // namespace
} // namespace velmoran::testing
