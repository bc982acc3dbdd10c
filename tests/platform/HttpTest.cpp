// HttpTest.cpp: HttpGet against the scripted loopback server.
#include "platform/Http.h"

#include "tests/fixtures/TestServer.h"
#include "tests/support/TempDir.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmoran::platform {
namespace {

using namespace std::chrono_literals;
using testing::Framing;
using testing::Reply;
using testing::TestServer;
using Clock = std::chrono::steady_clock;

// Sets or removes an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator());
    }
    return bytes;
}

// A loopback port that refuses connections: bound, so nobody else takes it, but not listening.
class RefusingPort {
public:
    RefusingPort() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (socket_ < 0 ||
            ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (socket_ >= 0) {
                ::close(socket_);
            }
            throw std::runtime_error("cannot bind a loopback port");
        }
        port_ = ntohs(address.sin_port);
    }
    ~RefusingPort() { ::close(socket_); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    int socket_;
    int port_ = 0;
};

struct Download {
    HttpResult result;
    std::string body;
    std::size_t largestPiece = 0;
};

Download Fetch(const std::string& url, const HttpOptions& options) {
    Download download;
    download.result = HttpGet(
        url,
        [&](const char* data, std::size_t size) {
            download.body.append(data, size);
            download.largestPiece = std::max(download.largestPiece, size);
        },
        options);
    return download;
}

class HttpTest : public testing::TempDirTest {
protected:
    HttpTest() {
        options.connectTimeoutSeconds = 2;
        options.stallTimeoutSeconds = 1;
    }

    Download Get(const std::string& path) { return Fetch(server.Url() + path, options); }

    // A proxy from the environment would take the loopback requests elsewhere.
    ScopedEnv noHttpProxy{"http_proxy", nullptr};
    ScopedEnv noHttpsProxy{"https_proxy", nullptr};
    ScopedEnv noHttpsProxyUpper{"HTTPS_PROXY", nullptr};
    ScopedEnv noAllProxy{"all_proxy", nullptr};
    ScopedEnv noAllProxyUpper{"ALL_PROXY", nullptr};
    TestServer server{dir.Path()};
    HttpOptions options;
};

TEST_F(HttpTest, SendsAPlainGetWithOnlyHostAndAgent) {
    testing::WriteFile(dir / "files.lst.bz2", "list");

    const Download download = Get("files.lst.bz2");

    EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
    EXPECT_EQ(download.body, "list");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/files.lst.bz2");
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(requests[0].headers, (Headers{{"Host", "127.0.0.1:" + std::to_string(server.Port())},
                                            {"User-Agent", "RkClientUpdater"}}));
}

TEST_F(HttpTest, SpacesAndBytesBeyondAsciiArePercentEncoded) {
    struct Case {
        std::string file;   // on the server's disk
        std::string path;   // in the address asked for
        std::string target; // on the wire
    };
    for (const Case& c : {Case{"sub dir/a b.bz2", "sub dir/a b.bz2", "/sub%20dir/a%20b.bz2"},
                          Case{"caf\xE9.bz2", "caf\xE9.bz2", "/caf%E9.bz2"},
                          // A '%' is the start of an escape the caller made already.
                          Case{"xA.bz2", "x%41.bz2", "/x%41.bz2"}}) {
        SCOPED_TRACE(c.path);
        testing::WriteFile(dir / c.file, "payload");
        const Download download = Get(c.path);
        EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
        EXPECT_EQ(download.body, "payload");
        EXPECT_EQ(server.Requests().back().target, c.target);
    }
}

TEST_F(HttpTest, EveryCallAsksTheServerAgain) {
    testing::WriteFile(dir / "a.bz2", "old");
    EXPECT_EQ(Get("a.bz2").body, "old");

    testing::WriteFile(dir / "a.bz2", "new");
    EXPECT_EQ(Get("a.bz2").body, "new");
    server.Script("/a.bz2", Reply::Body("scripted"));
    EXPECT_EQ(Get("a.bz2").body, "scripted");
    EXPECT_EQ(server.Requests().size(), 3u);
}

TEST_F(HttpTest, LargeFileArrivesWholeInPiecesOfAtMostOneKiB) {
    const std::string file = RandomBytes(3 * 1024 * 1024 + 123, 7);
    testing::WriteFile(dir / "big.bin", file);

    const Download download = Get("big.bin");

    EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
    EXPECT_EQ(download.result.bytes, static_cast<std::int64_t>(file.size()));
    EXPECT_TRUE(download.body == file);
    EXPECT_EQ(download.largestPiece, kHttpPieceSize);
}

TEST_F(HttpTest, CompleteBodyInEveryFraming) {
    const std::string body = RandomBytes(40000, 3);
    for (const Framing framing : {Framing::ContentLength, Framing::Chunked, Framing::Close}) {
        SCOPED_TRACE(static_cast<int>(framing));
        server.Script("/f", Reply::Body(body, framing));
        const Download download = Get("f");
        EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
        EXPECT_TRUE(download.body == body);
        EXPECT_LE(download.largestPiece, kHttpPieceSize);
    }
}

