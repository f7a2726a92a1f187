#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "LoggerTestSupport.h"
#include "common/TempDir.h"

using merival::test::CurrentTempDir;
using merival::test::ReadHexDump;
using merival::test::ReadLoggerData;

namespace {

struct ToolRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ToolRun RunTool(const CurrentTempDir& dir, const QStringList& args,
                const QString& locale = QStringLiteral("fr_FR.UTF-8")) {
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LANG"));
    env.remove(QStringLiteral("LC_NUMERIC"));
    env.insert(QStringLiteral("LC_ALL"), locale);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(MERIVAL_BINARY_DIR "/tools/export/merival-export"), args);
    EXPECT_TRUE(p.waitForFinished(60000)) << "merival-export did not run";
    ToolRun run;
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = p.readAllStandardOutput();
    run.err = p.readAllStandardError();
    return run;
}

const QString kSlot1 = QString::fromUtf8("Debitmètre_Station 1.xls");
const QString kSlot2 = QString::fromUtf8("R_847_Double R.xls");

class MerivalExport : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(
            dir.write(QStringLiteral("in.log"), ReadHexDump(QStringLiteral("dual.log.hex"))));
    }
    CurrentTempDir dir;
    const QByteArray golden1 = ReadLoggerData(QStringLiteral("dual.1.xls"));
    const QByteArray golden2 = ReadLoggerData(QStringLiteral("dual.2.xls"));
};

}  // namespace

TEST_F(MerivalExport, WritesTheDialogsFilesInTheLocalesNotation) {
    struct Row {
        const char* locale;
        char separator;
    } rows[] = {{"fr_FR.UTF-8", ','}, {"C", '.'}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.locale);
        CurrentTempDir out;
        const ToolRun run =
            RunTool(out, {dir.filePath(QStringLiteral("in.log"))}, QString::fromLatin1(row.locale));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.out,
                  "1 : 1/6/24 10:0  1234 205 12345678\n"
                  "2 : 2/6/24 10:15  1230 -12 00000099\n"
                  "Fin d'extraction\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(out.read(kSlot1), QByteArray(golden1).replace(',', row.separator));
        EXPECT_EQ(out.read(kSlot2), QByteArray(golden2).replace(',', row.separator));
    }
}

TEST_F(MerivalExport, ExistingOutputNeedsAFlag) {
    ASSERT_EQ(RunTool(dir, {QStringLiteral("--quiet"), QStringLiteral("in.log")}).exitCode, 0);

    // only slot 2's file holds data: still nothing may be written
    ASSERT_TRUE(dir.write(kSlot1, {}));
    const ToolRun refused = RunTool(dir, {QStringLiteral("in.log")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.out, "");
    EXPECT_TRUE(QString::fromUtf8(refused.err).contains(kSlot2)) << refused.err.toStdString();
    EXPECT_EQ(dir.read(kSlot1), "");
    EXPECT_EQ(dir.read(kSlot2), golden2);

    const ToolRun appended = RunTool(
        dir, {QStringLiteral("--append"), QStringLiteral("--quiet"), QStringLiteral("in.log")});
    EXPECT_EQ(appended.exitCode, 0);
    EXPECT_EQ(appended.out, "Fin d'extraction\n");
    EXPECT_EQ(dir.read(kSlot1), golden1);
    EXPECT_EQ(dir.read(kSlot2), golden2 + golden2);

    const ToolRun overwritten =
        RunTool(dir, {QStringLiteral("--overwrite"), QStringLiteral("in.log")});
    EXPECT_EQ(overwritten.exitCode, 0);
    EXPECT_EQ(dir.read(kSlot1), golden1);
    EXPECT_EQ(dir.read(kSlot2), golden2);
}

TEST_F(MerivalExport, FileErrorsExitWithOne) {
    const ToolRun missing = RunTool(dir, {QStringLiteral("absent.log")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.contains("absent.log")) << missing.err.toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.xls")}).isEmpty());

    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), dir.filePath(kSlot2)));
    const ToolRun full = RunTool(dir, {QStringLiteral("--quiet"), QStringLiteral("in.log")});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(QString::fromUtf8(full.err).contains(QString::fromUtf8("Erreur d'écriture")))
        << full.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(full.err).contains(kSlot2));
    EXPECT_FALSE(full.out.contains("Fin d'extraction"));
    EXPECT_EQ(dir.read(kSlot1), golden1);
}

TEST_F(MerivalExport, BadCommandLinesWriteNothing) {
    const QStringList lines[] = {
        {},
        {QStringLiteral("--overwrite"), QStringLiteral("--append"), QStringLiteral("in.log")},
    };
    for (const auto& args : lines) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const ToolRun run = RunTool(dir, args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith("Usage"));
        EXPECT_TRUE(QDir(dir.path()).entryList({QStringLiteral("*.xls")}).isEmpty());
    }
}
