#pragma once
// The tile grid arithmetic of the main window, apart from the widgets.
#include <array>

#include "state/Model.h"

namespace kestrel {

struct TGridMetrics {
    int AreaWidth = 0, AreaHeight = 0;  // the tile area
    int TileWidth = 0, TileHeight = 0;  // the first UIR tile (all have its size)
    int GapX = 5, GapY = 5;
};

struct TFitDecision {
    int GrowWindowBy = 0;    // > 0: make the main window taller by this much
    bool GrowTiles = false;  // make every tile GapX wider and GapY taller
};

// FitTiles: room for `present` tiles, or growth into a spare row.
TFitDecision FitTilesCalc(const TGridMetrics& m, int present);

struct TTilePlace {
    int Left = 0, Top = 0;
    bool Visible = false;
};

struct TArrangement {
    std::array<TTilePlace, kUirCount> Uir{};
    TTilePlace Cb;
    int Cols = 0, Rows = 0, X0 = 0, Y0 = 0;
};

// ArrangeTiles: where each present UIR tile and then the CB tile go.
TArrangement ArrangeTilesCalc(const TGridMetrics& m, const std::array<bool, kUirCount>& present,
                              int cbWidth, int cbHeight);

}  // namespace kestrel
