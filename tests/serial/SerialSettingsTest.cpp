#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <ostream>

#include "common/TempDir.h"
#include "config/FileSizeLimit.h"
#include "serial/SerialSettings.h"

namespace merival {
void PrintTo(const SerialSettings& s, std::ostream* os) {
    *os << '{' << s.Port << ',' << s.SpeedIndex << ',' << s.ParityIndex << ',' << s.StopBitsIndex
        << '}';
}
}  // namespace merival

using namespace merival;
using merival::test::CurrentTempDir;

namespace {

const QString kPortCom = QStringLiteral("PortCom.dat");

QByteArray Golden(const char* name) {
    QFile f(QStringLiteral(MERIVAL_TEST_DATA "/portcom/") + QLatin1String(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

SerialSettings Make(int port, int speed, int parity, int stop) {
    return {qint16(port), qint16(speed), qint16(parity), qint16(stop)};
}

}  // namespace

TEST(SerialSettings, LineSettingsFromTheTables) {
    const struct {
        SerialSettings settings;
        const char* string;
        int baud;
    } rows[] = {
        {Make(1, 0, 0, 0), "9600,n,8,1", 9600},
        {Make(1, 2, 1, 1), "2400,e,8,2", 2400},
        {Make(1, 1, 2, 0), "4800,o,8,1", 4800},
        {Make(1, 3, 3, 2), ",,8,", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.string);
        EXPECT_EQ(SettingsString(row.settings), QLatin1String(row.string));
        EXPECT_EQ(BaudRate(row.settings), row.baud);
    }
}

TEST(SerialSettings, WritesPrintZones) {
    EXPECT_EQ(WriteSerialSettingsText(Make(3, 1, 1, 1)), Golden("com3-4800-even-2stop.dat"));
    EXPECT_EQ(WriteSerialSettingsText(Make(1, 0, 0, 0)), Golden("com1-9600-none-1stop.dat"));
    // The second number of line 1 starts at column 15 whatever the width of the first.
    const std::pair<SerialSettings, const char*> rows[] = {
        {Make(-1, 0, 0, 0), "-1             0 \r\n 0 \r\n 0 \r\n"},
        {Make(12, 2, -5, 1), " 12            2 \r\n-5 \r\n 1 \r\n"},
        {Make(-32768, 2, 0, 0), "-32768         2 \r\n 0 \r\n 0 \r\n"},
    };
    for (const auto& [settings, text] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(WriteSerialSettingsText(settings), QByteArray(text));
    }
}

TEST(SerialSettings, EveryValidRecordSurvivesWriteThenRead) {
    for (int i = 0; i < 4 * 3 * 3 * 2; ++i) {
        const SerialSettings s = Make(1 + i % 4, i / 4 % 3, i / 12 % 3, i / 36);
        const SerialSettingsRead read = ReadSerialSettingsText(WriteSerialSettingsText(s));
        EXPECT_EQ(read.settings, s);
        EXPECT_EQ(read.problem, QString());
    }
}

TEST(SerialSettings, ReadsFieldsWhateverTheDelimiters) {
    const std::pair<QByteArray, SerialSettings> rows[] = {
        {"2\r\n2\r\n0\r\n1\r\n", Make(2, 2, 0, 1)},
        {"2 2 0 1", Make(2, 2, 0, 1)},
        {"1,0\r\n0\r\n0\r\n", Make(1, 0, 0, 0)},
        {"\t\r\n  4 ,, \t1\n\n2,\r\n 1 \r\n", Make(4, 1, 2, 1)},
        {"3 2 1 0 9 9", Make(3, 2, 1, 0)},
        {"&H3 1.0 2x 0", Make(3, 1, 2, 0)},
    };
    for (const auto& [bytes, want] : rows) {
        SCOPED_TRACE(bytes.toStdString());
        const SerialSettingsRead read = ReadSerialSettingsText(bytes);
        EXPECT_EQ(read.settings, want);
        EXPECT_EQ(read.problem, QString());
    }
}

TEST(SerialSettings, BadFieldsFallBackOneByOne) {
    const struct {
        QByteArray bytes;
        SerialSettings want;
        const char* inProblem;
    } rows[] = {
        {"2 2 1", Make(2, 2, 1, 0),
         "incomplet (3 valeurs sur 4) ; valeurs retenues : 1 bit de stop"},
        {" 4 \r\n", Make(4, 0, 0, 0), "9600 bauds, sans parité, 1 bit de stop"},
        {"", Make(1, 0, 0, 0), "0 valeurs sur 4"},
        {"5 2 1 1", Make(1, 2, 1, 1), "numéro de port 5 hors table ; COM1 retenu"},
        {"3 3 1 1", Make(3, 0, 1, 1), "indice de vitesse 3"},
        {"3 1 3 1", Make(3, 1, 0, 1), "indice de parité 3"},
        {"3 1 1 2", Make(3, 1, 1, 0), "indice de bits de stop 2"},
        {"3 x 1 1", Make(3, 0, 1, 1), "indice de vitesse « x » illisible"},
        {"70000 1 1 1", Make(1, 1, 1, 1), "numéro de port « 70000 »"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes.toStdString());
        const SerialSettingsRead read = ReadSerialSettingsText(row.bytes);
        EXPECT_EQ(read.settings, row.want);
        EXPECT_TRUE(read.problem.startsWith(QStringLiteral("Fichier PortCom.dat ")));
        EXPECT_TRUE(read.problem.contains(QString::fromUtf8(row.inProblem)))
            << read.problem.toStdString();
    }
}

TEST(SerialSettings, LoadReplacesTheRecordAndReportsFileProblems) {
    CurrentTempDir dir;
    SerialSettings settings = Make(4, 2, 2, 1);
    Status status = LoadSerialSettings(settings);
    EXPECT_EQ(settings, Make(1, 0, 0, 0));
    EXPECT_TRUE(status.message.contains(QStringLiteral("PortCom.dat (fichier introuvable)")))
        << status.message.toStdString();

    ASSERT_TRUE(dir.write(kPortCom, "2 2 1"));
    settings = Make(4, 2, 2, 1);
    EXPECT_FALSE(LoadSerialSettings(settings).ok());
    EXPECT_EQ(settings, Make(2, 2, 1, 0));

    ASSERT_TRUE(dir.write(kPortCom, Golden("com3-4800-even-2stop.dat")));
    EXPECT_TRUE(LoadSerialSettings(settings).ok());
    EXPECT_EQ(SettingsString(settings), QStringLiteral("4800,e,8,2"));

    EXPECT_FALSE(LoadSerialSettings(settings, dir.path()).ok());  // a directory
    EXPECT_EQ(settings, Make(1, 0, 0, 0));
}

TEST(SerialSettings, SaveReplacesTheFileOrKeepsTheOldOneWhole) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(kPortCom, QByteArray(100, 'x')));
    EXPECT_TRUE(SaveSerialSettings(Make(3, 1, 1, 1)).ok());
    EXPECT_EQ(dir.read(kPortCom), Golden("com3-4800-even-2stop.dat"));

    Status status;
    {
        test::FileSizeLimit limit(8);  // the new content cannot be written in full
        status = SaveSerialSettings(Make(1, 0, 0, 0));
    }
    EXPECT_TRUE(status.message.startsWith(
        QStringLiteral("Impossible d'enregistrer le fichier PortCom.dat : ")))
        << status.message.toStdString();
    EXPECT_EQ(dir.read(kPortCom), Golden("com3-4800-even-2stop.dat"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{kPortCom});

    EXPECT_FALSE(
        SaveSerialSettings(Make(1, 0, 0, 0), dir.filePath(QStringLiteral("no/PortCom.dat"))).ok());
}
