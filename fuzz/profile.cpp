// The INI reader over any file, and a write read back: after setting a key, the reader
// gives its value, whatever else the file holds.
//
// Input: the section name up to the first line break, the key up to the second, then
// the file's content.
#include "platform/Profile.h"

#include "fuzz/ScratchFolder.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Names the writer can place so that a reader finds them again: no line breaks, no "=",
// no brackets or comment mark, no blanks at the ends.
bool PlainName(std::string_view name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ') {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '.' || c == ' ';
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const velmoran::fuzz::ScratchFolder folder;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t first = input.find('\n');
    if (first == std::string_view::npos) {
        return 0;
    }
    const std::size_t second = input.find('\n', first + 1);
    if (second == std::string_view::npos) {
        return 0;
    }
    const std::string_view section = input.substr(0, first);
    const std::string_view key = input.substr(first + 1, second - first - 1);
    const std::string file = folder.Write("_settings.ini", data + second + 1, size - second - 1);

    const std::string value = velmoran::platform::ReadProfileString(section, key, "\x01", file);
    // The value is trimmed of blanks and never runs past its line.
    if (value != "\x01" && (value.find('\n') != std::string::npos ||
                            (!value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                                value.back() == ' ' || value.back() == '\t')))) {
        __builtin_trap();
    }

    if (PlainName(section) && PlainName(key)) {
        if (!velmoran::platform::WriteProfileString(section, key, "fuzz value", file) ||
            velmoran::platform::ReadProfileString(section, key, "", file) != "fuzz value") {
            __builtin_trap();
        }
    }
    return 0;
}
