// ClientSettings.h: the updater's settings file _settings.ini, section "main".
#pragma once

#include "platform/Errors.h"
#include "platform/StringList.h"

#include <string>

namespace velmoran {

// Positions in ClientSettings; every user addresses an entry by its position.
enum ClientSetting : std::size_t {
    csFolder = 0, // the current directory at start with one separator appended
    csNewsUrl = 1,
    csUpdatesUrl = 2,
    csLinkName = 3,
    csInstalled = 4,
    csCreateBackup = 5,
    csAtRevision = 6,
    csRunCustom = 7,
};

inline constexpr char kSettingsFileName[] = "_settings.ini";
inline constexpr char kSettingsSection[] = "main";

// A write the system refused: "Unable to write to %s" with the file's full path.
class ESettingsWriteError : public platform::Exception {
public:
    explicit ESettingsWriteError(const std::string& path);
};

// Fills settings afresh: Folder always; the seven keys (with their defaults) only when
// _settings.ini exists in Folder. Returns whether it exists. Reading never writes.
bool ReadClientSettings(TStringList& settings);

// The three writers. Each writes one key of section "main" into Folder + "_settings.ini".
void WriteInstalled(const TStringList& settings);                              // "1"
void WriteCreateBackup(const TStringList& settings, const std::string& value); // "1" / "0"
void WriteAtRevision(const TStringList& settings, const std::string& revisionText);

} // namespace velmoran
