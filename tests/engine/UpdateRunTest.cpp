// The update run from the list download to the stored revision: notifications in order,
// the files left in the client folder, the revision stored.
#include "tests/engine/UpdateRunFixture.h"

#include <gtest/gtest.h>

namespace velmoran::testing {
namespace {

using Events = std::vector<std::string>;

class UpdateRun : public UpdateRunTest {
protected:
    // The unpack of the list sets the file gauge to the packed list's size.
    std::string ListMax() const {
        return "max0:" + std::to_string(platform::FileSize(serverRoot + "files.lst.bz2"));
    }
    bool ListFilesLeft() const {
        return platform::FileExists(client + "files.lst") ||
               platform::FileExists(client + "files.lst.bz2");
    }
};

TEST_F(UpdateRun, ANewerListIsStoredAndAnEmptyOneEndsWithAnEmptyStatus) {
    PublishList({.rev = "5"});
    for (const std::string& url :
         {server->Url(), server->Url().substr(0, server->Url().size() - 1)}) {
        SCOPED_TRACE(url);
        const auto outcome = Run({.url = url});
        EXPECT_EQ(outcome.events, (Events{"lock", "status:Downloading updates list",
                                          "status:", ListMax(), "rev:5", "status:", "unlock"}));
        EXPECT_FALSE(ListFilesLeft());
    }
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/files.lst.bz2");
    EXPECT_EQ(requests[1].path, "/files.lst.bz2") << "with and without the trailing slash";
    EXPECT_EQ(requests[0].Header("User-Agent"), "RkClientUpdater");
}

TEST_F(UpdateRun, TheRevisionNeverGoesDown) {
    struct Case {
        const char* rev;
        int atRevision;
        bool stored;
    };
    for (const Case& c : {Case{"12", 10, true}, Case{"10", 10, false}, Case{"9", 10, false}}) {
        SCOPED_TRACE(c.rev);
        PublishList({.rev = c.rev});
        const auto outcome = Run({.atRevision = c.atRevision});
        const bool stored = std::find(outcome.events.begin(), outcome.events.end(),
                                      std::string("rev:") + c.rev) != outcome.events.end();
        EXPECT_EQ(stored, c.stored);
        EXPECT_TRUE(outcome.Unlocked());
    }
}

TEST_F(UpdateRun, SettingsThatAreNoNumbersEndTheRunQuietlyAndKeepTheList) {
    struct Case {
        const char* what;
        ListSpec list;
    };
    const Case cases[] = {
        {"no Rev line", {.rev = ""}},
        {"Rev not a number", {.rev = "twelve"}},
        {"ModHosts not a number", {.rev = "3", .modHosts = "yes"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PublishList(c.list);
        const auto outcome = Run();
        EXPECT_FALSE(outcome.Unlocked()) << "no final notifications";
        EXPECT_EQ(outcome.events.back(), ListMax());
        EXPECT_NE(outcome.fatal.find("is not a valid integer value"), std::string::npos);
        EXPECT_TRUE(platform::FileExists(client + "files.lst")) << "the error came before step 17";
        platform::DeleteFile(client + "files.lst");
    }
}

TEST_F(UpdateRun, ModHostsOtherThanOneSkipsTheHostsStage) {
    WriteFile(hostsDir + "hosts", "127.0.0.1\tlocalhost\r\n");
    for (const char* value : {"0", "2"}) {
        SCOPED_TRACE(value);
        PublishList({.rev = "1", .modHosts = value, .hosts = {"10.0.0.1|game.example"}});
        const auto outcome = Run();
        EXPECT_TRUE(outcome.Unlocked());
        EXPECT_EQ(ReadFile(hostsDir + "hosts"), "127.0.0.1\tlocalhost\r\n");
    }
}

TEST_F(UpdateRun, AListThatCannotBeHadFailsAndLeavesNoListBehind) {
    const std::string list = Bzip2(ListText({.rev = "5"}));
    const Events failedAtOnce{"lock", "status:Downloading updates list", "status:Update Failed",
                              "unlock"};
    const Events failedOnUnpack{"lock",
                                "status:Downloading updates list",
                                "status:",
                                "status:Update Failed",
                                "status:Update Failed",
                                "unlock"};
    struct Case {
        const char* what;
        Reply reply;
        Events expected;
    };
    const Case cases[] = {
        {"404", Reply::Status(404, "<html>not found</html>"), failedOnUnpack},
        {"500", Reply::Status(500, list), failedOnUnpack},
        {"cut short with Content-Length",
         Reply::Truncated(list, list.size() / 2, Framing::ContentLength), failedOnUnpack},
        {"cut short, chunked", Reply::Truncated(list, list.size() / 2, Framing::Chunked),
         failedOnUnpack},
        {"stalled after the headers", Reply::Stall(list, 10), failedOnUnpack},
        {"connection dropped", Reply::Drop(), failedAtOnce},
        {"redirect loop", Reply::Redirect("/files.lst.bz2"), failedAtOnce},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(client + "files.lst", "leftover of an earlier run");
        server->Script("/files.lst.bz2", c.reply);
        const auto outcome = Run({.atRevision = 1});
        EXPECT_EQ(outcome.events, c.expected);
        EXPECT_FALSE(ListFilesLeft());
    }
}

TEST_F(UpdateRun, AListThatIsNoWholeBzip2FailsOnUnpack) {
    const std::string list = Bzip2(ListText({.rev = "5"}));
    struct Case {
        const char* what;
        std::string body;
    };
    const Case cases[] = {
        {"an HTML page with status 200", "<html><body>Server error</body></html>"},
        {"bzip2 cut short (complete transfer)", list.substr(0, list.size() - 10)},
        {"one byte flipped",
         [&] {
             std::string bad = list;
             bad[bad.size() / 2] ^= 0x55;
             return bad;
         }()},
        {"two streams", list + list},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        server->Script("/files.lst.bz2", Reply::Body(c.body));
        const auto outcome = Run();
        ASSERT_GE(outcome.events.size(), 4u);
        EXPECT_EQ(outcome.events[2], "status:");
        EXPECT_EQ(outcome.FinalStatus(), "Update Failed");
        EXPECT_TRUE(outcome.Unlocked());
        EXPECT_EQ(std::count(outcome.events.begin(), outcome.events.end(), "status:Update Failed"),
                  2);
        EXPECT_FALSE(ListFilesLeft());
    }
}

TEST_F(UpdateRun, NoAddressAndNoServerFailWithoutAList) {
    const Events expected{"lock", "status:Downloading updates list", "status:Update Failed",
                          "unlock"};
    const std::string deadPort = [] {
        TestServer gone;
        return gone.Url();
    }();
    for (const std::string& url : {std::string(" "), deadPort}) {
        SCOPED_TRACE(url);
        const auto outcome = Run({.url = url == " " ? std::string() : url});
        EXPECT_EQ(outcome.events, expected);
    }
    EXPECT_TRUE(server->Requests().empty()) << "an empty address asks no server";
}

TEST_F(UpdateRun, AnErrorOfTheHostEndsTheRun) {
    class FailingHost : public RecordingHost {
    public:
        void StoreRevision(const std::string&) override {
            throw platform::Exception("Unable to write to _settings.ini");
        }
    };
    PublishList({.rev = "5"});
    // Runs with a host that refuses to store the revision.
    const std::string before = platform::GetCurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(client));
    auto dispatcher = std::make_shared<platform::QueueDispatcher>();
    platform::InstallDispatcher(dispatcher);
    FailingHost host;
    bool ended = false;
    std::string fatal;
    auto* run = new GFilesThread(host);
    run->FreeOnTerminate = true;
    run->UpdateUrl = server->Url();
    run->OnTerminate = [&](platform::Thread& t) {
        ended = true;
        try {
            std::rethrow_exception(t.FatalException());
        } catch (const std::exception& e) {
            fatal = e.what();
        }
    };
    run->Resume();
    dispatcher->RunUntil([&] { return ended; });
    dispatcher->Shutdown();
    platform::InstallDispatcher(nullptr);
    ASSERT_TRUE(platform::SetCurrentDir(before));
    EXPECT_EQ(fatal, "Unable to write to _settings.ini");
    EXPECT_NE(host.events.back(), "unlock");
}

} // namespace
} // namespace velmoran::testing
