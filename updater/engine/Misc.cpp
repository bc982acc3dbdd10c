// Misc.cpp: text and file routines of the update engine.
#include "updater/engine/Misc.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/Shell.h"

#include <array>
#include <cerrno>
#include <cstdio>

namespace velmoran {

TStringList SplitFields(std::string_view text, std::string_view delimiters) {
    TStringList fields;
    std::string_view rest = text;
    while (true) {
        const auto cut = rest.find_last_of(delimiters);
        const std::string_view piece = cut == std::string_view::npos ? rest : rest.substr(cut + 1);
        if (!piece.empty()) {
            fields.emplace_back(piece);
        }
        if (cut == std::string_view::npos) {
            break;
        }
        rest = rest.substr(0, cut);
    }
    return fields;
}

std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view replacement) {
    if (find.empty()) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (auto hit = text.find(find); hit != std::string_view::npos; hit = text.find(find, from)) {
        result.append(text, from, hit - from);
        result.append(replacement);
        from = hit + find.size();
    }
    result.append(text, from);
    return result;
}

std::size_t SearchText(std::size_t start, std::string_view text, std::string_view pattern) {
    const std::size_t m = pattern.size();
    if (m == 0 || start == 0) {
        return 0;
    }
    // Each byte's distance from its last occurrence in the pattern to the pattern's end.
    std::array<std::size_t, 256> shift;
    shift.fill(m);
    for (std::size_t k = m; k >= 1; --k) {
        auto& entry = shift[static_cast<unsigned char>(pattern[k - 1])];
        if (entry == m) {
            entry = m - k;
        }
    }
    const unsigned char last = static_cast<unsigned char>(pattern[m - 1]);
    // e is the 1-based text position under the pattern's last byte.
    for (std::size_t e = start + m - 1; e <= text.size();) {
        const auto byte = static_cast<unsigned char>(text[e - 1]);
        if (byte != last) {
            e += shift[byte];
            continue;
        }
        std::size_t k = m - 1;
        while (k >= 1 && pattern[k - 1] == text[e - m + k - 1]) {
            --k;
        }
        if (k == 0) {
            return e - m + 1;
        }
        ++e;
    }
    return 0;
}

bool IsSafeListPath(std::string_view path) {
    if (path.empty() || path.front() == '\\' || path.front() == '/') {
        return false;
    }
    for (const char c : path) {
        if (static_cast<unsigned char>(c) < 32 || c == ':' || c == 127) {
            return false;
        }
    }
    std::size_t begin = 0;
    while (begin <= path.size()) {
        const auto end = path.find_first_of("\\/", begin);
        const auto part = path.substr(begin, end == std::string_view::npos ? end : end - begin);
        if (part == "..") {
            return false;
        }
        if (end == std::string_view::npos) {
            break;
        }
        begin = end + 1;
    }
    return true;
}

bool IsSafeSelfName(std::string_view name) {
    if (!IsSafeListPath(name) || name == "." || name == "..") {
        return false;
    }
    return name.find_first_of("\\/ &|<>^%\"()!;,=") == std::string_view::npos;
}

void WriteUpdateScript(const std::string& programName) {
    std::string folder = platform::GetCurrentDir();
    while (folder.size() > 1 && folder.back() == platform::PathDelimiter) {
        folder.pop_back();
    }
    const bool replacing =
        platform::FileExists(folder + platform::PathDelimiter + programName + ".New");
    std::string script = "@echo off\r\n";
    script += "taskkill /IM " + programName + " /F\r\n";
    script += "ping 127.0.0.1 -n 3 > nul\r\n";
    if (replacing) {
        script += "del \"" + folder + "\\files.lst\"\r\n";
        script += "del \"" + folder + "\\" + programName + "\"\r\n";
        script += "rename " + programName + ".New " + programName + "\r\n";
    }
    script += "start " + programName + "\r\n";
    script += "del \"Update.bat\"\r\n";
    platform::WriteFileAtomic(folder + platform::PathDelimiter + "Update.bat", script);
}

void DeleteFolder(const std::string& path) {
    if (platform::DirectoryExists(path) && !platform::DeleteTree(path)) {
        // The shell would show its own message here; the caller hears nothing.
        std::fprintf(stderr, "Cannot delete the folder %s\n", path.c_str());
    }
}

void RunProgram(const std::string& path) {
    const auto cut = path.find_last_of(platform::PathDelimiter);
    if (cut != std::string::npos) {
        const std::string folder = path.substr(0, cut + 1);
        if (!platform::SetCurrentDir(folder)) {
            throw platform::EInOutError(errno);
        }
    }
    platform::StartProgram(path);
}

} // namespace velmoran
