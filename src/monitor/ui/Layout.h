#pragma once
// The main window's arithmetic apart from the widgets: the tile grid, and
// where windows open.
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

// Window placement, in screen pixels.
struct TPlaceRect {
    int Left = 0, Top = 0, Width = 0, Height = 0;
};
struct TPlacePoint {
    int Left = 0, Top = 0;
};

enum class TPlaceKind {
    Centred,              // on the reference's centre
    CentredHorizontally,  // on the reference's middle column, its top on row Top
    AtTopLeft,            // on the reference's top-left corner
};

struct TPlaceRule {
    TPlaceKind Kind = TPlaceKind::Centred;
    TPlaceRect Over;  // the reference rectangle
    int Top = 0;      // CentredHorizontally only
};

// Where the top-left corner of a window of outer size width x height goes by
// `rule`, moved the least that keeps the whole window inside `screen` (the
// screen's available area); a window larger than that starts at its origin,
// so its title bar and its first controls stay reachable.
TPlacePoint PlaceWindowCalc(const TPlaceRule& rule, int width, int height, const TPlaceRect& screen);

}  // namespace kestrel
