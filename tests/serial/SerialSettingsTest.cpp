#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "common/TempDir.h"
#include "config/FileSizeLimit.h"
#include "serial/SerialSettings.h"

using namespace merival;
using merival::test::CurrentTempDir;

namespace {

QByteArray ReadGolden(const QString& name) {
    QFile f(QStringLiteral(MERIVAL_TEST_DATA "/portcom/") + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

SerialSettings Make(int port, int speed, int parity, int stop) {
    return SerialSettings{static_cast<qint16>(port), static_cast<qint16>(speed),
                          static_cast<qint16>(parity), static_cast<qint16>(stop)};
}

std::string Describe(const SerialSettings& s) {
    return QStringLiteral("{%1,%2,%3,%4}")
        .arg(s.Port)
        .arg(s.SpeedIndex)
        .arg(s.ParityIndex)
        .arg(s.StopBitsIndex)
        .toStdString();
}

}  // namespace

TEST(SerialSettings, LineSettingsFromTheTables) {
    struct Row {
        SerialSettings settings;
        const char* string;
        int baud;
    } rows[] = {
        {Make(1, 0, 0, 0), "9600,n,8,1", 9600},
        {Make(1, 2, 1, 1), "2400,e,8,2", 2400},
        {Make(1, 1, 2, 0), "4800,o,8,1", 4800},
        {Make(3, 1, 1, 1), "4800,e,8,2", 4800},
        // Outside the tables nothing is invented.
        {Make(1, 3, 3, 2), ",,8,", 0},
        {Make(1, -1, -1, -1), ",,8,", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(Describe(row.settings));
        EXPECT_EQ(SettingsString(row.settings), QString::fromLatin1(row.string));
        EXPECT_EQ(BaudRate(row.settings), row.baud);
    }
}

TEST(SerialSettings, WritesTheGoldenFiles) {
    EXPECT_EQ(WriteSerialSettingsText(Make(3, 1, 1, 1)),
              ReadGolden(QStringLiteral("com3-4800-even-2stop.dat")));
    EXPECT_EQ(WriteSerialSettingsText(Make(1, 0, 0, 0)),
              ReadGolden(QStringLiteral("com1-9600-none-1stop.dat")));

    CurrentTempDir dir;
    const Status saved = SaveSerialSettings(Make(3, 1, 1, 1));
    EXPECT_TRUE(saved.ok()) << saved.message.toStdString();
    EXPECT_EQ(dir.read(QStringLiteral("PortCom.dat")),
              ReadGolden(QStringLiteral("com3-4800-even-2stop.dat")));
}

TEST(SerialSettings, SecondNumberOfLineOneStartsAtColumnFifteen) {
    struct Row {
        int port;
        int speed;
        const char* line1;
    } rows[] = {
        {4, 2, " 4             2 "},  {-1, 0, "-1             0 "},
        {12, 0, " 12            0 "}, {-32768, 2, "-32768         2 "},
        {0, -3, " 0            -3 "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line1);
        const QByteArray text = WriteSerialSettingsText(Make(row.port, row.speed, 0, 0));
        EXPECT_EQ(text.left(text.indexOf("\r\n")), QByteArray(row.line1));
    }
}

TEST(SerialSettings, EveryValidRecordSurvivesWriteThenRead) {
    for (int port = 1; port <= 4; ++port) {
        for (int speed = 0; speed <= 2; ++speed) {
            for (int parity = 0; parity <= 2; ++parity) {
                for (int stop = 0; stop <= 1; ++stop) {
                    const SerialSettings s = Make(port, speed, parity, stop);
                    SCOPED_TRACE(Describe(s));
                    const SerialSettingsRead read =
                        ReadSerialSettingsText(WriteSerialSettingsText(s));
                    EXPECT_EQ(read.settings, s);
                    EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
                }
            }
        }
    }
}

TEST(SerialSettings, ReadsNumbersWhateverTheDelimiters) {
    struct Row {
        const char* name;
        QByteArray bytes;
        SerialSettings want;
    } rows[] = {
        {"golden", ReadGolden(QStringLiteral("com3-4800-even-2stop.dat")), Make(3, 1, 1, 1)},
        {"four lines", "2\r\n2\r\n0\r\n1\r\n", Make(2, 2, 0, 1)},
        {"one line", "2 2 0 1", Make(2, 2, 0, 1)},
        {"commas", "1,0\r\n0\r\n0\r\n", Make(1, 0, 0, 0)},
        {"mixed runs", "\t\r\n  4 ,, \t1\n\n2,\r\n 1 \r\n", Make(4, 1, 2, 1)},
        {"extra numbers ignored", "3 2 1 0 9 9", Make(3, 2, 1, 0)},
        {"numeric prefix", "&H3 1.0 2x 0", Make(3, 1, 2, 0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SerialSettingsRead read = ReadSerialSettingsText(row.bytes);
        EXPECT_EQ(read.settings, row.want) << Describe(read.settings);
        EXPECT_TRUE(read.problem.isEmpty()) << read.problem.toStdString();
    }
    EXPECT_EQ(SettingsString(ReadSerialSettingsText("2\r\n2\r\n0\r\n1\r\n").settings),
              QStringLiteral("2400,n,8,2"));
}

TEST(SerialSettings, BadFieldsFallBackOneByOne) {
    struct Row {
        const char* name;
        QByteArray bytes;
        SerialSettings want;
        const char* inProblem;
    } rows[] = {
        {"three numbers", "2 2 1", Make(2, 2, 1, 0), "3 valeurs sur 4"},
        {"one number", " 4 \r\n", Make(4, 0, 0, 0), "9600 bauds, sans parité, 1 bit de stop"},
        {"empty", "", Make(1, 0, 0, 0), "0 valeurs sur 4"},
        {"port 5", "5 2 1 1", Make(1, 2, 1, 1), "numéro de port 5 hors table"},
        {"port 0", "0 2 1 1", Make(1, 2, 1, 1), "numéro de port 0"},
        {"speed 3", "3 3 1 1", Make(3, 0, 1, 1), "indice de vitesse 3"},
        {"parity 3", "3 1 3 1", Make(3, 1, 0, 1), "indice de parité 3"},
        {"stop bits 2", "3 1 1 2", Make(3, 1, 1, 0), "indice de bits de stop 2"},
        {"negative", "3 -1 1 1", Make(3, 0, 1, 1), "vitesse -1"},
        {"not a number", "3 x 1 1", Make(3, 0, 1, 1), "« x » illisible"},
        {"beyond 16 bits", "70000 1 1 1", Make(1, 1, 1, 1), "port « 70000 »"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SerialSettingsRead read = ReadSerialSettingsText(row.bytes);
        EXPECT_EQ(read.settings, row.want) << Describe(read.settings);
        EXPECT_TRUE(read.problem.contains(QStringLiteral("PortCom.dat")))
            << read.problem.toStdString();
        EXPECT_TRUE(read.problem.contains(QString::fromUtf8(row.inProblem)))
            << read.problem.toStdString();
    }
}

TEST(SerialSettings, LoadReplacesTheRecordAndReportsFileProblems) {
    CurrentTempDir dir;
    SerialSettings settings = Make(4, 2, 2, 1);

    Status status = LoadSerialSettings(settings);
    EXPECT_EQ(settings, Make(1, 0, 0, 0));
    EXPECT_TRUE(status.message.contains(QStringLiteral("PortCom.dat")))
        << status.message.toStdString();
    EXPECT_TRUE(status.message.contains(QStringLiteral("introuvable")));

    ASSERT_TRUE(dir.write(QStringLiteral("PortCom.dat"), "2 2 1"));
    settings = Make(4, 2, 2, 1);
    status = LoadSerialSettings(settings);
    EXPECT_EQ(settings, Make(2, 2, 1, 0));
    EXPECT_TRUE(status.message.contains(QStringLiteral("incomplet")))
        << status.message.toStdString();

    ASSERT_TRUE(dir.write(QStringLiteral("PortCom.dat"),
                          ReadGolden(QStringLiteral("com3-4800-even-2stop.dat"))));
    status = LoadSerialSettings(settings);
    EXPECT_TRUE(status.ok()) << status.message.toStdString();
    EXPECT_EQ(settings, Make(3, 1, 1, 1));
    EXPECT_EQ(SettingsString(settings), QStringLiteral("4800,e,8,2"));

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("dir")));
    status = LoadSerialSettings(settings, dir.filePath(QStringLiteral("dir")));
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(settings, Make(1, 0, 0, 0));
}

TEST(SerialSettings, FailedSaveKeepsTheOldFileAndSaysWhy) {
    CurrentTempDir dir;
    const QByteArray old = ReadGolden(QStringLiteral("com3-4800-even-2stop.dat"));
    ASSERT_TRUE(dir.write(QStringLiteral("PortCom.dat"), old));

    Status status;
    {
        test::FileSizeLimit limit(8);
        status = SaveSerialSettings(Make(1, 0, 0, 0));
    }
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(QStringLiteral("PortCom.dat")))
        << status.message.toStdString();
    EXPECT_EQ(dir.read(QStringLiteral("PortCom.dat")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("PortCom.dat")});

    status =
        SaveSerialSettings(Make(1, 0, 0, 0), dir.filePath(QStringLiteral("absent/PortCom.dat")));
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(QStringLiteral("PortCom.dat")));
}
