#include "monitor/ui/Layout.h"

#include <algorithm>

namespace kestrel {

TFitDecision FitTilesCalc(const TGridMetrics& m, int present)
{
    TFitDecision d;
    const int stepX = m.TileWidth + m.GapX, stepY = m.TileHeight + m.GapY;
    if (stepX <= 0 || stepY <= 0)
        return d;
    const int cols = (m.AreaWidth - 2 * m.GapX) / stepX;
    const int rows = (m.AreaHeight - 2 * m.GapY) / stepY;
    if (cols * rows < present) {
        // Room for one more row, margins included: with a single gap the
        // next count would come out the same and the window would stop
        // growing with tiles still below its edge.
        d.GrowWindowBy = std::max(0, (rows + 1) * stepY + 2 * m.GapY - m.AreaHeight);
    }
    else if (present + cols < cols * rows)
        d.GrowTiles = true;
    return d;
}

TArrangement ArrangeTilesCalc(const TGridMetrics& m, const std::array<bool, kUirCount>& present,
                              int cbWidth, int cbHeight)
{
    TArrangement a;
    const int stepX = m.TileWidth + m.GapX, stepY = m.TileHeight + m.GapY;
    if (stepX <= 0 || stepY <= 0)
        return a;
    a.Cols = (m.AreaWidth - 2 * m.GapX) / stepX;
    const int inner = m.AreaHeight - 2 * m.GapY;
    a.Rows = inner / stepY + ((inner % stepY) > m.TileHeight - m.GapY ? 1 : 0);
    a.X0 = (m.AreaWidth - a.Cols * stepX) / 2;
    a.Y0 = std::max(m.GapY, (m.AreaHeight - a.Rows * stepY) / 2);

    int col = 0, y = a.Y0;
    for (int i = 0; i < kUirCount; ++i) {
        TTilePlace& t = a.Uir[i];
        if (!present[i])
            continue;
        t.Visible = true;
        t.Top = y;
        t.Left = a.X0 + col * stepX;
        if (t.Left > m.AreaWidth - m.TileWidth - 2 * m.GapX) {
            t.Left = a.X0;
            y += stepY;
            t.Top = y;
            col = 0;
        }
        ++col;
    }
    a.Cb.Visible = true;
    a.Cb.Left = a.X0 + col * stepX;
    if (a.Cb.Left > m.AreaWidth - cbWidth - 2 * m.GapX) {
        a.Cb.Left = a.X0;
        y += cbHeight + m.GapY;
    }
    a.Cb.Top = y;
    return a;
}

namespace {

// One axis: `at` moved into [lo, lo + room - size]; the origin when it does not fit.
int KeepInside(int at, int size, int lo, int room)
{
    return std::max(lo, std::min(at, lo + room - size));
}

}  // namespace

TPlacePoint PlaceWindowCalc(const TPlaceRule& rule, int width, int height, const TPlaceRect& screen)
{
    const TPlaceRect& o = rule.Over;
    TPlacePoint p{o.Left, o.Top};
    if (rule.Kind != TPlaceKind::AtTopLeft)
        p.Left = o.Left + o.Width / 2 - width / 2;
    if (rule.Kind == TPlaceKind::Centred)
        p.Top = o.Top + o.Height / 2 - height / 2;
    else if (rule.Kind == TPlaceKind::CentredHorizontally)
        p.Top = rule.Top;
    if (screen.Width > 0 && screen.Height > 0) {
        p.Left = KeepInside(p.Left, width, screen.Left, screen.Width);
        p.Top = KeepInside(p.Top, height, screen.Top, screen.Height);
    }
    return p;
}

}  // namespace kestrel
