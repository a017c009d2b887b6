#pragma once

#include <array>
#include <cstddef>

#include "workspace/graph_store.h"

namespace varnix {

/// One colour of the distinct-colours palette: the variant for the screen
/// (bright, for the usual black chart) and the one for paper (darker, for
/// the white print page). Colours are 0x00BBGGRR.
struct PaletteColour {
  Colour screen;
  Colour print;
};

/// Ten colours that stay apart on black and on white and for the common
/// colour-vision deficiencies (the Okabe-Ito set with sky blue, orange,
/// bluish green, yellow, blue, vermillion and reddish purple, then grey,
/// pale cyan and khaki). Red, the highlight colour, is left out.
inline constexpr std::array<PaletteColour, 10> kDistinctPalette = {{
    {0xE9B456, 0xA8781E},  // sky blue
    {0x009FE6, 0x006AA5},  // orange
    {0x739E00, 0x5A7800},  // bluish green
    {0x42E4F0, 0x00777F},  // yellow
    {0xD99A3A, 0xA86000},  // blue
    {0x005ED5, 0x0049A8},  // vermillion
    {0xA779CC, 0x8A4FA8},  // reddish purple
    {0xBBBBBB, 0x555555},  // grey
    {0xFFDD99, 0x9C7A22},  // pale cyan
    {0x88CCDD, 0x3F6E7E},  // khaki
}};

/// The palette colour of graph slot i.
inline Colour distinctColour(std::size_t slot, bool print) {
  const PaletteColour& c = kDistinctPalette[slot % kDistinctPalette.size()];
  return print ? c.print : c.screen;
}

}  // namespace varnix
