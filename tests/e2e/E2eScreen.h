#pragma once
// What the end-to-end runs read off a screenshot of the utility.
#include <QImage>
#include <QRect>
#include <algorithm>
#include <optional>

namespace kestrel::test {

// The tile area's background (the main window's kTileAreaColor).
inline const QRgb kTileArea = qRgb(192, 220, 192);

// The tile area: bounding box of its background colour; none when too small
// to be the main window's.
inline std::optional<QRect> TileArea(const QImage& img)
{
    int left = img.width(), top = img.height(), right = -1, bottom = -1;
    for (int y = 0; y < img.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if ((line[x] & 0xFFFFFF) == (kTileArea & 0xFFFFFF)) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    if (right - left < 300 || bottom - top < 200)
        return std::nullopt;
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace kestrel::test
