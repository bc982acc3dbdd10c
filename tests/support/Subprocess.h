// Subprocess.h: runs a program of ours as a separate process and collects what it printed.
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace velmoran::testing {

struct ProcessResult {
    int exitCode = -1; // -1 when it was killed by a signal or timed out
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv[0] with the arguments in folder, with extra environment variables added, and
// waits at most timeout for it (then it is killed).
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& folder,
                         const std::vector<std::pair<std::string, std::string>>& environment = {},
                         std::chrono::seconds timeout = std::chrono::seconds(60));

} // namespace velmoran::testing
