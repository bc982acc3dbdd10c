// DigestAhead.cpp: a small pool that digests files in list order.
#include "updater/engine/DigestAhead.h"

#include "updater/codecs/md5.h"

#include <algorithm>

namespace velmoran {

TDigestAhead::TDigestAhead(std::vector<std::string> paths, unsigned workers)
    : paths_(std::move(paths)), digests_(paths_.size()) {
    const auto count = std::min<std::size_t>(std::max(workers, 1u), paths_.size());
    for (std::size_t i = 0; i < count; ++i) {
        workers_.emplace_back([this] { Work(); });
    }
}

TDigestAhead::~TDigestAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    for (auto& worker : workers_) {
        worker.join();
    }
}

void TDigestAhead::Work() {
    while (true) {
        std::size_t index;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || next_ >= paths_.size()) {
                return;
            }
            index = next_++;
        }
        // MD5HashFile never fails: an unreadable file digests as empty input.
        std::string digest =
            paths_[index].empty() ? std::string() : MD5ToHex(MD5HashFile(paths_[index]));
        std::lock_guard lock(mutex_);
        digests_[index] = std::move(digest);
        done_.notify_all();
    }
}

std::string TDigestAhead::Get(std::size_t index) {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return digests_[index].has_value(); });
    return *digests_[index];
}

} // namespace velmoran
