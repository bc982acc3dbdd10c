// Path.h: the system's "\"-separated relative paths and the native paths they become.
//
// Paths that come from outside (list entries, RunCustom, the update script's lines) are
// written with "\" between folder names. They become native paths only when they are
// joined to the client folder, which already ends with the native separator.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::platform {

#ifdef _WIN32
inline constexpr char PathDelimiter = '\\';
#else
inline constexpr char PathDelimiter = '/';
#endif

// A "\"-separated relative path with every "\" turned into the native separator.
std::string ToNativePath(std::string_view relative);
// base (a folder ending with the separator) followed by a relative path made native.
std::string JoinPath(std::string_view base, std::string_view relative);
// The folder with one separator at its end (an existing one is kept).
std::string IncludeTrailingPathDelimiter(std::string_view folder);
// Everything up to and including the last separator; empty when there is none.
std::string ExtractFilePath(std::string_view path);
// Everything after the last separator.
std::string ExtractFileName(std::string_view path);

} // namespace velmoran::platform
