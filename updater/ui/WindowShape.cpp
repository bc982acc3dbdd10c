// WindowShape.cpp: the shape region from runs of pixels, and the background brush.
#include "updater/ui/WindowShape.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>
#include <vector>

namespace velmoran {

QRegion RegionFromPicture(const QImage& picture, QRgb key) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    // A region made of rectangles one pixel high, one per run, is correct but slow to build
    // and to use; bands of equal rows keep it to a few hundred rectangles for a typical
    // shape. The rectangles come out as QRegion::setRects wants them: sorted by top, then
    // left; all of one band the same height; none touching another of its band.
    std::vector<QRect> rects;
    std::vector<QRect> row;
    std::size_t bandStart = 0;
    int bandTop = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        row.clear();
        int x = 0;
        while (x < image.width()) {
            while (x < image.width() && line[x] == key) {
                ++x;
            }
            const int start = x;
            while (x < image.width() && line[x] != key) {
                ++x;
            }
            if (x > start) {
                row.emplace_back(start, y, x - start, 1);
            }
        }
        bool sameAsBand = bandTop >= 0 && rects.size() - bandStart == row.size();
        for (std::size_t i = 0; sameAsBand && i < row.size(); ++i) {
            const QRect& above = rects[bandStart + i];
            sameAsBand = above.left() == row[i].left() && above.width() == row[i].width() &&
                         above.bottom() == y - 1;
        }
        if (sameAsBand && !row.empty()) {
            for (std::size_t i = bandStart; i < rects.size(); ++i) {
                rects[i].setBottom(y);
            }
        } else if (!row.empty()) {
            bandStart = rects.size();
            bandTop = y;
            rects.insert(rects.end(), row.begin(), row.end());
        } else {
            bandTop = -1;
        }
    }
    QRegion region;
    if (!rects.empty()) {
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    }
    return region;
}

void ShapeWindowFromPicture(QWidget& window, const QPixmap& picture) {
    if (picture.isNull()) {
        return;
    }
    QPalette palette = window.palette();
    palette.setBrush(QPalette::Window, QBrush(picture));
    window.setPalette(palette);
    window.setAutoFillBackground(true);

    const QImage image = picture.toImage();
    window.setMask(RegionFromPicture(image, image.pixel(0, 0)));
    window.update();
}

QImage GrabShaped(QWidget& window) {
    const QImage shot = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    if (window.mask().isEmpty()) {
        return shot;
    }
    QImage shaped(shot.size(), QImage::Format_ARGB32);
    shaped.setDevicePixelRatio(shot.devicePixelRatio());
    shaped.fill(Qt::transparent);
    QPainter painter(&shaped);
    painter.setClipRegion(window.mask());
    painter.drawImage(0, 0, shot);
    return shaped;
}

} // namespace velmoran
