// The hosts stage's line handling over any hosts file and any mappings: the file's own
// lines are kept or switched off, never changed otherwise, and only well-formed mappings
// are added.
//
// Input: the hosts file up to the first NUL byte, then the list's hosts section, one
// mapping a line.
#include "updater/engine/Hosts.h"

#include "platform/Errors.h"
#include "platform/System.h"
#include "updater/engine/LstFile.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = std::min(input.find('\0'), input.size());
    const velmoran::TStringList lines = velmoran::SplitHostsLines(input.substr(0, cut));
    velmoran::TStringList entries;
    for (std::size_t begin = cut + 1; begin < input.size();) {
        const std::size_t end = std::min(input.find('\n', begin), input.size());
        // As the list reader gives them: trimmed, blank lines left out.
        std::string line = velmoran::TrimLine(input.substr(begin, end - begin));
        if (!line.empty()) {
            entries.push_back(std::move(line));
        }
        begin = end + 1;
    }

    for (const std::string& line : lines) {
        if (line.find('\n') != std::string::npos) {
            __builtin_trap();
        }
    }
    velmoran::THostsEdit edit;
    try {
        edit = velmoran::EditHostsLines(lines, entries);
    } catch (const velmoran::platform::EListError&) {
        return 0; // a mapping of one field ends the run before anything is written
    }
    if (edit.lines.size() != lines.size()) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (edit.lines[i] != lines[i] && edit.lines[i] != "#" + lines[i]) {
            __builtin_trap();
        }
    }
    if (edit.block.size() < 2) {
        __builtin_trap();
    }
    for (std::size_t i = 1; i + 1 < edit.block.size(); ++i) {
        const std::string& mapping = edit.block[i];
        const std::size_t tab = mapping.find('\t');
        if (tab == std::string::npos ||
            !velmoran::platform::IsIpAddress(std::string_view(mapping).substr(0, tab)) ||
            !velmoran::IsHostName(std::string_view(mapping).substr(tab + 1))) {
            __builtin_trap();
        }
    }
    (void)edit.Text();
    return 0;
}
