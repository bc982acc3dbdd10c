// Path.cpp: path text helpers.
#include "platform/Path.h"

namespace velmoran::platform {

std::string ToNativePath(std::string_view relative) {
    std::string native(relative);
    for (char& c : native) {
        if (c == '\\') {
            c = PathDelimiter;
        }
    }
    return native;
}

std::string JoinPath(std::string_view base, std::string_view relative) {
    std::string joined(base);
    joined += ToNativePath(relative);
    return joined;
}

std::string IncludeTrailingPathDelimiter(std::string_view folder) {
    std::string result(folder);
    if (result.empty() || result.back() != PathDelimiter) {
        result += PathDelimiter;
    }
    return result;
}

std::string ExtractFilePath(std::string_view path) {
    const auto cut = path.find_last_of(PathDelimiter);
    return cut == std::string_view::npos ? std::string() : std::string(path.substr(0, cut + 1));
}

std::string ExtractFileName(std::string_view path) {
    const auto cut = path.find_last_of(PathDelimiter);
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

} // namespace velmoran::platform
