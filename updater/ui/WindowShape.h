// WindowShape.h: windows shaped by their background picture.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRegion>

class QWidget;

namespace velmoran {

// The area of picture whose pixels differ from key: one rectangle per run of such pixels
// in a row, rows with the same runs joined into one band.
QRegion RegionFromPicture(const QImage& picture, QRgb key);

// Makes picture the window's background and cuts the pixels of its key colour, the colour
// of its top-left pixel, out of the window's shape: they are neither drawn nor take the
// mouse. An empty picture leaves the window as it is.
void ShapeWindowFromPicture(QWidget& window, const QPixmap& picture);

// The window as drawn now, with what lies outside its shape transparent.
QImage GrabShaped(QWidget& window);

} // namespace velmoran
