// DigestAhead.h: file digests computed ahead, on every core, for a check that uses them in
// order.
//
// The file check shows each entry and compares its digest one after the other; hashing is
// what takes the time, so worker threads digest the next files meanwhile and the check
// only waits for the one it is at.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmoran {

class TDigestAhead {
public:
    // paths[i] is the file to digest for entry i; an empty path is skipped.
    TDigestAhead(std::vector<std::string> paths, unsigned workers);
    // Stops the workers after the files they are at and waits for them.
    ~TDigestAhead();
    TDigestAhead(const TDigestAhead&) = delete;
    TDigestAhead& operator=(const TDigestAhead&) = delete;

    // The digest text of paths[index] (MD5ToHex of MD5HashFile), once it is computed.
    std::string Get(std::size_t index);

private:
    void Work();

    std::vector<std::string> paths_;
    std::vector<std::optional<std::string>> digests_;
    std::size_t next_ = 0;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::thread> workers_;
};

} // namespace velmoran
