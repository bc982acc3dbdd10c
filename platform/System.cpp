// System.cpp: file locations and address checks over POSIX.
#include "platform/System.h"

#include "platform/Files.h"

#include <arpa/inet.h>
#include <cstdlib>

namespace velmoran::platform {

std::optional<std::string> HostsFolder() {
    if (const char* folder = std::getenv("VELMORAN_HOSTS_DIR")) {
        if (*folder == '\0') {
            return std::nullopt;
        }
        std::string path(folder);
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        return path;
    }
    return std::string("/etc");
}

std::optional<std::string> HostsFilePath() {
    const auto folder = HostsFolder();
    if (!folder) {
        return std::nullopt;
    }
    const std::string msn = *folder + "/hosts.msn";
    return FileExists(msn) ? msn : *folder + "/hosts";
}

bool IsIpAddress(std::string_view text) {
    // The system's parser stops at a NUL byte; whatever follows it must not slip through
    // into a hosts line, so only the characters of addresses are let in at all.
    if (text.empty() || text.size() > 45 ||
        text.find_first_not_of("0123456789abcdefABCDEF.:") != std::string_view::npos) {
        return false;
    }
    const std::string address(text);
    unsigned char buffer[16];
    return inet_pton(AF_INET, address.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, address.c_str(), buffer) == 1;
}

} // namespace velmoran::platform
