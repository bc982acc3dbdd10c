// Glob.h: the file patterns of velmoran-publish's --critical and --exclude options.
#pragma once

#include <string_view>

namespace velmoran::publish {

// Whether path (a relative path with "/" or "\" between folder names) matches pattern.
// "*" matches any run of characters, folder separators included, so "system/*" is all
// of system and "*.dll" every .dll; "?" matches one character other than a separator;
// "[abc]", "[a-z]" and "[!abc]" match one character of a set. "/" and "\" are the same
// separator in both pattern and path. Matching is case-sensitive and covers the whole path.
bool GlobMatch(std::string_view pattern, std::string_view path);

} // namespace velmoran::publish
