// Profile.h: INI files read and written one key at a time.
//
// Stands in for GetPrivateProfileStringA / WritePrivateProfileStringA as the programs use
// them for _settings.ini and the game's option.ini.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::platform {

// The value of key in section, or defaultValue when the file, the section or the key is
// missing. Section and key names are compared without regard to case; the value is the
// text after the first "=" with surrounding blanks removed.
std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, const std::string& fileName);

// Sets key in section to value, creating the file, the section or the key as needed.
// Only that one line changes; every other byte of the file stays as it was. The file is
// replaced in one step and is on the disk when the call returns. Returns false when the
// write is refused (read-only file or folder, a name or value with a line break).
bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        const std::string& fileName);

} // namespace velmoran::platform
