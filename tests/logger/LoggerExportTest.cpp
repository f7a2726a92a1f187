#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <vector>

#include "LoggerTestSupport.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "logger/LoggerExport.h"
#include "logger/LoggerWriter.h"

using namespace merival;
using merival::test::CurrentTempDir;
using merival::test::ReadHexDump;
using merival::test::ReadLoggerData;
using merival::test::ScriptedOperator;

namespace {

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct ExportRun {
    Status status;
    QStringList progress;
};

ExportRun Export(const CurrentTempDir& dir, const QString& logger, ScriptedOperator& op) {
    ExportOptions options;
    options.outputDirectory = QDir(dir.path());
    options.messageTitle = QStringLiteral("Titre");
    ExportRun run;
    run.status = ExportLoggerFile(
        logger, op, [&run](const QString& line) { run.progress << line; }, options);
    return run;
}

QStringList OutputsIn(const CurrentTempDir& dir) {
    return QDir(dir.path())
        .entryList({QStringLiteral("*.xls")}, QDir::Files | QDir::System, QDir::Name);
}

void ExpectFinished(const ScriptedOperator& op) {
    ASSERT_FALSE(op.shown.empty());
    EXPECT_EQ(op.shown.back().text, U("Fin d'extraction"));
    EXPECT_EQ(op.shown.back().icon, OperatorIcon::Information);
    EXPECT_EQ(op.beeps, 1);
}

void ExpectFailed(const ExportRun& run, const ScriptedOperator& op, const QString& mentions) {
    EXPECT_FALSE(run.status.ok());
    ASSERT_FALSE(op.shown.empty());
    EXPECT_EQ(op.shown.back().text, run.status.message);
    EXPECT_EQ(op.shown.back().icon, OperatorIcon::Error);
    EXPECT_TRUE(run.status.message.contains(mentions)) << run.status.message.toStdString();
    EXPECT_FALSE(op.texts().contains(U("Fin d'extraction")));
    EXPECT_GE(op.beeps, 1);
}

LoggerRecord Record(int day, qint16 measurement, qint16 temperature) {
    LoggerRecord r;
    r.date = {Bcd(day % 28 + 1), Bcd(day / 28 % 12 + 1), Bcd(24)};
    r.time = {Bcd(12), Bcd(day % 60)};
    r.bySlot[0] = {0, measurement, temperature};
    r.bySlot[1] = {0, static_cast<qint16>(-measurement), temperature};
    return r;
}

}  // namespace

TEST(LoggerExport, WholeFilesMatchTheHandWrittenOnes) {
    struct Output {
        const char* name;
        const char* golden;
    };
    struct Case {
        const char* input;  // hex dump, or "" for a 0-byte logger file
        std::vector<Output> outputs;
        QStringList progress;
    } cases[] = {
        {"ph.log.hex",
         {{"pH-mètre_Bassin A.xls", "ph.1.xls"}},
         {"1 : 12/5/23 8:30  712 215 ", "3 : A/1/24 23:59  -5 -5 ", "4 : 1/2/24 0:5  0 0 "}},
        {"dual.log.hex",
         {{"Debitmètre_Station 1.xls", "dual.1.xls"}, {"R_847_Double R.xls", "dual.2.xls"}},
         {"1 : 1/6/24 10:0  1234 205 12345678", "2 : 2/6/24 10:15  1230 -12 00000099"}},
        {"unknown.log.hex",
         {{"_Essai.xls", "unknown.1.xls"}, {"Oxygenemètre____Cuve_2.xls", "unknown.2.xls"}},
         {"1 : 15/3/24 7:45  999 215 "}},
        {"", {{"_.xls", "empty.1.xls"}}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        CurrentTempDir dir;
        ASSERT_TRUE(dir.write(QStringLiteral("in.log"),
                              *c.input ? ReadHexDump(QString::fromLatin1(c.input)) : QByteArray()));
        ScriptedOperator op;
        const ExportRun run = Export(dir, dir.filePath(QStringLiteral("in.log")), op);
        EXPECT_TRUE(run.status.ok()) << run.status.message.toStdString();
        EXPECT_EQ(run.progress, c.progress);
        ExpectFinished(op);
        EXPECT_EQ(op.shown.size(), 1u);  // no question for new files

        QStringList expectedNames;
        for (const auto& out : c.outputs) {
            SCOPED_TRACE(out.golden);
            expectedNames << U(out.name);
            EXPECT_EQ(dir.read(U(out.name)), ReadLoggerData(QString::fromLatin1(out.golden)));
        }
        expectedNames.sort();
        EXPECT_EQ(OutputsIn(dir), expectedNames);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(),
                  expectedNames.size() + 1);
    }
}

