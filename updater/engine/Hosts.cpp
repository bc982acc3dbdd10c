// Hosts.cpp: switching off and adding host mappings.
#include "updater/engine/Hosts.h"

#include "platform/Errors.h"
#include "platform/System.h"
#include "updater/engine/LstFile.h"
#include "updater/engine/Misc.h"

namespace velmoran {

TStringList SplitHostsLines(std::string_view text) {
    TStringList lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        auto end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.push_back(TrimLine(text.substr(begin, end - begin)));
        begin = end + 1;
    }
    return lines;
}

bool IsHostName(std::string_view name) {
    if (name.empty() || name.size() > 253) {
        return false;
    }
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string THostsEdit::Text() const {
    std::string text;
    for (const auto* list : {&lines, &block}) {
        for (const std::string& line : *list) {
            text += line;
            text += "\r\n";
        }
    }
    return text;
}

THostsEdit EditHostsLines(TStringList lines, const TStringList& entries) {
    THostsEdit edit;
    edit.lines = std::move(lines);
    edit.block.emplace_back("#-------- Added by RkUpdater --------");
    for (const std::string& entry : entries) {
        const TStringList fields = SplitFields(entry, "|");
        if (fields.size() < 2) {
            throw platform::EListError(1);
        }
        const std::string& host = fields[0];
        const std::string& address = fields[1];
        // A mapping that is not an address and a host name would corrupt the file or
        // smuggle in names of its own; it is left out and the run reports a failure.
        if (!platform::IsIpAddress(address) || !IsHostName(host)) {
            edit.refused = true;
            continue;
        }
        const std::string withTab = address + '\t';
        const std::string withSpace = address + ' ';
        int state = 0; // 0: nowhere, 1: switched off here, 2: the mapping is there
        for (std::string& line : edit.lines) {
            if (line.empty() || line.front() == '#' || SearchText(1, line, host) == 0) {
                continue;
            }
            if (SearchText(1, line, withTab) != 0 || SearchText(1, line, withSpace) != 0) {
                state = 2;
            } else {
                line.insert(line.begin(), '#');
                state = 1;
            }
        }
        if (state != 2) {
            std::string mapping = address;
            mapping += '\t';
            mapping += host;
            edit.block.push_back(std::move(mapping));
        }
    }
    edit.block.emplace_back("#-----------------");
    return edit;
}

} // namespace velmoran
