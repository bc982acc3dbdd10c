// Glob.cpp: iterative wildcard matching with one backtrack point per "*".
#include "tools/publish/Glob.h"

#include <cstddef>

namespace velmoran::publish {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool SameChar(char a, char b) {
    return a == b || (IsSeparator(a) && IsSeparator(b));
}

// Matches a "[...]" set starting at pattern[p] against c. On success p is moved past the
// closing "]". A "[" without a closing "]" is an ordinary character.
bool MatchSet(std::string_view pattern, std::size_t& p, char c, bool& matched) {
    std::size_t i = p + 1;
    bool negate = false;
    if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
        negate = true;
        ++i;
    }
    bool hit = false;
    bool first = true;
    while (i < pattern.size() && (first || pattern[i] != ']')) {
        first = false;
        char low = pattern[i];
        char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = pattern[i + 2];
            i += 2;
        }
        const auto u = static_cast<unsigned char>(c);
        if (u >= static_cast<unsigned char>(low) && u <= static_cast<unsigned char>(high)) {
            hit = true;
        }
        ++i;
    }
    if (i >= pattern.size()) {
        return false;
    }
    p = i + 1;
    matched = !IsSeparator(c) && hit != negate;
    return true;
}

} // namespace

bool GlobMatch(std::string_view pattern, std::string_view path) {
    std::size_t p = 0;
    std::size_t s = 0;
    std::size_t starP = std::string_view::npos;
    std::size_t starS = 0;
    while (s < path.size()) {
        if (p < pattern.size()) {
            const char pc = pattern[p];
            if (pc == '*') {
                starP = ++p;
                starS = s;
                continue;
            }
            if (pc == '?' && !IsSeparator(path[s])) {
                ++p;
                ++s;
                continue;
            }
            if (pc == '[') {
                std::size_t next = p;
                bool matched = false;
                if (MatchSet(pattern, next, path[s], matched)) {
                    if (matched) {
                        p = next;
                        ++s;
                        continue;
                    }
                } else if (SameChar(pc, path[s])) {
                    ++p;
                    ++s;
                    continue;
                }
            } else if (pc != '?' && SameChar(pc, path[s])) {
                ++p;
                ++s;
                continue;
            }
        }
        // A mismatch: let the last "*" swallow one more character, if there was one.
        if (starP == std::string_view::npos) {
            return false;
        }
        p = starP;
        s = ++starS;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace velmoran::publish
