// LstFile.cpp: section and value lookups in files.lst.
#include "updater/engine/LstFile.h"

#include "platform/Errors.h"
#include "platform/Stream.h"

namespace velmoran {

namespace {

constexpr std::size_t kReadBlock = 64 * 1024;

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

} // namespace

std::string TrimLine(std::string_view line) {
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && IsTrimmed(line[begin])) {
        ++begin;
    }
    while (end > begin && IsTrimmed(line[end - 1])) {
        --end;
    }
    return std::string(line.substr(begin, end - begin));
}

TListFile::TListFile(std::string path) : path_(std::move(path)) {}

TListFile::~TListFile() = default;

void TListFile::Reopen() {
    file_.reset();
    try {
        file_ =
            std::make_unique<platform::TFileStream>(path_, platform::TFileStream::Mode::OpenRead);
    } catch (const platform::EFOpenError& e) {
        throw platform::EInOutError(e.ErrorCode());
    }
    buffer_.clear();
    bufferPos_ = 0;
    atEnd_ = false;
}

bool TListFile::NextLine(std::string& line) {
    line.clear();
    while (true) {
        const auto newline = buffer_.find('\n', bufferPos_);
        if (newline != std::string::npos) {
            line.append(buffer_, bufferPos_, newline - bufferPos_);
            bufferPos_ = newline + 1;
            return true;
        }
        line.append(buffer_, bufferPos_, std::string::npos);
        buffer_.resize(kReadBlock);
        bufferPos_ = 0;
        const std::size_t got = atEnd_ ? 0 : file_->Read(buffer_.data(), kReadBlock);
        buffer_.resize(got);
        if (got == 0) {
            atEnd_ = true;
            // The last line may end without a line break.
            return !line.empty();
        }
    }
}

TStringList TListFile::ReadSection(const std::string& name) {
    Reopen();
    const std::string opening = "[" + name + "]";
    const std::string closing = "[/" + name + "]";
    TStringList lines;
    std::string line;
    bool inside = false;
    while (NextLine(line)) {
        std::string trimmed = TrimLine(line);
        if (!inside) {
            inside = trimmed == opening;
            continue;
        }
        if (trimmed == closing) {
            break;
        }
        if (!trimmed.empty()) {
            lines.push_back(std::move(trimmed));
        }
    }
    if (lines.empty()) {
        lines.emplace_back("FAIL");
    }
    return lines;
}

std::string TListFile::ReadValue(const std::string& section, const std::string& key) {
    Reopen();
    const std::string opening = "[" + section + "]";
    const std::string closing = "[/" + section + "]";
    std::string line;
    bool inside = false;
    while (NextLine(line)) {
        const std::string trimmed = TrimLine(line);
        if (!inside) {
            inside = trimmed == opening;
            continue;
        }
        if (trimmed == closing) {
            break;
        }
        if (trimmed.empty()) {
            continue;
        }
        const TStringList fields = SplitFields(trimmed, "|");
        if (fields.empty()) {
            throw platform::EListError(0);
        }
        // Fields come last first: the key is the line's first field, the value its last.
        if (fields.back() == key) {
            return fields.front();
        }
    }
    return std::string();
}

} // namespace velmoran
