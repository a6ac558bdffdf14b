#pragma once
// What the end-to-end runs read off a screenshot of the utility.
#include <QImage>
#include <QPoint>
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

// The first tile: the first pixel of another colour, row by row, then its extent.
inline std::optional<QRect> FirstTile(const QImage& img, const QRect& area)
{
    auto bg = [&](int x, int y) { return (img.pixel(x, y) & 0xFFFFFF) == (kTileArea & 0xFFFFFF); };
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!bg(x, y)) {
                int w = 0, h = 0;
                while (x + w <= area.right() && !bg(x + w, y + 3))
                    ++w;
                while (y + h <= area.bottom() && !bg(x + 3, y + h))
                    ++h;
                return QRect(x, y, w, h);
            }
    return std::nullopt;
}

// Top-left corner of tile `index` (0-based: the 43 UIR tiles, then the CB
// tile in the same flow), the tiles running left to right from the first
// one, 5 pixels apart.
inline QPoint TileOrigin(const QRect& first, const QRect& area, int index)
{
    const int step = first.width() + 5;
    const int cols = (area.right() - first.left() + 1 + 5) / step;
    return {first.left() + (index % cols) * step, first.top() + (index / cols) * (first.height() + 5)};
}

}  // namespace kestrel::test
