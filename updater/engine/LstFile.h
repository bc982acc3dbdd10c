// LstFile.h: the reader of the update list files.lst.
//
// The list is a text file of named sections: "[name]" opens one, "[/name]" closes it.
// Every line is trimmed of characters 0 to 32 at both ends before it is looked at, lines
// outside sections are ignored, and only the first section of a name counts.
#pragma once

#include "updater/engine/Misc.h"

#include <memory>
#include <string>

namespace velmoran {

namespace platform {
class TFileStream;
}

class TListFile {
public:
    // Remembers the file; does not touch the disk.
    explicit TListFile(std::string path);
    ~TListFile();
    TListFile(const TListFile&) = delete;
    TListFile& operator=(const TListFile&) = delete;

    // The section's non-blank lines, trimmed, in file order; the single line "FAIL" when the
    // section is missing or empty. A section without its closing line ends with the file.
    // Raises EInOutError when the file cannot be opened or read.
    TStringList ReadSection(const std::string& name);

    // The last field of the first line of the section whose first field is key; empty when
    // the section or the key is missing. A line of "|" alone raises EListError.
    std::string ReadValue(const std::string& section, const std::string& key);

private:
    // Reopens the file at its start and gives the next line each call; false at the end.
    void Reopen();
    bool NextLine(std::string& line);

    std::string path_;
    std::unique_ptr<platform::TFileStream> file_;
    std::string buffer_;
    std::size_t bufferPos_ = 0;
    bool atEnd_ = false;
};

// The line with characters 0 to 32 removed from both ends.
std::string TrimLine(std::string_view line);

} // namespace velmoran
