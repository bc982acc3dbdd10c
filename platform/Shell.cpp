// Shell.cpp: folder deletion over the C++ file system library.
#include "platform/Shell.h"

#include <filesystem>

namespace velmoran::platform {

bool DeleteTree(const std::string& folder) {
    std::error_code error;
    // remove_all never follows a symbolic link: a link to a folder outside goes, its target stays.
    std::filesystem::remove_all(folder, error);
    return !error;
}

} // namespace velmoran::platform
