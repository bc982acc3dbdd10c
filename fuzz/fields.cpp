// SplitFields, SearchText and the list path checks over any text, each against a plain
// restatement of what it must give.
//
// Input: byte 0 is SearchText's start, byte 1 the pattern's length (mod 16), then the
// pattern (also the delimiters), then the text.
#include "updater/engine/Misc.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t start = data[0];
    const std::size_t patternSize = std::min<std::size_t>(data[1] % 16, size - 2);
    const std::string_view pattern(reinterpret_cast<const char*>(data) + 2, patternSize);
    const std::string_view text(reinterpret_cast<const char*>(data) + 2 + patternSize,
                                size - 2 - patternSize);

    // The fields, last first, are the runs of text between delimiters, none empty.
    const velmoran::TStringList fields = velmoran::SplitFields(text, pattern);
    std::string joined;
    for (auto it = fields.rbegin(); it != fields.rend(); ++it) {
        if (it->empty() || (!pattern.empty() && it->find_first_of(pattern) != std::string::npos)) {
            __builtin_trap();
        }
        joined += *it;
    }
    std::string expected;
    for (const char c : text) {
        if (pattern.find(c) == std::string_view::npos) {
            expected += c;
        }
    }
    if (joined != expected) {
        __builtin_trap();
    }

    // The 1-based position of the first match at or after start; 0 for none.
    std::size_t found = 0;
    if (!pattern.empty() && start >= 1 && start - 1 <= text.size()) {
        const std::size_t at = text.find(pattern, start - 1);
        found = at == std::string_view::npos ? 0 : at + 1;
    }
    if (velmoran::SearchText(start, text, pattern) != found) {
        __builtin_trap();
    }

    if (velmoran::ReplaceAll(text, pattern, pattern) != text) {
        __builtin_trap();
    }
    // A self name is a list path, and a list path never climbs out or starts at the root.
    const bool safe = velmoran::IsSafeListPath(text);
    if (velmoran::IsSafeSelfName(text) && !safe) {
        __builtin_trap();
    }
    if (safe &&
        (text.front() == '/' || text.front() == '\\' || text == ".." || text.starts_with("..\\") ||
         text.starts_with("../") || text.find(':') != std::string_view::npos ||
         text.find("\\..\\") != std::string_view::npos ||
         text.find("/../") != std::string_view::npos)) {
        __builtin_trap();
    }
    return 0;
}
