// Tools.cpp: background processes over fork and exec, and folder snapshots.
#include "tests/e2e/Tools.h"

#include "platform/Stream.h"
#include "tests/support/TempDir.h"
#include "updater/codecs/BZip2.h"
#include "updater/codecs/md5.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmoran::testing {

namespace fs = std::filesystem;

ProcessResult Publish(const std::vector<std::string>& args, const std::string& folder) {
    std::vector<std::string> argv{VELMORAN_PUBLISH};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, folder);
}

Child::Child(const std::vector<std::string>& argv, const std::string& folder,
             const std::string& errFile, const Environment& environment) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (err < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error("cannot create " + errFile);
    }
    try {
        pid_ = StartProcess(argv, folder, environment, out[1], err);
    } catch (...) {
        ::close(out[0]);
        ::close(out[1]);
        ::close(err);
        throw;
    }
    ::close(err);
    ::close(out[1]);
    out_ = out[0];
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) {
        ::close(out_);
    }
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (const auto newline = pending_.find('\n'); newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (out_ < 0 || left.count() <= 0) {
            return false;
        }
        pollfd fd{out_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t n = ::read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(out_);
            out_ = -1;
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

int Child::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (true) {
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Child::Stop(int signal, std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, signal);
    return Wait(timeout);
}

ServeProcess::ServeProcess(const std::string& folder, const std::string& log,
                           const std::vector<std::string>& extraArgs)
    : log_(log), child_(
                     [&] {
                         std::vector<std::string> argv{VELMORAN_SERVE, folder};
                         argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
                         return argv;
                     }(),
                     folder, log) {
    if (child_.ReadLine(banner_, std::chrono::seconds(10))) {
        const auto at = banner_.find(" at ");
        if (at != std::string::npos) {
            url_ = banner_.substr(at + 4);
        }
    }
}

std::vector<std::string> ServeProcess::Stop() {
    exitCode_ = child_.Stop(SIGTERM);
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(log_));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::map<std::string, std::string> ReadTree(const std::string& folder,
                                            const std::vector<std::string>& skip) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_directory()) {
            continue;
        }
        const std::string relative = fs::relative(entry.path(), folder).generic_string();
        if (std::find(skip.begin(), skip.end(), relative) == skip.end()) {
            files[relative] = ReadFile(entry.path().string());
        }
    }
    return files;
}

std::vector<std::string> GetPaths(const std::vector<std::string>& log) {
    std::vector<std::string> paths;
    for (const std::string& line : log) {
        std::istringstream words(line);
        std::string method;
        std::string target;
        words >> method >> target;
        if (method == "GET") {
            paths.push_back(target);
        }
    }
    return paths;
}

std::string Unpack(const std::string& packedPath) {
    platform::TFileStream in(packedPath, platform::TFileStream::Mode::OpenRead);
    TBZDecompressionStream unpacker(in);
    std::string data;
    char buffer[65536];
    while (const std::size_t got = unpacker.Read(buffer, sizeof buffer)) {
        data.append(buffer, got);
    }
    EXPECT_TRUE(unpacker.EndOfStream()) << packedPath;
    return data;
}

} // namespace velmoran::testing
