// velmoran-publish as an administrator runs it: the list it writes, republishing, and the
// inputs it refuses without touching the published folder.
#include "platform/Files.h"
#include "tests/e2e/Tools.h"
#include "tests/support/Packing.h"
#include "tests/support/TempDir.h"
#include "tools/publish/Glob.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace velmoran::testing {
namespace {

namespace fs = std::filesystem;

TEST(GlobMatchTest, Patterns) {
    struct Case {
        const char* pattern;
        const char* path;
        bool match;
    };
    const Case cases[] = {
        {"system/*.exe", "system\\rk.exe", true},
        {"system\\*.exe", "system/rk.exe", true},
        {"system/*.exe", "system\\bin\\rk.exe", true}, // "*" crosses folders
        {"system/*.exe", "system\\rk.exe.bak", false},
        {"*.dll", "a\\b\\c.dll", true},
        {"*.dll", "c.dll.txt", false},
        {"logs", "logs", true},
        {"logs", "logs\\today.log", false}, // whole path: the folder itself is what matches
        {"data/??.pak", "data\\01.pak", true},
        {"data/?.pak", "data\\01.pak", false},
        {"a?b", "a\\b", false}, // "?" is never a separator
        {"map[0-9].dat", "map7.dat", true},
        {"map[0-9].dat", "mapx.dat", false},
        {"map[!0-9].dat", "mapx.dat", true},
        {"map[!0-9].dat", "map7.dat", false},
        {"[ab]*", "b.txt", true},
        {"file[", "file[", true}, // an unclosed set is an ordinary "["
        {"Read Me.txt", "Read Me.txt", true},
        {"readme.txt", "README.txt", false},
        {"*", "", true},
        {"", "x", false},
        {"*a*b*c", "xaybzc", true},
        {"*a*b*c", "xaybz", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.path);
        EXPECT_EQ(publish::GlobMatch(c.pattern, c.path), c.match);
    }
}

class PublishTest : public TempDirTest {
protected:
    void Put(const std::string& path, const std::string& content) {
        WriteFile(client + path, content);
    }

    // The list line of a published file, with the size of its packed file in out.
    std::string Entry(const std::string& listPath, const std::string& content) {
        std::string native = listPath;
        std::replace(native.begin(), native.end(), '\\', '/');
        return listPath + "|" + Md5Text(content) + "|" +
               std::to_string(platform::FileSize(out + native + ".bz2"));
    }

    std::string List() { return Unpack(out + "files.lst.bz2"); }

    std::string client = dir / "client/";
    std::string out = dir / "out/";
};

TEST_F(PublishTest, WritesTheSectionsInOrderAndAPackedFilePerFile) {
    const std::string noise = RandomBytes(1500000, 3); // more than one bzip2 block
    std::string map;
    for (int i = 0; i < 5000; ++i) {
        map += "tile " + std::to_string(i % 97) + " grass\r\n";
    }
    const std::map<std::string, std::string> listed = {
        {"system/rk.exe", "#!/bin/sh\necho ok\n"},
        {"system/option.ini", "[Video]\r\n"},
        {"data/maps/a.map", map},
        {"data/noise.bin", noise},
        {"data/backup/x.txt", "only the top-level backup folder is the updater's"},
        {"empty.dat", ""},
        {"Read Me.txt", "spaces are fine"},
    };
    for (const auto& [path, content] : listed) {
        Put(path, content);
    }
    Put("Velmoran.exe", "updater v2");
    // The updater's own files in a player's folder, and what --exclude leaves out.
    for (const char* path : {"_settings.ini", "files.lst", "files.lst.bz2", "Update.bat",
                             "backup/system/rk.exe", "logs/today.log", "data/maps/a.map.tmp"}) {
        Put(path, "not published");
    }
    WriteFile(dir / "hosts.txt", "# login servers\n10.0.0.5 login.ashen.test\n"
                                 "10.0.0.6\tpatch.ashen.test  cdn.ashen.test # both\n\n");

    const auto result =
        Publish({client, out, "--critical", "system/*.exe", "--critical", "Read Me.txt", "--self",
                 "Velmoran.exe", "--hosts", dir / "hosts.txt", "--mod-hosts", "--exclude", "logs",
                 "--exclude", "*.tmp"},
                dir.Path());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_NE(result.out.find("Published revision 1"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("7 files (2 critical) and the updater, 3 host mappings"),
              std::string::npos)
        << result.out;

    EXPECT_EQ(List(), "[settings]\r\nRev|1\r\nModHosts|1\r\n[/settings]\r\n"
                      "[hosts]\r\n10.0.0.5|login.ashen.test\r\n10.0.0.6|patch.ashen.test\r\n"
                      "10.0.0.6|cdn.ashen.test\r\n[/hosts]\r\n"
                      "[self]\r\n" +
                          Entry("Velmoran.exe", "updater v2") +
                          "\r\n[/self]\r\n"
                          "[files_critical]\r\n" +
                          Entry("Read Me.txt", listed.at("Read Me.txt")) + "\r\n" +
                          Entry("system\\rk.exe", listed.at("system/rk.exe")) +
                          "\r\n[/files_critical]\r\n"
                          "[files_normal]\r\n" +
                          Entry("data\\backup\\x.txt", listed.at("data/backup/x.txt")) + "\r\n" +
                          Entry("data\\maps\\a.map", map) + "\r\n" +
                          Entry("data\\noise.bin", noise) + "\r\n" + Entry("empty.dat", "") +
                          "\r\n" + Entry("system\\option.ini", listed.at("system/option.ini")) +
                          "\r\n[/files_normal]\r\n");

    // Exactly one packed file per listed file, each unpacking to its source; nothing else.
    auto published = ReadTree(out);
    EXPECT_EQ(published.erase("files.lst.bz2"), 1u);
    EXPECT_EQ(published.erase("Velmoran.exe.bz2"), 1u);
    for (const auto& [path, content] : listed) {
        SCOPED_TRACE(path);
        ASSERT_EQ(published.count(path + ".bz2"), 1u);
        EXPECT_EQ(Unpack(out + path + ".bz2"), content);
        published.erase(path + ".bz2");
    }
    EXPECT_TRUE(published.empty()) << published.begin()->first;
    // Random data does not shrink, yet it is packed like everything else.
    EXPECT_GT(platform::FileSize(out + "data/noise.bin.bz2"), std::int64_t(noise.size()));
}

TEST_F(PublishTest, RepublishingPacksOnlyWhatChangedAndRemovesWhatIsGone) {
    Put("keep.txt", "the same");
    Put("big.bin", RandomBytes(300000));
    Put("change.txt", "version 1");
    Put("gone/deep/only.txt", "bye");
    ASSERT_EQ(Publish({client, out}, dir.Path()).exitCode, 0);
    struct stat before {};
    ASSERT_EQ(::stat((out + "big.bin.bz2").c_str(), &before), 0);

    Put("change.txt", "version 2");
    fs::remove_all(client + "gone");
    Put("new/added.txt", "hello");
    auto result = Publish({client, out}, dir.Path());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Published revision 2"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Packed 2, kept 2 unchanged, removed 1"), std::string::npos)
        << result.out;
    EXPECT_EQ(List().substr(0, 34), "[settings]\r\nRev|2\r\nModHosts|0\r\n[/s");

