// System.h: where the system keeps its files, and the checks of network names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velmoran::platform {

// The folder of the hosts file: /etc, or VELMORAN_HOSTS_DIR when that is set (tests and
// sandboxes use it so that the real file is never touched). Nothing when it is unknown.
std::optional<std::string> HostsFolder();

// The hosts file the updater edits: "hosts.msn" in HostsFolder() when it exists there,
// otherwise "hosts". Nothing when the folder is unknown.
std::optional<std::string> HostsFilePath();

// Whether text is an IPv4 address in dotted form or an IPv6 address.
bool IsIpAddress(std::string_view text);

} // namespace velmoran::platform