TEST(LoggerExport, ExistingOutputIsOverwrittenOrAppendedOnAnswer) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("in.log"), ReadHexDump(QStringLiteral("ph.log.hex"))));
    const QString logger = dir.filePath(QStringLiteral("in.log"));
    const QString name = U("pH-mètre_Bassin A.xls");
    const QByteArray golden = ReadLoggerData(QStringLiteral("ph.1.xls"));

    // an existing empty file is no reason to ask
    ASSERT_TRUE(dir.write(name, {}));
    ScriptedOperator first;
    ASSERT_TRUE(Export(dir, logger, first).status.ok());
    EXPECT_EQ(first.shown.size(), 1u);

    ScriptedOperator no;
    no.answers = {false};
    ASSERT_TRUE(Export(dir, logger, no).status.ok());
    ASSERT_EQ(no.shown.size(), 2u);
    EXPECT_TRUE(no.shown[0].question);
    EXPECT_EQ(no.shown[0].text,
              U("Le fichier  'pH-mètre_Bassin A.xls'  existe déjà.\nVoulez-vous l'écraser ? "));
    EXPECT_EQ(no.shown[0].icon, OperatorIcon::Question);
    EXPECT_EQ(no.shown[0].title, QStringLiteral("Titre"));
    EXPECT_EQ(dir.read(name), golden + golden);
    ExpectFinished(no);

    ScriptedOperator yes;
    yes.answers = {true};
    ASSERT_TRUE(Export(dir, logger, yes).status.ok());
    EXPECT_EQ(dir.read(name), golden);
}

TEST(LoggerExport, EveryRecordExactlyOnceAcrossChunks) {
    // Enough records to cross the read chunk and the write buffer several times; every 7th
    // record is empty memory.
    constexpr int kCount = 20000;
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("A"), QStringLiteral("04"), 0);  // mV, /1
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("B"), QStringLiteral("04"), 0);
    std::vector<LoggerRecord> records;
    int written = 0;
    for (int i = 1; i <= kCount; ++i) {
        LoggerRecord r = Record(i, static_cast<qint16>(i), 200);
        if (i % 7 == 0) {
            r.date = {0, 0, 0};
        } else {
            ++written;
        }
        records.push_back(r);
    }
    const QByteArray bytes = WriteLoggerFile(header, records);

    struct Tail {
        int extraBytes;
        char firstByte;
        int extraLines;
    } tails[] = {{0, 0, 0}, {5, 0x01, 1}, {21, 0x00, 0}};
    for (const auto& tail : tails) {
        SCOPED_TRACE(tail.extraBytes);
        CurrentTempDir dir;
        QByteArray file = bytes;
        if (tail.extraBytes > 0) {
            file += tail.firstByte + QByteArray(tail.extraBytes - 1, '\0');
        }
        ASSERT_TRUE(dir.write(QStringLiteral("in.log"), file));
        ScriptedOperator op;
        const ExportRun run = Export(dir, dir.filePath(QStringLiteral("in.log")), op);
        ASSERT_TRUE(run.status.ok());
        ASSERT_EQ(run.progress.size(), written + tail.extraLines);

        const QList<QByteArray> lines = dir.read(U("Rh-mètre_A.xls")).split('\n');
        const QList<QByteArray> lines2 = dir.read(U("Rh-mètre_B.xls")).split('\n');
        // 5 header lines, the data lines, then the empty piece after the last CR LF
        ASSERT_EQ(lines.size(), 5 + written + tail.extraLines + 1);
        ASSERT_EQ(lines2.size(), lines.size());
        int line = 5;
        for (int i = 1; i <= kCount; ++i) {
            if (i % 7 == 0) {
                continue;
            }
            const QList<QByteArray> cols = lines[line].split('\t');
            const QList<QByteArray> cols2 = lines2[line].split('\t');
            ++line;
            ASSERT_EQ(cols.size(), 5);
            ASSERT_EQ(cols[2].toInt(), i);
            ASSERT_EQ(cols2[2].toInt(), -i);
            ASSERT_EQ(cols[3], "20");
        }
        ASSERT_TRUE(run.progress.last().startsWith(
            QString::number(kCount + (tail.extraLines ? 1 : 0)) + QStringLiteral(" : ")));
        if (tail.extraLines) {
            EXPECT_EQ(lines[line], "1/0/0\t0:0\t0\t0\t\r");
        }
    }
}

