#include <gtest/gtest.h>

#include "measure/PaneLayout.h"

namespace merival {
namespace {

constexpr int kTop = 1000;

PaneDesign Design() {
    PaneDesign design;
    design.frameTop = kTop;
    design.valueHeight = {375, 390, 375, 375};
    design.pictureHeight = {500, 510, 520, 530};
    return design;
}

TEST(LayOutChannelPanes, StacksSelectedRowsFromTheFrameTop) {
    struct Row {
        const char* name;
        std::array<bool, 4> selected;
        std::array<int, 4> types;
        std::array<int, 4> valueTop;  // -1: not placed
        std::array<int, 4> valueHeight;
        int frameHeight;
    };
    const Row rows[] = {
        {"nothing selected",
         {false, false, false, false},
         {2, 2, 2, 2},
         {-1, -1, -1, -1},
         {0, 0, 0, 0},
         720},
        {"only channel 3 takes the first row",
         {false, false, false, true},
         {2, 2, 2, 2},
         {-1, -1, -1, kTop + 345},
         {0, 0, 0, 375},
         kTop + 345 + 375 + 720},
        {"pH then flow meter",
         {true, true, false, false},
         {2, 5, -1, -1},
         {kTop + 345, kTop + 345 + 375 + 345, -1, -1},
         {375, 1125, 0, 0},
         kTop + 345 + 375 + 345 + 1125 + 720},
        {"channel 1 keeps its design height 390",
         {false, true, true, false},
         {0, 1, 2, 3},
         {-1, kTop + 345, kTop + 345 + 390 + 345, -1},
         {0, 390, 375, 0},
         kTop + 345 + 390 + 345 + 375 + 720},
        {"dual resistivity is tall, unselected flow meter takes no room",
         {true, false, true, true},
         {13, 5, 6, 12},
         {kTop + 345, -1, kTop + 345 + 1125 + 345, kTop + 345 + 1125 + 345 + 375 + 345},
         {1125, 0, 375, 375},
         kTop + 345 + 1125 + 345 + 375 + 345 + 375 + 720},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PaneLayout layout = LayOutChannelPanes(Design(), row.selected, row.types);
        for (size_t n = 0; n < 4; ++n) {
            SCOPED_TRACE(n);
            EXPECT_EQ(layout.rows[n].placed, row.valueTop[n] >= 0);
            if (row.valueTop[n] >= 0) {
                EXPECT_EQ(layout.rows[n].valueTop, row.valueTop[n]);
                EXPECT_EQ(layout.rows[n].valueHeight, row.valueHeight[n]);
                EXPECT_EQ(layout.rows[n].pictureTop, row.valueTop[n] - 60);
            }
        }
        EXPECT_EQ(layout.frameHeight, row.frameHeight);
        EXPECT_EQ(layout.decorationHeight, row.frameHeight - 250);
    }
}

TEST(LayOutChannelPanes, OnlyFlowAndDualResistivityRowsTakeTheInstrumentPicture) {
    for (int type = -1; type < 16; ++type) {
        SCOPED_TRACE(type);
        const PaneLayout layout =
            LayOutChannelPanes(Design(), {false, false, true, false}, {0, 0, type, 0});
        const PaneRow& row = layout.rows[2];
        const bool tall = type == 5 || type == 13;
        EXPECT_EQ(row.instrumentPicture, tall);
        EXPECT_EQ(row.pictureHeight, tall ? 1225 : 520);
        EXPECT_EQ(row.valueHeight, tall ? 1125 : 375);
    }
}

TEST(TwipsToPixels, UsesFourteenHundredFortyTwipsPerInch) {
    EXPECT_EQ(TwipsToPixels(1440, 96), 96);
    EXPECT_EQ(TwipsToPixels(345, 96), 23);
    EXPECT_EQ(TwipsToPixels(3290, 96), 219);   // 219.33
    EXPECT_EQ(TwipsToPixels(3290, 120), 274);  // 274.17
    EXPECT_EQ(TwipsToPixels(30, 96), 2);
    EXPECT_EQ(TwipsToPixels(0, 144), 0);
}

}  // namespace
}  // namespace merival
