// What the network and the server can do to an update run: broken, wrong, slow and
// missing answers for the list and for a file.
#include "tests/faults/FaultFixture.h"
#include "tests/support/Packing.h"

#include <gtest/gtest.h>
#include <thread>

namespace velmoran::testing {
namespace {

using namespace std::chrono_literals;

const std::string kHtml = "<html><head><title>502 Bad Gateway</title></head><body>"
                          "<h1>Bad Gateway</h1></body></html>\n";

std::string Flipped(std::string bytes) {
    // Past the stream and block headers, inside the coded data.
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x10);
    return bytes;
}

std::string TwoStreams(std::string_view content) {
    const std::size_t half = content.size() / 2;
    return Bzip2(content.substr(0, half)) + Bzip2(content.substr(half));
}

// A scripted answer made from the bytes and the content the server should have sent.
using MakeReply = Reply (*)(const std::string& packed, const std::string& content);

struct ServerFault {
    const char* what;
    MakeReply reply;
    // Whether an answer arrives at all. One that does not (a redirect loop, no answer)
    // stops the queue at its entry; any other bad download fails only its own entry.
    bool opens = true;
    // The list has no digest: a list of the wrong content is read, and a text without its
    // settings ends the run with an error, leaving files.lst for a look at what came.
    int listExitCode = 1;
};

const ServerFault kFaults[] = {
    {"cut at half with Content-Length",
     [](const std::string& p, const std::string&) {
         return Reply::Truncated(p, p.size() / 2, Framing::ContentLength);
     }},
    {"cut at half, chunked",
     [](const std::string& p, const std::string&) {
         return Reply::Truncated(p, p.size() / 2, Framing::Chunked);
     }},
    {"cut at half without Content-Length",
     [](const std::string& p, const std::string&) {
         return Reply::Truncated(p, p.size() / 2, Framing::Close);
     }},
    {"404", [](const std::string&, const std::string&) { return Reply::Status(404, kHtml); }},
    {"500", [](const std::string&, const std::string&) { return Reply::Status(500, kHtml); }},
    {"redirect loop",
     [](const std::string&, const std::string&) { return Reply::Redirect("/loop"); }, false},
    {"HTML page with 200",
     [](const std::string&, const std::string&) { return Reply::Body(kHtml); }},
    {"right bzip2 of the wrong content",
     [](const std::string&, const std::string&) { return Reply::Body(Bzip2(kHtml)); }, true, 2},
    {"one byte flipped",
     [](const std::string& p, const std::string&) { return Reply::Body(Flipped(p)); }},
    {"two bzip2 streams",
     [](const std::string&, const std::string& c) { return Reply::Body(TwoStreams(c)); }},
    {"stops after the headers",
     [](const std::string& p, const std::string&) { return Reply::Stall(p, 0); }},
    {"stops half way",
     [](const std::string& p, const std::string&) { return Reply::Stall(p, p.size() / 2); }},
    {"drips a byte a second",
     [](const std::string& p, const std::string&) { return Reply::Drip(p, 1000ms); }},
    {"never answers", [](const std::string&, const std::string&) { return Reply::Silence(); },
     false},
    {"drops the connection", [](const std::string&, const std::string&) { return Reply::Drop(); },
     false},
};

class ServerFaults : public FaultTest {
protected:
    void Script(const std::string& path, const ServerFault& fault, const std::string& packed,
                const std::string& content) {
        server->Script(path, fault.reply(packed, content));
        // The loop's own target redirects to itself.
        server->Script("/loop", Reply::Redirect("/loop"));
    }
};

// The list is what the run acts on: a list that is not whole and right changes nothing.
TEST_F(ServerFaults, ABadListChangesNothing) {
    for (const ServerFault& fault : kFaults) {
        SCOPED_TRACE(fault.what);
        WriteClient();
        const std::string list = ListText();
        Script("/files.lst.bz2", fault, Bzip2(list), list);

        const auto result = Cli({}, {}, 30s);

        ASSERT_FALSE(result.timedOut) << "the run must end within the stall time-out";
        EXPECT_EQ(result.exitCode, fault.listExitCode) << result.out << result.err;
        States states = StatesNow();
        if (fault.listExitCode == 2) {
            EXPECT_EQ(states.erase("client/files.lst"), 1u);
        }
        EXPECT_EQ(states, Expect({})) << result.out;
        server->Unscript("/files.lst.bz2");
    }
}

// A bad file fails its entry and leaves the installed file whole; the list's other files
// and stages go on. The revision is stored as after any completed run.
TEST_F(ServerFaults, ABadFileKeepsTheInstalledOne) {
    const SourceFile& game = Source("system/game.dat");
    for (const ServerFault& fault : kFaults) {
        SCOPED_TRACE(fault.what);
        WriteClient();
        Script("/system/game.dat.bz2", fault, Packed(game), game.content);

        const auto result = Cli({}, {}, 30s);

        ASSERT_FALSE(result.timedOut) << "the run must end within the stall time-out";
        EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
        std::set<std::string> nowNew = {"client/_settings.ini", "etc/hosts"};
        if (fault.opens) {
            nowNew.insert({"client/data/map.dat", "client/data/new.dat"});
        }
        EXPECT_EQ(StatesNow(), Expect(nowNew)) << result.out;

        // Once the server is right again, the update button's full check finishes the job.
        server->Unscript("/system/game.dat.bz2");
        const auto again = Cli({"--full"});
        EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
        EXPECT_EQ(StatesNow(),
                  Expect({"client/system/game.dat", "client/data/map.dat", "client/data/new.dat",
                          "client/_settings.ini", "etc/hosts"}));
    }
}

TEST_F(ServerFaults, NoServerAtAllChangesNothing) {
    const std::string deadUrl = [] {
        TestServer gone;
        return gone.Url();
    }();
    WriteFile(client + "_settings.ini", "[main]\r\nUpdatesUrl=" + deadUrl + "\r\nAtRevision=1\r\n");
    before = Snapshot();

    const auto result = Cli({}, {}, 30s);

    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(StatesNow(), Expect({}));
}

// The server answers the list, then goes away in the middle of the first file: that
// transfer breaks off and every later one finds nobody listening.
TEST_F(ServerFaults, AServerThatGoesAwayBetweenTheListAndTheFiles) {
    server->Script("/system/game.dat.bz2", Reply::Stall(Packed(Source("system/game.dat")), 1000));
    ProcessResult result;
    std::thread run([&] { result = Cli({}, {}, 30s); });
    const bool reached = server->WaitForRequests(2, 20s);
    server.reset();
    run.join();

    ASSERT_TRUE(reached) << result.out << result.err;
    EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
    EXPECT_EQ(StatesNow(), Expect({"client/_settings.ini", "etc/hosts"})) << result.out;

    // Back at another address: the full check finishes the job.
    server = std::make_unique<TestServer>(serverRoot);
    const std::string settings = "[main]\r\nUpdatesUrl=" + Url() + "\r\nAtRevision=2\r\n";
    WriteFile(client + "_settings.ini", settings);
    const auto again = Cli({"--full"});
    EXPECT_EQ(again.exitCode, 0) << again.out << again.err;
    after["client/_settings.ini"] = Sha256(settings);
    before.erase("client/_settings.ini");
    EXPECT_EQ(StatesNow(), Expect({"client/system/game.dat", "client/data/map.dat",
                                   "client/data/new.dat", "client/_settings.ini", "etc/hosts"}));
}

} // namespace
} // namespace velmoran::testing
