// The update list reader over any text: every section and value an update run asks for.
#include "fuzz/ScratchFolder.h"
#include "platform/Errors.h"
#include "updater/engine/LstFile.h"

#include <cstdint>

namespace {

bool Trimmed(const std::string& line) {
    return !line.empty() && static_cast<unsigned char>(line.front()) > 32 &&
           static_cast<unsigned char>(line.back()) > 32;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const velmoran::fuzz::ScratchFolder folder;
    velmoran::TListFile list(folder.Write("files.lst", data, size));
    for (const std::string name : {"settings", "hosts", "self", "files_critical", "files_normal"}) {
        const velmoran::TStringList lines = list.ReadSection(name);
        // Never empty ("FAIL" stands for nothing), every line trimmed, none the closing one.
        if (lines.empty()) {
            __builtin_trap();
        }
        for (const std::string& line : lines) {
            if (!Trimmed(line) || line == "[/" + name + "]") {
                __builtin_trap();
            }
        }
    }
    for (const char* key : {"Rev", "ModHosts"}) {
        try {
            // The last field of its line: never a delimiter in it.
            if (list.ReadValue("settings", key).find('|') != std::string::npos) {
                __builtin_trap();
            }
        } catch (const velmoran::platform::EListError&) {
            // A line of "|" alone: the run ends with this error, as it should.
        }
    }
    return 0;
}
