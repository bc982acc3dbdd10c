// Hosts.h: the hosts stage's text work, apart from the file it reads and writes.
#pragma once

#include "platform/StringList.h"

#include <string>
#include <string_view>

namespace velmoran {

// The lines of a hosts file, each trimmed of characters 0 to 32 at both ends; blank lines
// stay as empty lines. A line ends with LF (a CR before it is trimmed away).
TStringList SplitHostsLines(std::string_view text);

// Whether text can stand as a host name in a hosts file: letters, digits, "-", "." and "_".
bool IsHostName(std::string_view name);

// The outcome of applying the list's mappings to the file's lines.
struct THostsEdit {
    TStringList lines;    // the file's lines, those mapping a listed host elsewhere switched off
    TStringList block;    // the marker lines with the mappings to add between them
    bool refused = false; // a mapping was not an address and a host name, and was left out

    // Whether the file must be rewritten: at least one mapping is added.
    bool Changed() const noexcept { return block.size() > 2; }
    // The new content: every line, then the block, each ending with CR LF.
    std::string Text() const;
};

// Applies the hosts section's entries ("address|host", fields counted from the end) to
// the file's lines. An entry of a single field raises EListError.
THostsEdit EditHostsLines(TStringList lines, const TStringList& entries);

} // namespace velmoran
