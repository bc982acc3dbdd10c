// Profile.cpp: a line-preserving INI reader and writer.
#include "platform/Profile.h"

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Stream.h"

#include <cerrno>
#include <optional>
#include <vector>

namespace velmoran::platform {

namespace {

constexpr std::string_view kNewLine = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

// One line of the file: where its text starts and ends, and where its line break ends.
struct Line {
    std::size_t begin;
    std::size_t end;  // end of the text, before "\r\n" or "\n"
    std::size_t next; // start of the following line
    std::string_view text;
};

std::vector<Line> SplitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t newline = content.find('\n', begin);
        const std::size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
        std::size_t end = newline == std::string_view::npos ? content.size() : newline;
        if (end > begin && content[end - 1] == '\r') {
            --end;
        }
        lines.push_back({begin, end, next, content.substr(begin, end - begin)});
        begin = next;
    }
    return lines;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view text) {
    text = Trim(text);
    if (text.empty() || text.front() != '[') {
        return std::nullopt;
    }
    text.remove_prefix(1);
    const auto close = text.rfind(']');
    if (close != std::string_view::npos) {
        text = text.substr(0, close);
    }
    return Trim(text);
}

struct KeyLine {
    std::string_view name;
    std::string_view value;
};

std::optional<KeyLine> ParseKey(std::string_view text) {
    const std::string_view trimmed = Trim(text);
    if (trimmed.empty() || trimmed.front() == ';') {
        return std::nullopt;
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

// Where a key lives in the file, as far as it is there.
struct Location {
    std::optional<std::size_t> sectionLine; // the header line
    std::optional<std::size_t> keyLine;
    std::size_t lastContentLine = 0; // last non-blank line of the section (the header at least)
};

Location Find(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i].text)) {
            if (inSection) {
                break; // the first section of that name is the one used
            }
            inSection = SameName(*name, section);
            if (inSection) {
                where.sectionLine = i;
                where.lastContentLine = i;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (!Trim(lines[i].text).empty()) {
            where.lastContentLine = i;
        }
        if (const auto parsed = ParseKey(lines[i].text); parsed && SameName(parsed->name, key)) {
            where.keyLine = i;
            break;
        }
    }
    return where;
}

std::optional<std::string> LoadFile(const std::string& fileName) {
    try {
        TMemoryStream content;
        content.LoadFromFile(fileName);
        return std::string(reinterpret_cast<const char*>(content.Memory()),
                           static_cast<std::size_t>(content.Size()));
    } catch (const Exception&) {
        return std::nullopt;
    }
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// What ends the text's last line before another is added after it. A lone CR at the very
// end reads as a line break already; completing it keeps that line as it read.
std::string_view BreakAfter(std::string_view text) {
    if (text.empty() || text.back() == '\n') {
        return {};
    }
    return text.back() == '\r' ? "\n" : kNewLine;
}

} // namespace

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::string& fileName) {
    const auto content = LoadFile(fileName);
    if (!content) {
        return std::string(defaultValue);
    }
    const auto lines = SplitLines(*content);
    const Location where = Find(lines, section, key);
    if (!where.keyLine) {
        return std::string(defaultValue);
    }
    return std::string(ParseKey(lines[*where.keyLine].text)->value);
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& fileName) {
    // A line break would add lines the caller never meant to write.
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || Trim(key).empty() ||
        key.find('=') != std::string_view::npos) {
        errno = EINVAL;
        return false;
    }
    std::string content;
    if (FileExists(fileName)) {
        auto loaded = LoadFile(fileName);
        if (!loaded) {
            return false;
        }
        content = std::move(*loaded);
    }
    const auto lines = SplitLines(content);
    const Location where = Find(lines, section, key);

    std::string updated;
    if (where.keyLine) {
        const Line& line = lines[*where.keyLine];
        updated = content.substr(0, line.begin);
        updated += ParseKey(line.text)->name;
        updated += '=';
        updated += value;
        updated += content.substr(line.end);
    } else if (where.sectionLine) {
        const Line& last = lines[where.lastContentLine];
        updated = content.substr(0, last.next);
        updated += BreakAfter(updated); // the section's last line may end the file
        updated += key;
        updated += '=';
        updated += value;
        updated += kNewLine;
        updated += content.substr(last.next);
    } else {
        updated = content;
        updated += BreakAfter(updated);
        updated += '[';
        updated += section;
        updated += ']';
        updated += kNewLine;
        updated += key;
        updated += '=';
        updated += value;
        updated += kNewLine;
    }
    try {
        WriteFileAtomic(fileName, updated);
    } catch (const Exception&) {
        return false;
    }
    return true;
}

} // namespace velmoran::platform
