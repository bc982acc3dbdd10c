// FaultFixture.h: an update run under fault, seen from outside.
//
// Every case starts from the same old client (folder client/, with _settings.ini), a new
// source published behind the loopback test server, a hosts file (etc/hosts) and a
// sentinel folder beside the client that nothing may touch. velmoran-cli runs as a process,
// possibly under strace's fault injection. Before and after, every one of those files is
// recorded by SHA-256, and the case states which of them must then be the new version;
// all others must be the old one, whole.
#pragma once

#include "tests/fixtures/TestServer.h"
#include "tests/support/Packing.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmoran::testing {

// SHA-256 of bytes, as lower-case hex.
std::string Sha256(std::string_view bytes);

// The strace program, or "" when it is missing or cannot trace here.
const std::string& StraceProgram();
// The environment a traced program needs in a sanitized build: LeakSanitizer stops the
// world with ptrace itself, which a tracer forbids, so leak checks are left out there.
std::pair<std::string, std::string> TracedSanitizerOptions();

// File name -> SHA-256. Names are "client/REL", "etc/NAME" (the hosts folder) and
// "sentinel/REL", with "/".
using Record = std::map<std::string, std::string>;
// File name -> "old", "new" or "other (N bytes)"; absent files are left out.
using States = std::map<std::string, std::string>;

// One file of the source.
struct SourceFile {
    std::string path; // client-relative, with "/"
    std::string content;
    bool critical;
};

class FaultTest : public TempDirTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // The old client and its settings, the hosts file and the sentinel, from scratch.
    void WriteClient();
    // The packed files and the list, as the source has them.
    void Publish();
    // The list text of the source: revision 2, the host mapping, every file.
    std::string ListText() const;
    // The entry line of a source file.
    std::string Entry(const SourceFile& file) const;
    // The bzip2 bytes the server holds for a source file.
    static std::string Packed(const SourceFile& file);
    const SourceFile& Source(std::string_view path) const;

    // Every recorded file now.
    Record Snapshot() const;
    // What each file now is, against the record taken by WriteClient and the source.
    States StatesNow() const;
    // The states when exactly the named files ("client/data/map.dat", "etc/hosts", ...) are
    // new and every other one is old; new source files that are not named are absent.
    States Expect(const std::set<std::string>& nowNew) const;
    // The files in states that are neither old nor new, and the recorded files that are
    // gone, apart from the leftovers an interrupted run may leave behind.
    std::vector<std::string> Damaged(const States& states) const;
    // Whether a name is such a leftover: a temporary file (".NAME.XXXXXX") in the client
    // or hosts folder, a download (".bz2") or the list files.lst in the client.
    static bool IsLeftover(std::string_view name);

    // velmoran-cli in the client folder, with the test's hosts folder and short time-outs;
    // with a wrapper (strace and its options) in front when one is given.
    ProcessResult Cli(const std::vector<std::string>& args = {},
                      const std::vector<std::string>& wrapper = {},
                      std::chrono::seconds timeout = std::chrono::seconds(60)) const;

    // strace options that inject action ("signal=KILL", "error=ENOSPC") into the
    // invocations `when` (strace's syntax: "3", "3+") of each syscall of the set, counted
    // per thread, and trace nothing else.
    static std::vector<std::string> Inject(const std::string& syscalls, const std::string& action,
                                           const std::string& when);

    std::string SettingsText(int atRevision) const;
    std::string Url() const { return server->Url(); }

    std::string client = dir / "client/";
    std::string serverRoot = dir / "server/";
    std::string sentinel = dir / "sentinel/";
    std::string hostsDir = dir / "etc/";
    std::unique_ptr<TestServer> server;

    // The source, in list order; game.dat comes first in the download queue.
    std::vector<SourceFile> source;
    // The old client's files (client-relative, "/"), without _settings.ini.
    std::map<std::string, std::string> oldFiles;
    std::string oldHosts = "127.0.0.1 localhost\n# the player's own line\n";
    std::string newHosts;
    // The record taken when the old client was written.
    Record before;
    // What every file is after a complete run.
    Record after;
};

} // namespace velmoran::testing
