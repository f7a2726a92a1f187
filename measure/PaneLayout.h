#pragma once

#include <array>

#include "config/AppInfo.h"

namespace merival {

// Vertical geometry of the measurement window, in twips (1440 per inch). Only the rows of
// selected channels are placed; the others keep their design-time geometry.
struct PaneDesign {
    int frameTop = 1080;  // top of Cadre1
    std::array<int, kChannelCount> valueHeight{375, 390, 375, 375};
    std::array<int, kChannelCount> pictureHeight{495, 495, 495, 495};
};

struct PaneRow {
    bool placed = false;  // false: the row keeps its design-time geometry
    int valueTop = 0;     // Etiquette3(n) and Etiquette1(n)
    int valueHeight = 0;
    int pictureTop = 0;  // Dessin1(n)
    int pictureHeight = 0;
    // Flow meters and dual resistivity meters: "instrum1.bmp" and the two volume lines.
    bool instrumentPicture = false;
};

struct PaneLayout {
    std::array<PaneRow, kChannelCount> rows;
    int frameHeight = 0;       // Cadre1
    int decorationHeight = 0;  // Dessin2
};

inline constexpr int kRowGap = 345;
inline constexpr int kFrameMargin = 720;
inline constexpr int kPictureRise = 60;
inline constexpr int kTallValueHeight = 1125;
inline constexpr int kTallPictureHeight = 1225;
inline constexpr int kDecorationInset = 250;

// Stacks the rows of the selected channels from the frame's top in channel order, each 345
// below the previous value label; the frame ends 720 below the last one.
[[nodiscard]] PaneLayout LayOutChannelPanes(const PaneDesign& design,
                                            const std::array<bool, kChannelCount>& selected,
                                            const std::array<int, kChannelCount>& typeIndex);

// Twips to device pixels for a logical resolution in dots per inch, rounded to nearest.
[[nodiscard]] int TwipsToPixels(int twips, double dpi);

}  // namespace merival