TEST_F(HttpTest, ErrorAnswersAreOpenedWithTheirStatusAndBody) {
    struct Case {
        int status;
        std::string body;
    };
    for (const Case& c : {Case{404, "no such file"}, Case{500, "server broke"},
                          Case{403, std::string(3000, 'x')}}) {
        SCOPED_TRACE(c.status);
        server.Script("/e", Reply::Status(c.status, c.body));
        const Download download = Get("e");
        EXPECT_TRUE(download.result.opened);
        EXPECT_TRUE(download.result.complete) << download.result.error;
        EXPECT_EQ(download.result.status, c.status);
        EXPECT_FALSE(download.result.Succeeded());
        EXPECT_EQ(download.body, c.body);
    }

    const Download missing = Get("not-there.bz2");
    EXPECT_TRUE(missing.result.opened);
    EXPECT_EQ(missing.result.status, 404);
    EXPECT_FALSE(missing.result.Succeeded());
}

TEST_F(HttpTest, BodyCutShortIsIncomplete) {
    const std::string body = RandomBytes(40000, 5);
    struct Case {
        const char* name;
        Framing framing;
        std::size_t sent;
    };
    for (const Case& c : {Case{"length, inside", Framing::ContentLength, 1000},
                          Case{"length, nothing", Framing::ContentLength, 0},
                          Case{"length, one short", Framing::ContentLength, body.size() - 1},
                          Case{"chunked, inside a chunk", Framing::Chunked, 1000},
                          Case{"chunked, at a chunk's end", Framing::Chunked, 16 * 1024},
                          Case{"chunked, no closing chunk", Framing::Chunked, body.size()}}) {
        SCOPED_TRACE(c.name);
        server.Script("/cut", Reply::Truncated(body, c.sent, c.framing));
        const Download download = Get("cut");
        EXPECT_TRUE(download.result.opened);
        EXPECT_EQ(download.result.status, 200);
        EXPECT_FALSE(download.result.complete);
        EXPECT_FALSE(download.result.Succeeded());
        EXPECT_FALSE(download.result.error.empty());
        EXPECT_EQ(download.result.bytes, static_cast<std::int64_t>(c.sent));
        EXPECT_TRUE(download.body == body.substr(0, c.sent));
    }
}

TEST_F(HttpTest, SilenceEndsTheTransferAfterTheStallTimeout) {
    server.Script("/after-headers", Reply::Stall(std::string(5000, 's'), 100));
    server.Script("/no-answer", Reply::Silence());
    // Far above the stall time-out, so that only the stall can end the transfers.
    options.connectTimeoutSeconds = 20;

    struct Case {
        const char* path;
        bool opened;
        std::int64_t bytes;
    };
    for (const Case& c : {Case{"after-headers", true, 100}, Case{"no-answer", false, 0}}) {
        SCOPED_TRACE(c.path);
        const auto start = Clock::now();
        const Download download = Get(c.path);
        const auto elapsed = Clock::now() - start;

        EXPECT_EQ(download.result.opened, c.opened);
        EXPECT_FALSE(download.result.complete);
        EXPECT_EQ(download.result.bytes, c.bytes);
        EXPECT_FALSE(download.result.error.empty());
        // One second of silence is allowed; libcurl looks about once a second.
        EXPECT_GE(elapsed, 1s);
        EXPECT_LT(elapsed, 5s);
    }
}

TEST_F(HttpTest, SlowButSteadyTransferOutlastsTheStallTimeout) {
    server.Script("/drip", Reply::Drip("abcde", 300ms));

    const Download download = Get("drip");

    EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
    EXPECT_EQ(download.body, "abcde");
}

TEST_F(HttpTest, UnreachableAddressesAreNotOpened) {
    const RefusingPort refusing;
    const std::string refused = refusing.Url() + "x";
    server.Script("/drop", Reply::Drop());
    options.connectTimeoutSeconds = 10;

    for (const std::string& url :
         {refused, server.Url() + "drop", std::string("ftp://127.0.0.1:1/x"), std::string()}) {
        SCOPED_TRACE(url);
        const auto start = Clock::now();
        const Download download = Fetch(url, options);
        EXPECT_FALSE(download.result.opened);
        EXPECT_EQ(download.result.status, 0);
        EXPECT_FALSE(download.result.complete);
        EXPECT_FALSE(download.result.error.empty());
        EXPECT_EQ(download.result.bytes, 0);
        // Refused at once, not after waiting for the connect time-out.
        EXPECT_LT(Clock::now() - start, 5s);
    }
}

