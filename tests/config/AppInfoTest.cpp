#include <gtest/gtest.h>

#include "config/AppInfo.h"

using namespace merival;

TEST(AppInfo, TitleVersionAndBlockChoice) {
    EXPECT_EQ(AppTitle(), QStringLiteral("MERIVAL   V 2.19"));
    EXPECT_DOUBLE_EQ(VersionNumber(), 2.19);
    EXPECT_TRUE(BlockChoiceEnabled());
}

TEST(AppInfo, TypeListHasSixteenEntriesInOrder) {
    const QStringList& list = InstrumentTypeList();
    ASSERT_EQ(list.size(), kInstrumentTypeCount);
    EXPECT_EQ(list.at(0), QStringLiteral("Résistivité"));
    EXPECT_EQ(list.at(kFlowMeterType), QStringLiteral("Débit"));
    EXPECT_EQ(list.at(kDualResistivityType), QStringLiteral("R_847"));
    EXPECT_EQ(list.at(14), QStringLiteral("738     "));
    EXPECT_EQ(list.at(15).size(), 8);
}
