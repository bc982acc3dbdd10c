// Misc.h: small text and file routines shared by the update run, the launcher window and
// the builder. They keep no state.
#pragma once

#include "platform/StringList.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmoran {

// Splits text at any of the delimiter characters. The fields come out last first and
// empty fields are dropped: "a|b|c" gives "c", "b", "a"; "a||c" gives "c", "a".
TStringList SplitFields(std::string_view text, std::string_view delimiters);

// text with every occurrence of find replaced, scanning left to right; a replacement is
// never scanned again. An empty find leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement);

// The 1-based position of the first occurrence of pattern in text at or after start
// (1-based), 0 when there is none. Case-sensitive; pattern must not be empty.
std::size_t SearchText(std::size_t start, std::string_view text, std::string_view pattern);

// Deletes the folder with everything below it when it exists; reports nothing.
void DeleteFolder(const std::string& path);

// Enters the folder part of path (up to its last separator) and starts the command line
// path there, detached. Raises EInOutError when the folder cannot be entered; a program
// that cannot be started goes unnoticed.
void RunProgram(const std::string& path);

// Whether a relative path from the update list stays inside the client folder: not empty,
// no drive or other ":", not starting with "\" or "/", no ".." component (either separator
// counts), no control characters. Anything else is never joined to the client folder.
bool IsSafeListPath(std::string_view path);

// Whether the self entry's path can stand unquoted in Update.bat: a safe list path that is
// a bare file name, without spaces and without a character the command processor would
// interpret (& | < > ^ % " and the like).
bool IsSafeSelfName(std::string_view name);

// Writes Update.bat into the current directory: it ends the running updater named
// programName, replaces it by programName + ".New" when that exists, starts it and deletes
// itself. Raises EInOutError (or EFCreateError) when the script cannot be written.
void WriteUpdateScript(const std::string& programName);

} // namespace velmoran