TEST_F(HttpTest, RedirectsAreFollowedWithinTheLimit) {
    testing::WriteFile(dir / "target.bz2", "arrived");
    testing::WriteFile(dir / "secret.txt", "local file");
    server.Script("/r301", Reply::Redirect("/target.bz2", 301));
    server.Script("/r302", Reply::Redirect(server.Url() + "target.bz2", 302));
    server.Script("/r307", Reply::Redirect("/target.bz2", 307));
    server.Script("/chain2", Reply::Redirect("/r302"));
    server.Script("/chain3", Reply::Redirect("/chain2"));
    server.Script("/loop", Reply::Redirect("/loop"));
    const RefusingPort refusing;
    server.Script("/dead", Reply::Redirect(refusing.Url() + "x"));
    server.Script("/file", Reply::Redirect("file://" + (dir / "secret.txt")));
    options.maxRedirects = 2;

    // chain3 needs three redirects; a redirect to file:// must never read the local file.
    struct Case {
        const char* path;
        bool opened;
    };
    for (const Case& c :
         {Case{"r301", true}, Case{"r302", true}, Case{"r307", true}, Case{"chain2", true},
          Case{"chain3", false}, Case{"loop", false}, Case{"dead", false}, Case{"file", false}}) {
        SCOPED_TRACE(c.path);
        const Download download = Get(c.path);
        EXPECT_EQ(download.result.opened, c.opened);
        EXPECT_EQ(download.result.Succeeded(), c.opened) << download.result.error;
        EXPECT_EQ(download.body, c.opened ? "arrived" : "");
        EXPECT_EQ(download.result.status, c.opened ? 200 : 0);
    }
}

TEST_F(HttpTest, RedirectLoopStopsAtTheLimit) {
    server.Script("/loop", Reply::Redirect("/loop"));

    const Download download = Get("loop");

    EXPECT_FALSE(download.result.opened);
    EXPECT_FALSE(download.result.complete);
    EXPECT_EQ(server.Requests().size(), static_cast<std::size_t>(options.maxRedirects) + 1);
}

TEST_F(HttpTest, ThrowingSinkAbortsAndTheExceptionComesOut) {
    testing::WriteFile(dir / "big.bin", RandomBytes(4 * 1024 * 1024, 11));
    int calls = 0;
    const auto throwing = [&](const char*, std::size_t) {
        ++calls;
        throw std::runtime_error("disk full");
    };

    try {
        HttpGet(server.Url() + "big.bin", throwing, options);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_EQ(calls, 1);
}

TEST_F(HttpTest, ProxyFromTheEnvironmentIsUsed) {
    TestServer proxy;
    proxy.Script("/file.bz2", Reply::Body("from the proxy"));
    const ScopedEnv viaProxy("http_proxy", proxy.Url().c_str());
    const ScopedEnv noBypass("no_proxy", nullptr);
    const ScopedEnv noBypassUpper("NO_PROXY", nullptr);
    const RefusingPort refusing;

    // The address itself refuses connections: only the proxy can answer.
    const Download download = Fetch(refusing.Url() + "file.bz2", options);

    EXPECT_TRUE(download.result.Succeeded()) << download.result.error;
    EXPECT_EQ(download.body, "from the proxy");
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, refusing.Url() + "file.bz2");
    EXPECT_EQ(requests[0].Header("User-Agent"), "RkClientUpdater");
}

TEST_F(HttpTest, ServerStopsPromptlyWhileAnAnswerStalls) {
    auto stalling = std::make_unique<TestServer>();
    stalling->Script("/s", Reply::Stall(std::string(1000, 's'), 10));
    options.stallTimeoutSeconds = 60;
    Download download;
    std::thread client([&] { download = Fetch(stalling->Url() + "s", options); });
    ASSERT_TRUE(stalling->WaitForRequests(1, 5s));

    const auto start = Clock::now();
    stalling.reset();
    client.join();

    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_TRUE(download.result.opened);
    EXPECT_FALSE(download.result.complete);
    EXPECT_EQ(download.result.bytes, 10);
}

TEST(HttpOptionsTest, TimeoutsComeFromTheEnvironmentWhenValid) {
    struct Case {
        const char* connect;
        const char* stall;
        int expectConnect;
        int expectStall;
    };
    const HttpOptions builtIn;
    for (const Case& c :
         {Case{nullptr, nullptr, builtIn.connectTimeoutSeconds, builtIn.stallTimeoutSeconds},
          Case{"3", "7", 3, 7},
          Case{"0", "-2", builtIn.connectTimeoutSeconds, builtIn.stallTimeoutSeconds},
          Case{"5s", "", builtIn.connectTimeoutSeconds, builtIn.stallTimeoutSeconds},
          Case{"99999999999", "2", builtIn.connectTimeoutSeconds, 2}}) {
        SCOPED_TRACE(std::string(c.connect ? c.connect : "(unset)") + " / " +
                     (c.stall ? c.stall : "(unset)"));
        const ScopedEnv connect("VELMORAN_CONNECT_TIMEOUT", c.connect);
        const ScopedEnv stall("VELMORAN_STALL_TIMEOUT", c.stall);
        const HttpOptions options = DefaultHttpOptions();
        EXPECT_EQ(options.connectTimeoutSeconds, c.expectConnect);
        EXPECT_EQ(options.stallTimeoutSeconds, c.expectStall);
        EXPECT_EQ(options.maxRedirects, builtIn.maxRedirects);
    }
}

} // namespace
} // namespace velmoran::platform
