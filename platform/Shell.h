// Shell.h: the shell's services: deleting a folder tree, the desktop folder and the
// desktop shortcut.
#pragma once

#include <string>

namespace velmoran::platform {

// Deletes the folder and everything below it, without asking and without a recycle bin.
// Symbolic links inside are removed, never followed. Returns false when something could
// not be deleted (what could be deleted is gone); a folder that does not exist is true.
bool DeleteTree(const std::string& folder);

// The user's desktop folder, without a trailing separator and without creating it; empty
// when it cannot be told. VELMORAN_DESKTOP_DIR, when set, wins (tests and sandboxes use it
// so that the real desktop is never touched); otherwise XDG_DESKTOP_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (~/.config when unset), then the XDG_DESKTOP_DIR
// variable itself, then ~/Desktop.
std::string DesktopDirectory();

// What a desktop shortcut starts.
struct ShellLink {
    std::string name;          // the shortcut's file name without its extension
    std::string description;   // shown as the shortcut's comment
    std::string target;        // full path of the program started, without arguments
    std::string workingFolder; // the folder it is started in
};

// The file the shortcut is saved as: the desktop folder, the name and ".desktop" (a
// freedesktop launcher); empty when the desktop folder is unknown or the name could not
// be a file name (empty, "." or "..", a separator or a control character).
std::string DesktopShortcutPath(const std::string& name);

// Saves the shortcut on the desktop, replacing one of the same name in one step, and makes
// it executable so that file managers offer to start it. Returns false when it could not
// be written (no desktop folder, a name DesktopShortcutPath refuses, a write refused).
bool SaveDesktopShortcut(const ShellLink& link);

// The text of the launcher file for link, as SaveDesktopShortcut writes it.
std::string DesktopEntryText(const ShellLink& link);

} // namespace velmoran::platform
