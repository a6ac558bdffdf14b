#pragma once
// Where a UIR tile draws its input circles, on a screenshot.
#include <QPoint>
#include <QRect>

#include "monitor/ui/Tiles.h"

#include "E2eScreen.h"

namespace kestrel::test {

// Centre of input n's circle on UIR tile `index` (0-based).
inline QPoint InputCentre(const QRect& first, const QRect& area, int index, int input)
{
    const kestrel::TTileGeometry g = kestrel::TTileGeometry::For(first.width(), first.height());
    const int y = input == 3 ? g.Y0 : input == 2 ? g.Y1 : g.Y2;
    return TileOrigin(first, area, index) + QPoint(4 + g.D / 2, y + g.D / 2);
}

}  // namespace kestrel::test
