// ScratchFolder.h: a folder of the fuzzing process's own, for the readers that take a path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace velmoran::fuzz {

// Made on first use in /dev/shm (memory, so that synced writes cost nothing) or the
// temporary folder; removed when the process ends normally.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr ? base : "/tmp") + "/velmoran-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        path_ = pattern + "/";
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Replaces the file name in the folder with the bytes; gives its path.
    std::string Write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
        const std::string path = path_ + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
            std::perror(path.c_str());
            std::abort();
        }
        return path;
    }

private:
    std::string path_;
};

} // namespace velmoran::fuzz