TEST(LoggerExport, EachInstrumentGetsItsColumns) {
    struct Row {
        const char* code;
        qint16 range;
        const char* title;  // after "Date\tHeure\t"
        const char* line;   // after the date and time, for raw 1234 and 215
    } rows[] = {
        {"01", 2, "kOhm\t°C", "12,34\t21,5\t"},
        {"02", 4, "mS\t°C", "12,34\t21,5\t"},
        {"03", 0, "pH\t°C", "12,34\t21,5\t"},
        {"04", 0, "mV\t°C", "1234\t21,5\t"},
        {"05", 3, "mg/l\t°C", "12,34\t21,5\t"},
        {"06", 40, "m3/s\t°C\tCumul m3", "1,234\t21,5\t00000042"},
        {"07", 0, "mg/l\t°C", "1,234\t21,5\t"},
        {"08", 3, "mS\t°C", "1,234\t21,5\t"},
        {"09", 0, "%\t°C", "123,4\t21,5\t"},
        {"0:", 0, "%\t°C", "123,4\t21,5\t"},
        {"0;", 0, "%\t°C", "123,4\t21,5\t"},
        {"0<", 0, "%\t°C", "123,4\t21,5\t"},
        {"0=", 0x13, "FAU\t°C", "123,4\t21,5\t"},
        {"0>", 4, "MOhm\tMOhm", "1,234\t2,15\t"},
        {"0?", 0x72, "°C\t°C", "12,34\t21,5\t"},
        {"10", 0x02, "ppm\t°C", "12,34\t21,5\t"},
        {"11", 0x12, "g/l\t°C", "12,34\t21,5\t"},
        {"12", 0x31, "____\t°C", "1,234\t21,5\t"},
        {"13", 0x03, "ppm\t°C", "123,4\t21,5\t"},
        {"14", 0x04, "ppm\t°C", "1234\t21,5\t"},
        {"15", 0x00, "ppm\t°C", "1234\t21,5\t"},
        {"1?", 0, "", "\t21,5\t"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        CurrentTempDir dir;
        LoggerHeader header;
        header.bySlot[0] =
            MakeLoggerSlot(QStringLiteral("T"), QString::fromLatin1(row.code), row.range);
        LoggerRecord r;
        r.date = {0x01, 0x02, 0x24};
        r.time = {0x03, 0x04};
        r.bySlot[0] = {0x42, 1234, 215};
        ASSERT_TRUE(dir.write(QStringLiteral("in.log"), WriteLoggerFile(header, {r})));
        ScriptedOperator op;
        ASSERT_TRUE(Export(dir, dir.filePath(QStringLiteral("in.log")), op).status.ok());
        const QString instrument = InstrumentName(QString::fromLatin1(row.code));
        const QStringList outputs = OutputsIn(dir);
        ASSERT_EQ(outputs, QStringList{instrument + QStringLiteral("_T.xls")});
        const QString text = QString::fromLatin1(dir.read(outputs[0]));  // Latin-1 ⊂ 1252 here
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        ASSERT_EQ(lines.size(), 7);
        EXPECT_EQ(lines[2], instrument);
        EXPECT_EQ(lines[4], QStringLiteral("Date\tHeure\t") + U(row.title));
        EXPECT_EQ(lines[5], QStringLiteral("1/2/24\t3:4\t") + U(row.line));
    }
}

TEST(LoggerExport, SameNameInBothSlotsGivesTwoFiles) {
    CurrentTempDir dir;
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("03"), 0);
    header.bySlot[1] = MakeLoggerSlot(QStringLiteral("Cuve"), QStringLiteral("03"), 0);
    ASSERT_TRUE(
        dir.write(QStringLiteral("in.log"), WriteLoggerFile(header, {Record(1, 700, 200)})));
    ScriptedOperator op;
    ASSERT_TRUE(Export(dir, dir.filePath(QStringLiteral("in.log")), op).status.ok());
    EXPECT_EQ(OutputsIn(dir), QStringList({U("pH-mètre_Cuve.xls"), U("pH-mètre_Cuve_2.xls")}));
    EXPECT_TRUE(dir.read(U("pH-mètre_Cuve.xls")).endsWith("\t7\t20\t\r\n"));
    EXPECT_TRUE(dir.read(U("pH-mètre_Cuve_2.xls")).endsWith("\t-7\t20\t\r\n"));
    ExpectFinished(op);
}

