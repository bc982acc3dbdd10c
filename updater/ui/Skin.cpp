// Skin.cpp: picture lookup in the client's skin folder, then in the resources.
#include "updater/ui/Skin.h"

#include "platform/Files.h"
#include "platform/Path.h"

#include <QString>

namespace velmoran {

QPixmap LoadSkinPicture(const std::string& skinFolder, const char* name) {
    const std::string own = skinFolder + name;
    if (!skinFolder.empty() && platform::FileExists(own)) {
        QPixmap picture(QString::fromStdString(own));
        if (!picture.isNull()) {
            return picture;
        }
    }
    return QPixmap(QStringLiteral(":/velmoran/skin/") + QLatin1String(name));
}

std::string SkinFolderOf(const std::string& clientFolder) {
    return platform::JoinPath(clientFolder, "skin\\");
}

} // namespace velmoran
