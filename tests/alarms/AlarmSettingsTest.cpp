#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include "alarms/AlarmCommand.h"
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
    s.channels[1] = {6.5, 8.25, 0.1, 4, QStringLiteral("µS")};
    s.channels[3].high = -1.5;
    {
        const auto ini = OpenIni();
        SaveAlarmSettings(*ini, s);
    }
    const QString text = QString::fromUtf8(dir.read(QStringLiteral("merival.ini")));
    for (const char* line :
         {"[Alarmes]", "PerteCommunication=5", "IntervalleStationMuette=2.5", "Voie1\\SeuilBas=6.5",
          "Voie1\\SeuilHaut=8.25", "Voie1\\BandeMorte=0.1", "Voie1\\Retard=4", "Voie1\\Unite=µS",
          "Voie3\\SeuilHaut=-1.5"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line << "\n" << text.toStdString();
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

// The arguments a real command receives from a merival.ini written by hand.
QStringList ArgumentsReceived(const test::CurrentTempDir& dir) {
    QFile::remove(dir.filePath(QStringLiteral("recu.txt")));
    const auto ini = OpenIni();
    const AlarmSettings settings = LoadAlarmSettings(*ini);
    AlarmCommand command;
    bool done = false;
    QObject::connect(&command, &AlarmCommand::finished, &command, [&] { done = true; });
    command.setCommand(settings.command, settings.arguments);
    command.Run({QDateTime::currentDateTimeUtc(), 1, QStringLiteral("Bassin"),
                 QStringLiteral("9 pH"), alarm_event::kHigh});
    QElapsedTimer guard;
    guard.start();
    while (!done && guard.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QStringList received = QString::fromUtf8(dir.read(QStringLiteral("recu.txt"))).split(u'\n');
    received.removeLast();
    return received;
}

TEST(AlarmSettings, QuotesWrittenByHandGroupTheCommandArguments) {
    test::CurrentTempDir dir;
    ASSERT_TRUE(
        dir.write(QStringLiteral("alerte"),
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > recu.txt\n"));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath(QStringLiteral("alerte")),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray command = "Commande=" + dir.filePath(QStringLiteral("alerte")).toUtf8() + "\n";
    const QStringList event = {QStringLiteral("Seuil haut"), QStringLiteral("1"),
                               QStringLiteral("Bassin"), QStringLiteral("9 pH")};
    // As the README shows it.
    ASSERT_TRUE(dir.write(QStringLiteral("merival.ini"),
                          "[Alarmes]\nVoie1\\SeuilHaut=8.5\n" + command +
                              "Arguments=--destinataire \"+33 6 12 34 56 78\"\n"));
    const QStringList expected = QStringList{"--destinataire", "+33 6 12 34 56 78"} + event;
    EXPECT_EQ(ArgumentsReceived(dir), expected);
    {
        const auto ini = OpenIni();  // another part of the program saves its own setting
        ini->setValue(QStringLiteral("Historique/Enregistrement"), false);
    }
    EXPECT_EQ(ArgumentsReceived(dir), expected) << dir.read(QStringLiteral("merival.ini")).data();

    const struct {
        const char* line;
        QStringList fixed;
    } forms[] = {
        {"Arguments=\"a b\" c", {"a b", "c"}},
        {"Arguments = \"x, y\" \"z\"", {"x, y", "z"}},
        {"Arguments=a,b c", {"a,b", "c"}},
        {"Arguments=\"--to \\\"1 2\\\", 3\"", {"--to", "1 2,", "3"}},  // as the program saves it
        {"Arguments=plain words", {"plain", "words"}},
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form.line);
        ASSERT_TRUE(
            dir.write(QStringLiteral("merival.ini"), "[Alarmes]\n" + command + form.line + "\n"));
        EXPECT_EQ(ArgumentsReceived(dir), form.fixed + event);
    }
}

// What the program saves is not taken for a hand-written line on the next start, whatever
// escapes QSettings gave it; a unit without a limit is neither saved nor read.
TEST(AlarmSettings, SavedSettingsComeBackTheSame) {
    test::CurrentTempDir dir;
    for (const QString& arguments : {QStringLiteral("-t\tx \"a\\b\""), QStringLiteral("a\u0018b 1"),
                                     QStringLiteral("-!") + QChar(0) + QStringLiteral("merival 7"),
                                     QStringLiteral("@x ; y=1")}) {
        SCOPED_TRACE(arguments.toStdString());
        const QString path =
            dir.filePath(QString::number(qHash(arguments)) + QStringLiteral(".ini"));
        AlarmSettings s;
        s.arguments = arguments;
        SaveAlarmSettings(*OpenIni(path), s);
        EXPECT_EQ(LoadAlarmSettings(*OpenIni(path)).arguments, arguments);
    }
    ASSERT_TRUE(dir.write(QStringLiteral("merival.ini"),
                          "[Alarmes]\nVoie0\\Unite=pH\nVoie1\\Unite=pH\nVoie1\\SeuilBas=6\n"));
    const AlarmSettings read = LoadAlarmSettings(*OpenIni());
    EXPECT_EQ(read.channels[0].unit, QString());
    EXPECT_EQ(read.channels[1].unit, QStringLiteral("pH"));
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
