// Subprocess.h: runs a program of ours as a separate process and collects what it printed.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace velmoran::testing {

struct ProcessResult {
    int exitCode = -1; // -1 when it was killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// Starts argv[0] with the arguments in folder, with extra environment variables added,
// stdin from /dev/null and stdout and stderr on the given descriptors; the process id.
pid_t StartProcess(const std::vector<std::string>& argv, const std::string& folder,
                   const Environment& environment, int outFd, int errFd);

// Runs argv[0] as StartProcess does and waits at most timeout for it (then it is killed).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& folder,
                         const Environment& environment = {},
                         std::chrono::seconds timeout = std::chrono::seconds(60));

} // namespace velmoran::testing
