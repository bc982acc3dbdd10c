// Tools.h: the publishing tool, the loopback server and the updater run as processes, as an
// administrator and a player run them, and the folder comparisons the tests make.
#pragma once

#include "tests/support/Packing.h"
#include "tests/support/Subprocess.h"

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace velmoran::testing {

// velmoran-publish with the arguments, in folder.
ProcessResult Publish(const std::vector<std::string>& args, const std::string& folder);

// A program started in the background: stdout is a pipe this side reads, stderr goes to a
// file. The destructor kills it if it still runs.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& folder,
          const std::string& errFile, const Environment& environment = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const noexcept { return pid_; }
    // The next line of its stdout (without the newline); false after timeout or at the end.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
    // Sends signal and waits at most timeout; the exit code, or -1 when it did not exit
    // normally (it is killed then).
    int Stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the program to end by itself; the exit code as Stop gives it.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

// velmoran-serve over a folder, on a port it picks; stopped by SIGTERM.
class ServeProcess {
public:
    // log is the file its request log goes to.
    ServeProcess(const std::string& folder, const std::string& log,
                 const std::vector<std::string>& extraArgs = {});

    // "http://127.0.0.1:PORT/" as the server printed it; empty when it did not start.
    const std::string& Url() const noexcept { return url_; }
    const std::string& Banner() const noexcept { return banner_; }
    // Stops the server and gives its request log, one line per request. Once the server
    // has ended, every request it answered has been logged.
    std::vector<std::string> Stop();
    int ExitCode() const noexcept { return exitCode_; }

private:
    std::string log_;
    Child child_;
    std::string banner_;
    std::string url_;
    int exitCode_ = -1;
};

// Every file below folder with its content, by "/"-separated relative path; names in skip
// (relative paths) are left out.
std::map<std::string, std::string> ReadTree(const std::string& folder,
                                            const std::vector<std::string>& skip = {});

// The paths of the request log's GET lines ("/files.lst.bz2", ...), in order.
std::vector<std::string> GetPaths(const std::vector<std::string>& log);

// The content of a bzip2 file, unpacked by the updater's own decompression stream.
std::string Unpack(const std::string& packedPath);

} // namespace velmoran::testing
