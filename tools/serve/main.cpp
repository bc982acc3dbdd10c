// velmoran-serve: serves a published folder read-only over HTTP, for the demo and the tests.
//
// Real deployments put the published folder on any static web server; this one exists so
// that an update can be tried on one computer without installing one. It listens on the
// loopback address unless told otherwise, answers GET and HEAD only, never serves
// anything outside its folder and logs one line per request on stderr.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace velmoran::serve {
namespace {

namespace fs = std::filesystem;

constexpr char kUsage[] = R"(Usage: velmoran-serve DIR [--port N] [--bind ADDRESS]

Serves the files under DIR read-only over HTTP (GET and HEAD) until it is interrupted
(Ctrl+C or SIGTERM). Prints "Serving DIR at http://ADDRESS:PORT/" once it listens, then
one line per request on stderr: method, path, status, body bytes.

  --port N        the port to listen on; 0 or none: a free port the system picks
  --bind ADDRESS  the address to listen on (default 127.0.0.1, this computer only);
                  any other address lets other computers read DIR
  --help          this text

For trying an update on one computer and for tests; a real update server is any static
web server that serves the folder velmoran-publish made.
)";

constexpr std::size_t kChunk = 64 * 1024;

std::atomic<bool> stopRequested{false};

extern "C" void OnSignal(int) {
    stopRequested = true;
}

struct Options {
    std::string dir;
    std::string bind = "127.0.0.1";
    int port = 0;
};

bool Inside(const fs::path& inner, const fs::path& outer) {
    auto i = inner.begin();
    for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
        if (i == inner.end() || *i != *o) {
            return false;
        }
    }
    return true;
}

struct Resolved {
    int status = 404;
    fs::path file;
};

// The file under root that a request path names. A ".." component and anything whose real
// location (symbolic links followed) is outside root are refused; folders are not served.
Resolved Resolve(const fs::path& root, const std::string& requestPath) {
    if (requestPath.empty() || requestPath.front() != '/' ||
        requestPath.find('\0') != std::string::npos ||
        requestPath.find('\\') != std::string::npos) {
        return {400, {}};
    }
    fs::path path = root;
    std::size_t begin = 1;
    while (begin <= requestPath.size()) {
        std::size_t end = requestPath.find('/', begin);
        if (end == std::string::npos) {
            end = requestPath.size();
        }
        const std::string part = requestPath.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            return {403, {}};
        }
        path /= part;
    }
    std::error_code error;
    const fs::path real = fs::canonical(path, error);
    if (error) {
        return {404, {}};
    }
    if (!Inside(real, root)) {
        return {403, {}};
    }
    if (!fs::is_regular_file(real, error)) {
        return {404, {}};
    }
    return {200, real};
}

std::string ContentType(const fs::path& file) {
    static const std::pair<const char*, const char*> types[] = {
        {".html", "text/html"},     {".htm", "text/html"},  {".css", "text/css"},
        {".js", "text/javascript"}, {".png", "image/png"},  {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},    {".gif", "image/gif"},  {".svg", "image/svg+xml"},
        {".txt", "text/plain"},     {".ini", "text/plain"},
    };
    const std::string extension = file.extension().string();
    for (const auto& [ext, type] : types) {
        if (extension == ext) {
            return type;
        }
    }
    return "application/octet-stream";
}

void Refuse(httplib::Response& res, int status) {
    const char* text = status == 403   ? "Forbidden\n"
                       : status == 400 ? "Bad Request\n"
                       : status == 405 ? "Method Not Allowed\n"
                                       : "Not Found\n";
    res.status = status;
    res.set_content(text, "text/plain");
}

