// velmoran-serve: what it answers, what it refuses, its log, its port and how it ends.
#include "tests/e2e/Tools.h"
#include "tests/support/Packing.h"
#include "tests/support/TempDir.h"

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

namespace velmoran::testing {
namespace {

namespace fs = std::filesystem;

// Sends one request exactly as written (no client rewrites the path) and gives the whole
// answer as it came.
std::string Exchange(int port, const std::string& request) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(sock);
        return "";
    }
    [[maybe_unused]] const ssize_t sent = ::send(sock, request.data(), request.size(), 0);
    std::string answer;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(sock, buffer, sizeof buffer, 0)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(sock);
    return answer;
}

int PortOf(const std::string& url) {
    std::smatch match;
    return std::regex_search(url, match, std::regex(":([0-9]+)/$")) ? std::stoi(match[1]) : -1;
}

class ServeTest : public TempDirTest {
protected:
    std::string root = dir / "site/";
};

TEST_F(ServeTest, AnswersGetAndHeadFromItsFolderOnly) {
    const std::string big = RandomBytes(3 << 20);
    WriteFile(root + "a.txt", "alpha");
    WriteFile(root + "sub/b.bin", big);
    WriteFile(dir / "secret/s.txt", "outside");
    fs::create_symlink(root + "a.txt", root + "link-in.txt");
    fs::create_symlink(dir / "secret", root + "link-out");

    ServeProcess server(root, dir / "serve.log");
    const int port = PortOf(server.Url());
    ASSERT_GT(port, 0) << server.Banner();
    struct Case {
        const char* method;
        const char* target;
        int status;
        const std::string* body; // checked when given
    };
    const std::string alpha = "alpha";
    const std::string empty;
    const Case cases[] = {
        {"GET", "/a.txt", 200, &alpha},
        {"HEAD", "/a.txt", 200, &empty},
        {"GET", "/sub/b.bin", 200, &big},
        {"GET", "/link-in.txt", 200, &alpha},
        {"GET", "/sub/../a.txt", 403, nullptr},
        {"GET", "/../secret/s.txt", 403, nullptr},
        {"GET", "/%2e%2e/secret/s.txt", 403, nullptr},
        {"GET", "/sub/..%2f..%2fsecret/s.txt", 403, nullptr},
        {"GET", "/link-out/s.txt", 403, nullptr},
        {"GET", "/missing.txt", 404, nullptr},
        {"GET", "/sub", 404, nullptr},
        {"GET", "/", 404, nullptr},
        {"POST", "/a.txt", 405, nullptr},
        {"PUT", "/a.txt", 405, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const std::string answer =
            Exchange(port, std::string(c.method) + " " + c.target +
                               " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n"
                               "Connection: close\r\n\r\n");
        ASSERT_EQ(answer.substr(0, 12), "HTTP/1.1 " + std::to_string(c.status));
        const auto headerEnd = answer.find("\r\n\r\n");
        ASSERT_NE(headerEnd, std::string::npos);
        if (c.body != nullptr) {
            EXPECT_TRUE(answer.substr(headerEnd + 4) == *c.body);
        }
        if (std::string(c.method) == "HEAD") {
            EXPECT_NE(answer.find("Content-Length: 5\r\n"), std::string::npos) << answer;
        }
    }

    const auto log = server.Stop();
    EXPECT_EQ(server.ExitCode(), 0);
    ASSERT_GE(log.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string start = std::string(cases[i].method) + " " + cases[i].target + " " +
                                  std::to_string(cases[i].status) + " ";
        EXPECT_EQ(log[i].substr(0, start.size()), start) << log[i];
    }
    EXPECT_EQ(log[0], "GET /a.txt 200 5");
    EXPECT_EQ(log[1], "HEAD /a.txt 200 0");
    EXPECT_EQ(log[2], "GET /sub/b.bin 200 " + std::to_string(big.size()));
}

TEST_F(ServeTest, PortsAddressesAndEnding) {
    WriteFile(root + "a.txt", "alpha");
    int port = 0;
    {
        ServeProcess server(root, dir / "first.log");
        EXPECT_TRUE(std::regex_match(server.Banner(), std::regex("Serving " + root +
                                                                 " at http://127\\.0\\.0\\.1:"
                                                                 "[0-9]+/")))
            << server.Banner();
        port = PortOf(server.Url());
        server.Stop();
        EXPECT_EQ(server.ExitCode(), 0) << "SIGTERM";
    }
    // The port asked for, and a second server that cannot have it too.
    ServeProcess fixed(root, dir / "fixed.log", {"--port", std::to_string(port)});
    EXPECT_EQ(PortOf(fixed.Url()), port) << fixed.Banner();
    EXPECT_NE(Exchange(port, "GET /a.txt HTTP/1.1\r\nConnection: close\r\n\r\n").find("alpha"),
              std::string::npos);
    const auto busy = RunProcess({VELMORAN_SERVE, root, "--port", std::to_string(port)}, root);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1 port " + std::to_string(port)),
              std::string::npos)
        << busy.err;

    // Another address only when asked, with a warning that others can read the folder.
    ServeProcess other(root, dir / "other.log", {"--bind", "127.0.0.2"});
    EXPECT_TRUE(
        std::regex_match(other.Banner(), std::regex(".* at http://127\\.0\\.0\\.2:[0-9]+/")))
        << other.Banner();
    const auto warning = other.Stop();
    ASSERT_FALSE(warning.empty());
    EXPECT_NE(warning.front().find("other computers can read"), std::string::npos);

    Child interrupted({VELMORAN_SERVE, root}, root, dir / "int.log");
    std::string banner;
    ASSERT_TRUE(interrupted.ReadLine(banner, std::chrono::seconds(10)));
    EXPECT_EQ(interrupted.Stop(SIGINT), 0);

    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* err;
    };
    const Case cases[] = {
        {{dir / "missing"}, 1, "is not a folder"},
        {{root, "--port", "70000"}, 2, "--port needs 0 to 65535"},
        {{root, "--port"}, 2, "--port needs a value"},
        {{root, "--bogus"}, 2, "unknown option --bogus"},
        {{}, 2, "Usage: velmoran-serve DIR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        std::vector<std::string> argv{VELMORAN_SERVE};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const auto result = RunProcess(argv, root, {}, std::chrono::seconds(10));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
}

} // namespace
} // namespace velmoran::testing
