#include <gtest/gtest.h>

#include <QSqlQuery>

#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <map>

#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/windows/ConfigW.h"
#include "engine/MeasurementEngine.h"
#include "history/HistoryQuery.h"
#include "history/Storage.h"
#include "instruments/Polling.h"
#include "measure/ValueFormat.h"
#include "measure/windows/F_Mesure.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::ScriptedOperator;
using test::WaitUntil;

// The simulator's last reply to each (address, block), read from its report lines.
class SimulatorReplies {
public:
    void Read(QProcess& sim) {
        buffer_ += sim.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = buffer_.indexOf('\n')) >= 0) {
            const QString line = QString::fromLatin1(buffer_.left(end));
            buffer_.remove(0, end + 1);
            static const QRegularExpression pattern(
                QStringLiteral("addr=(\\d+) block=(\\d+) answer=(\\S+) .*reply=([0-9A-F]+|-)"));
            const auto match = pattern.match(line);
            if (!match.hasMatch()) {
                continue;
            }
            const auto key = std::make_pair(match.captured(1).toInt(), match.captured(2).toInt());
            ++requests[key];
            last[key] = match.captured(4) == QLatin1String("-")
                            ? QByteArray()
                            : QByteArray::fromHex(match.captured(4).toLatin1());
        }
    }

    std::map<std::pair<int, int>, QByteArray> last;
    std::map<std::pair<int, int>, int> requests;

private:
    QByteArray buffer_;
};

// The text a channel shows for a reply, by the decoding and formatting rules.
QString ExpectedText(int typeIndex, const QByteArray& reply) {
    MeasurementResults results;
    switch (typeIndex) {
        case 0:
            DecodeResistivity(reply, results);
            break;
        case 2:
            DecodePh(reply, results);
            break;
        case 5:
            DecodeFlowMeter(reply, results);
            break;
        default:
            return {};
    }
    return FormatChannelValue(typeIndex, results, QLatin1Char(',')).replace("\r\n", "\n");
}

