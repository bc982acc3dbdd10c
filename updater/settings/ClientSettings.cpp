// ClientSettings.cpp: reading _settings.ini with its defaults and writing single keys.
#include "updater/settings/ClientSettings.h"

#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Profile.h"

namespace velmoran {

namespace {

struct Key {
    const char* name;
    const char* defaultValue;
};

// In the order of their positions, from csNewsUrl on.
constexpr Key kKeys[] = {
    {"NewsUrl", ""},       {"UpdatesUrl", ""},  {"LinkName", "Ashen Crown"},     {"Installed", "0"},
    {"CreateBackup", "0"}, {"AtRevision", "0"}, {"RunCustom", "system\\rk.exe"},
};

std::string SettingsPath(const TStringList& settings) {
    return settings.at(csFolder) + kSettingsFileName;
}

void WriteKey(const TStringList& settings, const char* key, const std::string& value) {
    const std::string path = SettingsPath(settings);
    if (!platform::WriteProfileString(kSettingsSection, key, value, path)) {
        throw ESettingsWriteError(path);
    }
}

} // namespace

ESettingsWriteError::ESettingsWriteError(const std::string& path)
    : Exception("Unable to write to " + path) {}

bool ReadClientSettings(TStringList& settings) {
    settings.clear();
    // One separator is appended even when the folder is the root and ends with one.
    settings.push_back(platform::GetCurrentDir() + platform::PathDelimiter);
    const std::string path = SettingsPath(settings);
    if (!platform::FileExists(path)) {
        return false;
    }
    for (const Key& key : kKeys) {
        settings.push_back(
            platform::ReadProfileString(kSettingsSection, key.name, key.defaultValue, path));
    }
    return true;
}

void WriteInstalled(const TStringList& settings) {
    WriteKey(settings, "Installed", "1");
}

void WriteCreateBackup(const TStringList& settings, const std::string& value) {
    WriteKey(settings, "CreateBackup", value);
}

void WriteAtRevision(const TStringList& settings, const std::string& revisionText) {
    WriteKey(settings, "AtRevision", revisionText);
}

} // namespace velmoran
