// Shell.cpp: folder deletion over the C++ file system library, and the desktop shortcut as
// a freedesktop launcher file.
#include "platform/Shell.h"

#include "platform/Errors.h"
#include "platform/Files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

namespace velmoran::platform {

bool DeleteTree(const std::string& folder) {
    std::error_code error;
    // remove_all never follows a symbolic link: a link to a folder outside goes, its target stays.
    std::filesystem::remove_all(folder, error);
    return !error;
}

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The value of XDG_DESKTOP_DIR as user-dirs.dirs gives it: a double-quoted path that is
// either absolute or starts with $HOME. The last definition wins, as when the shell reads
// the file; a value of any other form is ignored.
std::string DesktopFromUserDirs(const std::string& file, const std::string& home) {
    std::ifstream in(file);
    std::string line;
    std::string found;
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
    while (std::getline(in, line)) {
        std::string_view text = line;
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
            text.remove_prefix(1);
        }
        if (text.substr(0, kKey.size()) != kKey) {
            continue;
        }
        text.remove_prefix(kKey.size());
        if (text.size() < 2 || text.front() != '"') {
            continue;
        }
        std::string value;
        bool closed = false;
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (text[i] == '\\' && i + 1 < text.size()) {
                value += text[++i];
            } else if (text[i] == '"') {
                closed = true;
                break;
            } else {
                value += text[i];
            }
        }
        if (!closed) {
            continue;
        }
        constexpr std::string_view kHome = "$HOME";
        if (value.compare(0, kHome.size(), kHome) == 0 &&
            (value.size() == kHome.size() || value[kHome.size()] == '/')) {
            if (home.empty()) {
                continue;
            }
            value = home + value.substr(kHome.size());
        }
        if (value.empty() || value.front() != '/') {
            continue;
        }
        found = value;
    }
    return found;
}

// A value of a string key: backslashes and the characters a line cannot hold escaped, a
// leading blank kept by "\s".
std::string EscapeValue(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

// The program as one quoted argument of Exec: inside the quotes ", `, $ and \ take a
// backslash, and % is doubled so that it is never read as a field code.
std::string QuoteExecArgument(std::string_view path) {
    std::string out = "\"";
    for (const char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            out += '\\';
        }
        if (c == '%') {
            out += '%';
        }
        out += c;
    }
    out += '"';
    return out;
}

bool IsFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string DesktopDirectory() {
    const std::string override = Environment("VELMORAN_DESKTOP_DIR");
    if (!override.empty()) {
        return WithoutTrailingSlashes(override);
    }
    const std::string home = WithoutTrailingSlashes(Environment("HOME"));
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty() && !home.empty()) {
        config = home + "/.config";
    }
    if (!config.empty()) {
        const std::string fromFile = DesktopFromUserDirs(config + "/user-dirs.dirs", home);
        if (!fromFile.empty()) {
            return WithoutTrailingSlashes(fromFile);
        }
    }
    const std::string variable = Environment("XDG_DESKTOP_DIR");
    if (!variable.empty() && variable.front() == '/') {
        return WithoutTrailingSlashes(variable);
    }
    return home.empty() ? std::string() : home + "/Desktop";
}

std::string DesktopShortcutPath(const std::string& name) {
    const std::string desktop = DesktopDirectory();
    if (desktop.empty() || !IsFileName(name)) {
        return {};
    }
    return (desktop == "/" ? std::string() : desktop) + "/" + name + ".desktop";
}

std::string DesktopEntryText(const ShellLink& link) {
    std::ostringstream out;
    out << "[Desktop Entry]\n"
        << "Type=Application\n"
        << "Name=" << EscapeValue(link.name) << "\n"
        << "Comment=" << EscapeValue(link.description) << "\n"
        << "Exec=" << EscapeValue(QuoteExecArgument(link.target)) << "\n"
        << "Path=" << EscapeValue(link.workingFolder) << "\n"
        << "Terminal=false\n";
    return out.str();
}

bool SaveDesktopShortcut(const ShellLink& link) {
    const std::string path = DesktopShortcutPath(link.name);
    if (path.empty()) {
        return false;
    }
    try {
        WriteFileAtomic(path, DesktopEntryText(link));
    } catch (const Exception&) {
        return false;
    }
    return SetExecutable(path);
}

} // namespace velmoran::platform
