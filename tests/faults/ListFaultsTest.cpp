// What a hostile or broken list can make an update run do: unsafe and odd entries, sizes
// that are no sizes, missing closing lines, huge lists and lines, NUL bytes, and self and
// hosts entries meant to break out of the script or the hosts file.
#include "tests/faults/FaultFixture.h"
#include "tests/support/Packing.h"

#include <functional>
#include <gtest/gtest.h>

namespace velmoran::testing {
namespace {

// The list's sections as lines; the defaults are the source's own.
struct ListParts {
    std::vector<std::string> settings = {"Rev|2", "ModHosts|1"};
    std::vector<std::string> hosts = {"10.0.0.7|login.velmoran.test"};
    std::vector<std::string> self;
    std::vector<std::string> critical;
    std::vector<std::string> normal;
    enum class Closing { Every, AllButLast, None } closing = Closing::Every;
    std::string junk; // lines outside every section, at the top
};

std::string Text(const ListParts& parts) {
    std::string text = parts.junk;
    const std::pair<const char*, const std::vector<std::string>*> sections[] = {
        {"settings", &parts.settings},
        {"hosts", &parts.hosts},
        {"self", &parts.self},
        {"files_critical", &parts.critical},
        {"files_normal", &parts.normal}};
    for (const auto& [name, lines] : sections) {
        text += std::string("[") + name + "]\r\n";
        for (const std::string& line : *lines) {
            text += line + "\r\n";
        }
        const bool last = std::string_view(name) == "files_normal";
        if (parts.closing == ListParts::Closing::Every ||
            (parts.closing == ListParts::Closing::AllButLast && !last)) {
            text += std::string("[/") + name + "]\r\n";
        }
    }
    return text;
}

class ListFaults : public FaultTest {
protected:
    ListParts Standard() const {
        ListParts parts;
        for (const SourceFile& file : source) {
            (file.critical ? parts.critical : parts.normal).push_back(Entry(file));
        }
        return parts;
    }
    const std::set<std::string> kAll = {"client/system/game.dat", "client/data/map.dat",
                                        "client/data/new.dat", "client/_settings.ini", "etc/hosts"};
};

struct ListCase {
    const char* what;
    std::function<void(ListParts&)> change;
    int exitCode;
    std::set<std::string> nowNew; // "all" for every file of the source, settings and hosts
    bool keepsList = false;       // an error ended the run and files.lst stays for a look
};

TEST_F(ListFaults, EntriesThatCannotBeUsedNeverReachOutsideTheClient) {
    const std::string outside = sentinel + "keep.txt";
    const std::string bogus = "|0123456789abcdef0123456789abcdef|100";
    const std::string mib(1 << 20, 'x');
    const std::set<std::string> hostsOnly = {"etc/hosts"};
    const std::set<std::string> allButSettings = {"client/system/game.dat", "client/data/map.dat",
                                                  "client/data/new.dat", "etc/hosts"};
    const std::vector<ListCase> cases = {
        {"unsafe paths",
         [&](ListParts& p) {
             for (const std::string& path : std::vector<std::string>{
                      "..\\sentinel\\keep.txt", "system\\..\\..\\sentinel\\keep.txt",
                      "data/../../sentinel/keep.txt", "\\sentinel\\keep.txt", "/sentinel/keep.txt",
                      outside, "C:\\sentinel\\keep.txt", "system\\..", ".."}) {
                 p.normal.push_back(path + bogus);
             }
         },
         1, kAll},
        {"an entry of two fields", [](ListParts& p) { p.normal.push_back("data\\x.dat|abc"); }, 2,
         hostsOnly, true},
        {"a size that is no number",
         [&](ListParts& p) { p.critical.insert(p.critical.begin(), "data\\x.dat|abc|12x"); }, 2,
         hostsOnly, true},
        {"a negative size",
         [&](ListParts& p) { p.critical.insert(p.critical.begin(), "data\\x.dat|abc|-5"); }, 2,
         hostsOnly, true},
        {"a size beyond 64 bits",
         [&](ListParts& p) {
             p.critical.insert(p.critical.begin(), "data\\x.dat|abc|99999999999999999999");
         },
         2, hostsOnly, true},
        {"the largest 64-bit size",
         [&](ListParts& p) {
             const SourceFile& game = Source("system/game.dat");
             p.critical.front() =
                 "system\\game.dat|" + Md5Text(game.content) + "|9223372036854775807";
         },
         0, kAll},
        {"the last section without its closing line",
         [](ListParts& p) { p.closing = ListParts::Closing::AllButLast; }, 0, kAll},
        // The hosts section then runs to the end of the file and takes in the next
        // section's header as a mapping of one field.
        {"no closing lines at all",
         [](ListParts& p) { p.closing = ListParts::Closing::None; },
         2,
         {},
         true},
        {"a revision that is no number",
         [](ListParts& p) {
             p.settings = {"Rev|two", "ModHosts|1"};
         },
         2,
         {},
         true},
        {"a line of 1 MiB outside the sections", [&](ListParts& p) { p.junk = mib + "\r\n"; }, 0,
         kAll},
        // The server refuses a request of that size (the queue stops there, at its end);
        // a name the server answers but the file system cannot hold ends the run.
        {"a path of 1 MiB", [&](ListParts& p) { p.normal.push_back(mib + bogus); }, 1, kAll},
        {"a file name of 300 characters",
         [&](ListParts& p) { p.normal.push_back("data\\" + std::string(300, 'n') + bogus); }, 2,
         allButSettings, true},
        {"a digest of 1 MiB",
         [&](ListParts& p) { p.normal.push_back("data\\big.dat|" + mib + "|100"); }, 1, kAll},
        {"NUL bytes in a path, a digest and a setting",
         [&](ListParts& p) {
             p.normal.push_back(std::string("data\\a\0b.dat", 12) + bogus);
             p.normal.push_back(std::string("data\\new.dat|\0", 14) + "|100");
             p.settings.front() = std::string("Rev|2\0", 6);
         },
         1, kAll},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.what);
        WriteClient();
        ListParts parts = Standard();
        c.change(parts);
        WriteFile(serverRoot + "files.lst.bz2", Bzip2(Text(parts)));

        const auto result = Cli({}, {}, std::chrono::seconds(60));

        ASSERT_FALSE(result.timedOut);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.out.substr(0, 2000) << result.err;
        States states = StatesNow();
        EXPECT_EQ(states.erase("client/files.lst"), c.keepsList ? 1u : 0u);
        EXPECT_EQ(states, Expect(c.nowNew));
    }
}

TEST_F(ListFaults, AHundredThousandEntries) {
    ListParts parts = Standard();
    const std::string readme = Entry(Source("readme.txt"));
    while (parts.normal.size() < 100000) {
        parts.normal.push_back(readme);
    }
    WriteFile(serverRoot + "files.lst.bz2", Bzip2(Text(parts)));

    const auto result = Cli({}, {}, std::chrono::seconds(240));

    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(StatesNow(), Expect(kAll));
}

// The self entry's name stands unquoted in Update.bat: anything the script could read as
// more than a file name of the client folder is refused before a byte is fetched.
TEST_F(ListFaults, HostileSelfEntriesAreRefusedWithoutAScript) {
    for (const std::string& name : std::vector<std::string>{
             "Velmoran Launcher", "Velmoran&del", "Velmoran\"x", "%COMSPEC%", "..\\Velmoran",
             "bin\\Velmoran", "/tmp/Velmoran", "Velmoran>nul"}) {
        SCOPED_TRACE(name);
        WriteClient();
        WriteFile(serverRoot + name + ".bz2", Bzip2("#!/bin/sh\n"));
        ListParts parts = Standard();
        parts.self = {name + "|" + Md5Text("#!/bin/sh\n") + "|20"};
        WriteFile(serverRoot + "files.lst.bz2", Bzip2(Text(parts)));
        const std::size_t requestsBefore = server->Requests().size();

        const auto result = Cli();

        EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
        EXPECT_EQ(StatesNow(), Expect(kAll));
        // The list and the three files, nothing for the self entry.
        EXPECT_EQ(server->Requests().size() - requestsBefore, 4u);
    }
}

// Mappings that are not one address and one host name are left out; the good one is
// written, and nothing else comes into the hosts file.
TEST_F(ListFaults, HostileHostsEntriesAreLeftOut) {
    ListParts parts = Standard();
    parts.hosts = {
        "localhost|evil.test",                              // a name for an address
        "10.0.0.7|login.velmoran.test evil.test bank.test", // a list of names
        "10.0.0.7 6.6.6.6|bank.test",                       // two addresses
        "10.0.0.7|bank.test\tevil.test",                    // a tab inside
        "#10.0.0.7|bank.test",                              // a comment mark
        "999.1.1.1|bank.test",                              // no address at all
        "10.0.0.7|login.velmoran.test",                     // the good one
        std::string("10.0.0.8|bank.test\0evil.test", 28),   // NUL in the name
        // What follows a NUL byte in the address once slipped past its check.
        std::string("10.0.0.9\0\tevil.test|bank.test", 29),
    };
    WriteFile(serverRoot + "files.lst.bz2", Bzip2(Text(parts)));

    const auto result = Cli();

    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(StatesNow(), Expect(kAll));
}

} // namespace
} // namespace velmoran::testing
