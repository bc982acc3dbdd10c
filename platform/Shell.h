// Shell.h: the shell's services: deleting a folder tree.
#pragma once

#include <string>

namespace velmoran::platform {

// Deletes the folder and everything below it, without asking and without a recycle bin.
// Symbolic links inside are removed, never followed. Returns false when something could
// not be deleted (what could be deleted is gone); a folder that does not exist is true.
bool DeleteTree(const std::string& folder);

} // namespace velmoran::platform
