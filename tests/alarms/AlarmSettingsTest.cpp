#include <gtest/gtest.h>

#include "alarms/AlarmSettings.h"
#include "base/IniFile.h"
#include "common/TempDir.h"

namespace merival {
namespace {

TEST(AlarmSettings, IniKeysWithAPointWhateverTheLocaleAndMissingKeysAsNoLimit) {
    test::CurrentTempDir dir;
    AlarmSettings s;
    EXPECT_EQ(s.lossPasses, 3) << "loss of communication on by default";
    EXPECT_EQ(s.silentIntervalSeconds, 10);
    s.lossPasses = 5;
    s.silentIntervalSeconds = 2.5;
    s.command = QStringLiteral("/usr/local/bin/sms");
    s.arguments = QStringLiteral("--to \"+33 6, 12\"");
    s.channels[1] = {6.5, 8.25, 0.1, 4};
    s.channels[3].high = -1.5;
    {
        const auto ini = OpenIni();
        SaveAlarmSettings(*ini, s);
    }
    const QString text = QString::fromUtf8(dir.read(QStringLiteral("merival.ini")));
    for (const char* line : {"[Alarmes]", "PerteCommunication=5", "IntervalleStationMuette=2.5",
                             "Voie1\\SeuilBas=6.5", "Voie1\\SeuilHaut=8.25",
                             "Voie1\\BandeMorte=0.1", "Voie1\\Retard=4", "Voie3\\SeuilHaut=-1.5"}) {
        EXPECT_TRUE(text.contains(QLatin1String(line))) << line << "\n" << text.toStdString();
    }
    EXPECT_FALSE(text.contains(QStringLiteral("Voie3\\SeuilBas"))) << "no limit, no key";
    Status warning;
    const auto ini = OpenIni();
    EXPECT_EQ(LoadAlarmSettings(*ini, &warning), s);
    EXPECT_TRUE(warning.ok());

    ASSERT_TRUE(dir.write(QStringLiteral("merival.ini"),
                          "[Alarmes]\nPerteCommunication=-2\nVoie0\\SeuilHaut=8,5\n"
                          "Voie0\\SeuilBas=4\nArguments=a, b\n"));
    const auto damaged = OpenIni();
    const AlarmSettings read = LoadAlarmSettings(*damaged, &warning);
    EXPECT_EQ(read.lossPasses, 3);
    EXPECT_FALSE(read.channels[0].high.has_value());
    EXPECT_EQ(read.channels[0].low, 4.0);
    EXPECT_EQ(read.arguments, QStringLiteral("a, b")) << "a hand-written comma";
    EXPECT_TRUE(warning.message.contains(QStringLiteral("Voie0/SeuilHaut")));
    EXPECT_TRUE(warning.message.contains(QStringLiteral("PerteCommunication")));
}

TEST(AlarmSettings, TypedNumbersUseTheLocaleSeparatorOnly) {
    EXPECT_EQ(ParseTypedNumber(QStringLiteral(" 7,25 "), u','), 7.25);
    EXPECT_EQ(ParseTypedNumber(QStringLiteral("-,5"), u','), -0.5);
    EXPECT_EQ(ParseTypedNumber(QStringLiteral("12"), u','), 12.0);
    EXPECT_EQ(ParseTypedNumber(QStringLiteral("7.25"), u'.'), 7.25);
    for (const char* bad : {"7.25", "1 000", "", "abc", "1e3", "7,2,5", "inf", "nan"}) {
        EXPECT_FALSE(ParseTypedNumber(QLatin1String(bad), u',').has_value()) << bad;
    }
    EXPECT_EQ(TypedNumber(0.1, u','), QStringLiteral("0,1"));
    EXPECT_EQ(TypedNumber(1e-7, u','), QStringLiteral("0"));
    EXPECT_EQ(TypedNumber(-1500, u','), QStringLiteral("-1500"));
}

}  // namespace
}  // namespace merival
