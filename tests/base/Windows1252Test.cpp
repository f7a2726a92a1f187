#include <gtest/gtest.h>

#include "base/Windows1252.h"

using namespace merival;

TEST(Windows1252, AccentsAndSpecialsRoundTrip) {
    struct Row {
        QString text;
        QByteArray bytes;
    } rows[] = {
        {QStringLiteral("Débit1"), QByteArray("D\xE9"
                                              "bit1")},
        {QStringLiteral("Réservoir n°2"), QByteArray("R\xE9servoir n\xB0"
                                                     "2")},
        {QStringLiteral("µS €"), QByteArray("\xB5S \x80")},
        {QStringLiteral("œ‘’"), QByteArray("\x9C\x91\x92")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(ToWindows1252(row.text), row.bytes);
        EXPECT_EQ(FromWindows1252(row.bytes), row.text);
    }
}

TEST(Windows1252, UnencodableBecomesQuestionMark) {
    EXPECT_EQ(ToWindows1252(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
}