    struct stat after {};
    ASSERT_EQ(::stat((out + "big.bin.bz2").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an unchanged file was packed again";
    EXPECT_EQ(Unpack(out + "change.txt.bz2"), "version 2");
    EXPECT_EQ(Unpack(out + "new/added.txt.bz2"), "hello");
    EXPECT_FALSE(fs::exists(out + "gone")) << "the emptied folders stay behind";
    EXPECT_TRUE(ReadTree(out).count("new/added.txt.bz2"));

    // The same client and revision give the same bytes, however many threads pack it.
    const std::string other = dir / "other/";
    ASSERT_EQ(Publish({client, out, "--rev", "7"}, dir.Path()).exitCode, 0);
    ASSERT_EQ(Publish({client, other, "--rev", "7", "--jobs", "1"}, dir.Path()).exitCode, 0);
    EXPECT_EQ(ReadTree(out), ReadTree(other));
    result = Publish({client, out, "--rev", "7"}, dir.Path());
    EXPECT_NE(result.err.find("revision 7 is not above the published 7"), std::string::npos)
        << result.err;
    EXPECT_EQ(ReadTree(out), ReadTree(other));
}

TEST_F(PublishTest, RefusedNamesStopThePublishAndChangeNothing) {
    Put("good.txt", "fine");
    ASSERT_EQ(Publish({client, out}, dir.Path()).exitCode, 0);
    const auto published = ReadTree(out);
    struct Case {
        std::vector<std::string> bad;   // files made in the client folder
        std::vector<std::string> named; // what the message must name
        const char* reason;
    };
    const Case cases[] = {
        {{"a|b.txt"}, {"\"a|b.txt\""}, "split the list entry"},
        {{"dir|x/one.txt", "dir|x/two.txt"}, {"\"dir|x\""}, "split the list entry"},
        {{"back\\slash.txt"}, {"\"back\\slash.txt\""}, "folder separator"},
        {{"sub/c:d.txt"}, {"\"sub\\c:d.txt\""}, "the updater refuses this path"},
        {{"sub/bell\x07.wav"}, {"\"sub\\bell\x07.wav\""}, "the updater refuses this path"},
        {{" lead.txt"}, {"\" lead.txt\""}, "trimmed"},
        {{"sub/take#2.txt", "50%.txt"}, {"\"sub\\take#2.txt\"", "\"50%.txt\""}, "unescaped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named.front());
        fs::remove_all(client + "sub");
        for (const auto& name : c.bad) {
            Put(name, "x");
        }
        const auto result = Publish({client, out}, dir.Path());
        EXPECT_EQ(result.exitCode, 1);
        for (const auto& name : c.named) {
            EXPECT_NE(result.err.find(name), std::string::npos) << result.err;
        }
        EXPECT_NE(result.err.find(c.reason), std::string::npos) << result.err;
        EXPECT_EQ(ReadTree(out), published);
        // A new published folder is not even made.
        EXPECT_EQ(Publish({client, dir / "fresh"}, dir.Path()).exitCode, 1);
        EXPECT_FALSE(fs::exists(dir / "fresh"));
        for (const auto& name : c.bad) {
            fs::remove_all(client + fs::path(name).begin()->string());
        }
    }
}

TEST_F(PublishTest, OptionsItCannotHonourStopIt) {
    Put("good.txt", "fine");
    Put("my app.exe", "updater");
    WriteFile(dir / "bad-address.txt", "# ok\n10.0.0.300 login.ashen.test\n");
    WriteFile(dir / "bad-host.txt", "10.0.0.1 login.ashen.test\n10.0.0.2 a&b\n");
    WriteFile(dir / "no-hosts.txt", "# nothing here\n");
    struct Case {
        std::vector<std::string> args; // after CLIENT_DIR OUT_DIR
        int exitCode;
        std::string message;
    };
    const std::string badAddress = dir / "bad-address.txt";
    const std::string badHost = dir / "bad-host.txt";
    const Case cases[] = {
        {{"--self", "my app.exe"}, 1, "bare file name"},
        {{"--self", "Missing.exe"}, 1, "\"Missing.exe\": no such file"},
        {{"--mod-hosts"}, 1, "--mod-hosts needs --hosts FILE"},
        {{"--hosts", badAddress}, 1, badAddress + ":2: \"10.0.0.300\" is not an IP address"},
        {{"--hosts", badHost}, 1, badHost + ":2: \"a&b\" is not a host name"},
        {{"--hosts", dir / "no-hosts.txt", "--mod-hosts"}, 1, "has no mapping"},
        {{"--hosts", dir / "missing.txt"}, 1, "the hosts file"},
        {{"--rev", "x"}, 2, "--rev needs a whole number"},
        {{"--rev", "-1"}, 2, "--rev needs a whole number"},
        {{"--jobs", "0"}, 2, "--jobs needs a whole number"},
        {{"--critical"}, 2, "--critical needs a value"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"third"}, 2, "needs CLIENT_DIR and OUT_DIR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args{client, out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = Publish(args, dir.Path());
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(out));
    }
    // Folders inside each other would publish the published files.
    auto result = Publish({client, client + "pub"}, dir.Path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("must not contain each other"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(client + "pub"));
    Put("pub/inner.txt", "inner");
    result = Publish({client + "pub", client}, dir.Path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("must not contain each other"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(client + "files.lst.bz2"));
}

TEST_F(PublishTest, APublishedListThatCannotBeReadOrNamesForeignPaths) {
    Put("good.txt", "fine");
    WriteFile(out + "files.lst.bz2", "<html>not a list</html>");
    auto result = Publish({client, out}, dir.Path());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("cannot read its revision"), std::string::npos) << result.err;
    EXPECT_EQ(ReadFile(out + "files.lst.bz2"), "<html>not a list</html>");
    result = Publish({client, out, "--rev", "3"}, dir.Path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("every file is packed anew"), std::string::npos) << result.err;
    EXPECT_NE(List().find("Rev|3"), std::string::npos);

    // A hand-edited list naming paths outside the folder: those are never deleted.
    WriteFile(dir / "victim.txt.bz2", "outside");
    WriteFile(out + "stale.txt.bz2", "old");
    WriteFile(out + "files.lst.bz2",
              Bzip2("[settings]\r\nRev|4\r\n[/settings]\r\n[files_normal]\r\n"
                    "..\\victim.txt|0|7\r\n" +
                    dir.Path() +
                    "victim.txt|0|7\r\nfiles.lst|0|1\r\nstale.txt|0|3\r\n"
                    "[/files_normal]\r\n"));
    result = Publish({client, out}, dir.Path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Published revision 5"), std::string::npos) << result.out;
    EXPECT_EQ(ReadFile(dir / "victim.txt.bz2"), "outside");
    EXPECT_FALSE(fs::exists(out + "stale.txt.bz2"));
    EXPECT_NE(List().find("good.txt|"), std::string::npos);
}

TEST_F(PublishTest, AnInterruptedPublishLeavesThePublishedFolderAsItWas) {
    Put("good.txt", "fine");
    ASSERT_EQ(Publish({client, out}, dir.Path()).exitCode, 0);
    const auto published = ReadTree(out);
    Put("good.txt", "changed");
    Put("new/big.bin", RandomBytes(24 << 20)); // seconds of packing

    Child publish({VELMORAN_PUBLISH, client, out, "--jobs", "2"}, dir.Path(), dir / "err.txt");
    // Interrupt once the big file is being packed under its temporary name.
    bool packing = false;
    for (int i = 0; i < 1000 && !packing; ++i) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(out + "new", error)) {
            packing |= entry.path().filename().string().rfind(".big.bin.bz2.", 0) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(packing);
    EXPECT_EQ(publish.Stop(SIGINT), 1);
    EXPECT_NE(ReadFile(dir / "err.txt").find("interrupted"), std::string::npos);
    EXPECT_EQ(ReadTree(out), published);
    EXPECT_FALSE(fs::exists(out + "new"));
}

} // namespace
} // namespace velmoran::testing