TEST(EndToEnd, MeasuresFourChannelsOverTheSimulatorAndAbandons) {
    const QString simulator = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");
    ASSERT_TRUE(QFileInfo(simulator).isExecutable()) << simulator.toStdString();

    CurrentTempDir dir;
    ChannelRecords records;
    records[0] = {1, 5, "1", "Débit entrée", true, false};  // flow meter
    records[1] = {1, 2, "2", "pH bassin", true, false};     // pH
    records[2] = {1, 0, "3", "Résistivité", false, true};   // Ext. block
    records[3] = {1, 2, "4", "Muet", true, false};          // silent
    ASSERT_TRUE(dir.write("config.txt", WriteChannelConfigText(records)));
    ASSERT_TRUE(dir.write("PortCom.dat", WriteSerialSettingsText({})));
    ASSERT_TRUE(QFile::copy(QStringLiteral(MERIVAL_TEST_DATA "/../../assets/instrum1.bmp"),
                            dir.filePath("instrum1.bmp")));

    QProcess sim;
    sim.setWorkingDirectory(dir.path());
    sim.start(simulator, {"--seed", "11", "1:flow", "2:ph", "3:resistivity", "4:ph:silent"});
    ASSERT_TRUE(sim.waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return QFileInfo(dir.filePath("COM1")).isSymLink(); }, 20000));
    SimulatorReplies replies;
    QObject::connect(&sim, &QProcess::readyReadStandardOutput, &sim, [&] { replies.Read(sim); });

    ScriptedOperator op;
    std::vector<int> exits;
    AppOptions options;
    options.op = &op;
    options.exit = [&](int code) { exits.push_back(code); };
    options.decimalSeparator = QLatin1Char(',');
    {
        App app(std::move(options));
        app.Start();
        ASSERT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();
        app.configW()->Commande1->click();
        ASSERT_NE(app.mainWindow(), nullptr);
        app.mainWindow()->Mesure->trigger();
        QPointer<F_Mesure> window = app.measureWindow();
        ASSERT_FALSE(window.isNull());
        ASSERT_NE(app.engine().heldPort(), 0) << op.texts().join(" | ").toStdString();

        const std::array<std::pair<int, int>, 3> answering{{{1, 0}, {2, 0}, {3, 20}}};
        auto labelsMatch = [&] {
            for (int n = 0; n < 3; ++n) {
                const auto it = replies.last.find(answering[static_cast<size_t>(n)]);
                if (it == replies.last.end() || it->second.isEmpty() ||
                    window->Etiquette3[static_cast<size_t>(n)]->text() !=
                        ExpectedText(records[static_cast<size_t>(n)].TypeIndex, it->second)) {
                    return false;
                }
            }
            return window->Etiquette3[3]->text() == QLatin1String("HS");
        };
        EXPECT_TRUE(WaitUntil(labelsMatch, 60000));
        for (int n = 0; n < 4; ++n) {
            SCOPED_TRACE(n);
            EXPECT_FALSE(window->Etiquette3[static_cast<size_t>(n)]->text().isEmpty());
        }
        EXPECT_TRUE(window->Etiquette3[0]->text().contains('\n')) << "flow: three lines";
        EXPECT_EQ(window->Dessin1[0]->pixmap().size(), QSize(88, 82)) << "instrum1.bmp";
        EXPECT_EQ(window->Etiquette1[0]->text(), "Débit entrée\nVolume Journalier\nVolume Cumulé");
        EXPECT_GT(replies.requests[std::make_pair(3, 20)], 0)
            << "the Ext. channel asks for register 20";
        EXPECT_GT(replies.requests[std::make_pair(4, 0)], 0);
        EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();

        // SIGTERM: the simulator removes its COM1 link. Passes go on reading "HS" meanwhile;
        // started again, the values are back within two passes.
        int passes = 0;
        QObject::connect(
            &app.engine(), &MeasurementEngine::reading, &app,
            [&](const ChannelReading& reading) { passes += reading.channel == 0 ? 1 : 0; });
        sim.terminate();
        ASSERT_TRUE(sim.waitForFinished(10000));
        EXPECT_TRUE(WaitUntil(
            [&] {
                return window->Etiquette3[0]->text() == "HS" &&
                       window->Etiquette3[2]->text() == "HS";
            },
            60000));
        const int missing = passes;
        EXPECT_TRUE(WaitUntil([&] { return passes >= missing + 2; }, 60000));
        EXPECT_EQ(app.engine().heldPort(), 0) << "nothing stands in for the missing link";
        sim.start(simulator, {"--seed", "11", "1:flow", "2:ph", "3:resistivity", "4:ph:silent"});
        ASSERT_TRUE(WaitUntil([&] { return QFileInfo(dir.filePath("COM1")).exists(); }, 20000));
        const int restarted = passes;
        EXPECT_TRUE(WaitUntil(labelsMatch, 60000));
        EXPECT_LE(passes - restarted, 2);
        EXPECT_TRUE(op.shown.empty()) << op.texts().join(" | ").toStdString();

        window->Commande1->click();
        EXPECT_TRUE(WaitUntil([&] { return window.isNull(); }, 60000));
        EXPECT_EQ(app.measureWindow(), nullptr);
        EXPECT_TRUE(app.mainWindow()->isVisible());
        EXPECT_EQ(app.engine().heldPort(), 0);
        EXPECT_TRUE(op.shown.empty());
        EXPECT_TRUE(exits.empty());
    }
    // Recording is on by default: every channel of the passes went into the history, values
    // (which sort before "HS") for the three stations that answered.
    ASSERT_TRUE(
        OpenStorage(QStringLiteral("check"), dir.filePath("historique.sqlite"), StorageAccess::Read)
            .status.ok());
    {
        QList<StoredText> texts;
        ASSERT_TRUE(ReadTexts(QStringLiteral("check"), {}, &texts).ok());
        for (int n = 0; n < 4; ++n) {
            QStringList channel;
            for (const StoredText& t : texts) {
                if (t.channel == n) {
                    channel << t.text;
                }
            }
            std::sort(channel.begin(), channel.end());
            ASSERT_FALSE(channel.isEmpty());
            EXPECT_EQ(channel[0] == QLatin1String("HS"), n == 3);
        }
        QSqlQuery q(QSqlDatabase::database(QStringLiteral("check")));
        // One beep for ABANDON, one per alarm: the silent station, then each while the link
        // was missing.
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*), count(DISTINCT voie) FROM "
                                          "journal_alarmes WHERE evenement = 'Perte de "
                                          "communication'")) &&
                    q.next());
        EXPECT_EQ(op.beeps, 1 + q.value(0).toInt());
        EXPECT_EQ(q.value(1).toInt(), 4);
    }
    CloseStorage(QStringLiteral("check"));
    sim.terminate();
    EXPECT_TRUE(sim.waitForFinished(10000));
}

}  // namespace
}  // namespace merival
