// Skin.h: the pictures of the windows, built in or replaced by the client folder's own.
#pragma once

#include <QPixmap>
#include <string>

namespace velmoran {

// The picture called name (such as "background.png"): the file skinFolder + name when
// it exists and can be read as a picture, so that a server can brand its launcher by
// shipping a "skin" folder, and the built-in picture otherwise.
QPixmap LoadSkinPicture(const std::string& skinFolder, const char* name);

// The "skin" folder of a client folder (which ends with the separator).
std::string SkinFolderOf(const std::string& clientFolder);

} // namespace velmoran