void ServeFile(const fs::path& root, const httplib::Request& req, httplib::Response& res) {
    const Resolved resolved = Resolve(root, req.path);
    if (resolved.status != 200) {
        Refuse(res, resolved.status);
        return;
    }
    std::error_code error;
    const auto size = fs::file_size(resolved.file, error);
    auto in = std::make_shared<std::ifstream>(resolved.file, std::ios::binary);
    if (error || !*in) {
        Refuse(res, 403);
        return;
    }
    res.status = 200;
    // Streamed, so that a large file is never held in memory; a file that shrinks while it
    // is sent ends the connection early, which the client sees as a broken transfer.
    res.set_content_provider(static_cast<std::size_t>(size), ContentType(resolved.file),
                             [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 std::vector<char> buffer(std::min(length, kChunk));
                                 in->seekg(static_cast<std::streamoff>(offset));
                                 in->read(buffer.data(),
                                          static_cast<std::streamsize>(buffer.size()));
                                 const auto got = static_cast<std::size_t>(in->gcount());
                                 if (got == 0) {
                                     return false;
                                 }
                                 sink.write(buffer.data(), got);
                                 return true;
                             });
}

void Log(const httplib::Request& req, const httplib::Response& res) {
    std::string bytes = "0";
    if (req.method != "HEAD" && res.has_header("Content-Length")) {
        bytes = res.get_header_value("Content-Length");
    }
    // The target as sent keeps the line one word per field, whatever the path holds.
    std::fprintf(stderr, "%s %s %d %s\n", req.method.c_str(), req.target.c_str(), res.status,
                 bytes.c_str());
    std::fflush(stderr);
}

int Run(const Options& options) {
    std::error_code error;
    const fs::path root = fs::canonical(options.dir, error);
    if (error || !fs::is_directory(root)) {
        std::fprintf(stderr, "velmoran-serve: %s is not a folder\n", options.dir.c_str());
        return 1;
    }
    httplib::Server server;
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.method == "GET" || req.method == "HEAD") {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        res.set_header("Allow", "GET, HEAD");
        Refuse(res, 405);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get(".*", [&root](const httplib::Request& req, httplib::Response& res) {
        ServeFile(root, req, res);
    });
    server.set_logger(Log);
    // Headers and body go out in separate writes; without this a client that keeps the
    // connection open waits for a delayed acknowledgement on every answer.
    server.set_tcp_nodelay(true);
    // The library's default also sets SO_REUSEPORT, which lets a second server share a port
    // that is in use; a busy port must be an error instead.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
#else
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
#endif
    });

    int port = options.port;
    if (port == 0) {
        port = server.bind_to_any_port(options.bind);
    } else if (!server.bind_to_port(options.bind, port)) {
        port = -1;
    }
    if (port <= 0) {
        std::fprintf(stderr, "velmoran-serve: cannot listen on %s port %d\n", options.bind.c_str(),
                     options.port);
        return 1;
    }
    if (options.bind != "127.0.0.1" && options.bind != "::1" && options.bind != "localhost") {
        std::fprintf(stderr, "velmoran-serve: listening on %s: other computers can read %s\n",
                     options.bind.c_str(), options.dir.c_str());
    }
    const std::string host =
        options.bind.find(':') != std::string::npos ? "[" + options.bind + "]" : options.bind;
    std::printf("Serving %s at http://%s:%d/\n", options.dir.c_str(), host.c_str(), port);
    std::fflush(stdout);

    // stop() is not safe in a signal handler; a watcher calls it once a signal has come.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        while (!stopRequested && !done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        server.stop();
    });
    const bool listened = server.listen_after_bind();
    done = true;
    watcher.join();
    return listened || stopRequested ? 0 : 1;
}

int Main(int argc, char** argv) {
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--port" || arg == "--bind") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "velmoran-serve: %s needs a value\n", arg.c_str());
                return 2;
            }
            const std::string value = argv[++i];
            if (arg == "--bind") {
                options.bind = value;
                continue;
            }
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port < 0 || port > 65535) {
                std::fprintf(stderr, "velmoran-serve: --port needs 0 to 65535, not %s\n",
                             value.c_str());
                return 2;
            }
            options.port = static_cast<int>(port);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "velmoran-serve: unknown option %s\n", arg.c_str());
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 1) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    options.dir = positional[0];
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return Run(options);
}

} // namespace
} // namespace velmoran::serve

int main(int argc, char** argv) {
    return velmoran::serve::Main(argc, argv);
}