TEST(LoggerExport, UnreadableLoggerIsReportedAndWritesNothing) {
    CurrentTempDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.log")));
    const QString paths[] = {dir.filePath(QStringLiteral("missing.log")),
                             dir.filePath(QStringLiteral("folder.log"))};
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        ScriptedOperator op;
        const ExportRun run = Export(dir, path, op);
        ExpectFailed(run, op, QDir::toNativeSeparators(path));
        EXPECT_EQ(op.shown.size(), 1u);
        EXPECT_TRUE(OutputsIn(dir).isEmpty());
        EXPECT_FALSE(LoggerExportFileNames(path).status.ok());
    }
}

TEST(LoggerExport, OutputThatCannotBeCreatedIsReported) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("in.log"), ReadHexDump(QStringLiteral("dual.log.hex"))));
    const QString logger = dir.filePath(QStringLiteral("in.log"));
    const QByteArray golden1 = ReadLoggerData(QStringLiteral("dual.1.xls"));
    const QByteArray header1 = golden1.left(golden1.indexOf("1/6/24"));

    // slot 2's name is taken by a directory: slot 1's file keeps its header block
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("R_847_Double R.xls")));
    ScriptedOperator op;
    const ExportRun run = Export(dir, logger, op);
    ExpectFailed(run, op, QStringLiteral("'R_847_Double R.xls'"));
    EXPECT_TRUE(run.status.message.startsWith(U("Impossible de créer le fichier")));
    EXPECT_EQ(dir.read(U("Debitmètre_Station 1.xls")), header1);

    // an output directory that does not exist
    ScriptedOperator op2;
    ExportOptions options;
    options.outputDirectory = QDir(dir.filePath(QStringLiteral("nowhere")));
    const Status status = ExportLoggerFile(logger, op2, {}, options);
    EXPECT_FALSE(status.ok());
    EXPECT_TRUE(status.message.contains(U("'Debitmètre_Station 1.xls'")));
}

TEST(LoggerExport, WriteErrorIsReportedAndOtherOutputKept) {
    CurrentTempDir dir;
    ASSERT_TRUE(dir.write(QStringLiteral("in.log"), ReadHexDump(QStringLiteral("dual.log.hex"))));
    // a full disk under slot 1's file
    ASSERT_TRUE(
        QFile::link(QStringLiteral("/dev/full"), dir.filePath(U("Debitmètre_Station 1.xls"))));
    ScriptedOperator op;
    const ExportRun run = Export(dir, dir.filePath(QStringLiteral("in.log")), op);
    ExpectFailed(run, op, U("'Debitmètre_Station 1.xls' : "));
    EXPECT_TRUE(run.status.message.startsWith(U("Erreur d'écriture dans le fichier")));
    EXPECT_GT(run.status.message.size(),
              run.status.message.indexOf(U("' : ")) + 4);  // the system's reason follows
    EXPECT_EQ(dir.read(U("R_847_Double R.xls")), ReadLoggerData(QStringLiteral("dual.2.xls")));
}

TEST(LoggerExport, RefusesToWriteOverTheLoggerFileItself) {
    CurrentTempDir dir;
    const QString name = U("pH-mètre_Bassin A.xls");
    const QByteArray input = ReadHexDump(QStringLiteral("ph.log.hex"));
    ASSERT_TRUE(dir.write(name, input));
    for (bool answer : {true, false}) {
        ScriptedOperator op;
        op.answers = {answer};
        const ExportRun run = Export(dir, dir.filePath(name), op);
        ExpectFailed(run, op, QStringLiteral("'") + name + QStringLiteral("'"));
        EXPECT_EQ(dir.read(name), input);
    }
}

TEST(LoggerExport, EventLoopRunsDuringALongExport) {
    CurrentTempDir dir;
    LoggerHeader header;
    header.bySlot[0] = MakeLoggerSlot(QStringLiteral("A"), QStringLiteral("03"), 0);
    std::vector<LoggerRecord> records(300000, Record(1, 700, 200));
    ASSERT_TRUE(dir.write(QStringLiteral("in.log"), WriteLoggerFile(header, records)));

    qsizetype progressAtTimer = -1;
    ExportRun run;
    QTimer::singleShot(0, QCoreApplication::instance(),
                       [&] { progressAtTimer = run.progress.size(); });
    ScriptedOperator op;
    ExportOptions options;
    options.outputDirectory = QDir(dir.path());
    run.status = ExportLoggerFile(
        dir.filePath(QStringLiteral("in.log")), op,
        [&run](const QString& line) { run.progress << line; }, options);
    ASSERT_TRUE(run.status.ok());
    EXPECT_GE(progressAtTimer, 0) << "no event was processed during the export";
    EXPECT_LT(progressAtTimer, run.progress.size());
}
