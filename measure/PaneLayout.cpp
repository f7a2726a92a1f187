#include "measure/PaneLayout.h"

#include <cmath>

namespace merival {

PaneLayout LayOutChannelPanes(const PaneDesign& design,
                              const std::array<bool, kChannelCount>& selected,
                              const std::array<int, kChannelCount>& typeIndex) {
    PaneLayout layout;
    int top = design.frameTop;
    int height = 0;
    int frameHeight = kFrameMargin;
    for (int n = 0; n < kChannelCount; ++n) {
        if (!selected[n]) {
            continue;
        }
        PaneRow& row = layout.rows[n];
        row.placed = true;
        row.valueTop = top + height + kRowGap;
        row.valueHeight = design.valueHeight[n];
        row.pictureTop = row.valueTop - kPictureRise;
        row.pictureHeight = design.pictureHeight[n];
        if (typeIndex[n] == kFlowMeterType || typeIndex[n] == kDualResistivityType) {
            row.instrumentPicture = true;
            row.pictureHeight = kTallPictureHeight;
            row.valueHeight = kTallValueHeight;
        }
        top = row.valueTop;
        height = row.valueHeight;
        frameHeight = top + height + kFrameMargin;
    }
    layout.frameHeight = frameHeight;
    layout.decorationHeight = frameHeight - kDecorationInset;
    return layout;
}

int TwipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

}  // namespace merival
