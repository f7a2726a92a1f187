#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLabel>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include "common/Mosquitto.h"
#include "common/ScriptedOperator.h"
#include "common/TempDir.h"
#include "config/windows/ConfigW.h"
#include "engine/Capabilities.h"
#include "engine/MeasurementEngine.h"
#include "history/HistoryQuery.h"
#include "history/Storage.h"
#include "measure/windows/F_Mesure.h"
#include "publish/PublishingCapability.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

using test::CurrentTempDir;
using test::ScriptedOperator;
using test::WaitUntil;

// Four answering stations of merival-sim on COM1 of the directory.
class FourStations {
public:
    explicit FourStations(CurrentTempDir& dir) {
        ChannelRecords records;
        for (int n = 0; n < 4; ++n) {
            records[static_cast<size_t>(n)] = {1, 2, QString::number(n + 1), "pH", true, false};
        }
        ok_ = dir.write("config.txt", WriteChannelConfigText(records)) &&
              dir.write("PortCom.dat", WriteSerialSettingsText({}));
        sim_.setWorkingDirectory(dir.path());
        sim_.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"),
                   {"--seed", "3", "1:ph", "2:ph", "3:ph", "4:ph"});
        ok_ = ok_ && sim_.waitForStarted() &&
              WaitUntil([&] { return QFileInfo(dir.filePath("COM1")).isSymLink(); }, 20000);
    }
    ~FourStations() {
        sim_.terminate();
        sim_.waitForFinished(10000);
    }
    [[nodiscard]] bool ok() const { return ok_; }

private:
    QProcess sim_;
    bool ok_ = false;
};

struct Quiet {
    Quiet() {
        options.op = &op;
        options.exit = [this](int code) { exits.push_back(code); };
        options.decimalSeparator = QLatin1Char(',');
    }
    ScriptedOperator op;
    std::vector<int> exits;
    AppOptions options;
};

// The configuration dialog's OK, then Mesure.
F_Mesure* Measure(App& app) {
    app.Start();
    app.configW()->Commande1->click();
    app.mainWindow()->Mesure->trigger();
    return app.measureWindow();
}

TEST(EngineThread, AWindowThreadBlockedForFiveSecondsHoldsNeitherPassesNorRecording) {
    CurrentTempDir dir;
    FourStations stations(dir);
    ASSERT_TRUE(stations.ok());
    Quiet quiet;
    // Taken on the engine's thread, as the capabilities take them.
    QMutex mutex;
    std::vector<qint64> passEnds;  // the engine's times, ms
    qint64 readings = 0;
    auto passCount = [&] {
        const QMutexLocker lock(&mutex);
        return passEnds.size();
    };
    qint64 blockFrom = 0;
    qint64 blockTo = 0;
    {
        App app(std::move(quiet.options));
        ASSERT_NE(Measure(app), nullptr);
        QObject::connect(
            &app.engine(), &MeasurementEngine::passFinished, &app,
            [&](const PassEnd& pass) {
                const QMutexLocker lock(&mutex);
                passEnds.push_back(pass.time.toMSecsSinceEpoch());
            },
            Qt::DirectConnection);
        QObject::connect(
            &app.engine(), &MeasurementEngine::reading, &app,
            [&](const ChannelReading& r) {
                const QMutexLocker lock(&mutex);
                readings += r.ok ? 1 : 0;
            },
            Qt::DirectConnection);
        ASSERT_TRUE(WaitUntil([&] { return passCount() >= 3; }));

        // A slow slot on the window thread, as a modal box or a stuck dialog would be.
        QTimer::singleShot(0, &app, [&] {
            blockFrom = QDateTime::currentMSecsSinceEpoch();
            QThread::sleep(5);
            blockTo = QDateTime::currentMSecsSinceEpoch();
        });
        ASSERT_TRUE(WaitUntil([&] { return blockTo != 0; }));
        const size_t atUnblock = passCount();
        ASSERT_TRUE(WaitUntil([&] { return passCount() >= atUnblock + 2; }));
        app.measureWindow()->Commande1->click();
        ASSERT_TRUE(WaitUntil([&] { return app.measureWindow() == nullptr; }));
    }
    const QMutexLocker lock(&mutex);
    // The engine's clock: passes kept ending about once a second while the window slept.
    int during = 0;
    for (size_t i = 1; i < passEnds.size(); ++i) {
        if (passEnds[i] > blockFrom && passEnds[i] <= blockTo) {
            ++during;
            EXPECT_LT(passEnds[i] - passEnds[i - 1], 1800) << "pass " << i;
        }
    }
    EXPECT_GE(during, 4);
    EXPECT_TRUE(quiet.op.shown.empty()) << quiet.op.texts().join(" | ").toStdString();

    // Every answered reading is in the history (the recorder wrote its queue at the end).
    ASSERT_TRUE(
        OpenStorage("check", dir.filePath("historique.sqlite"), StorageAccess::Read).status.ok());
    {
        QList<StoredText> texts;
        ASSERT_TRUE(ReadTexts("check", ExportRequest{}, &texts).ok());
        const auto answered =
            std::count_if(texts.begin(), texts.end(), [](const StoredText& t) { return t.ok; });
        EXPECT_EQ(answered, readings);
        EXPECT_GE(readings, 4 * 7);
    }
    CloseStorage("check");
}

// Quitting with publishing on, with the broker there or not: the link goes on its own thread,
// the program ends without waiting on it and without touching the gone status bar.
TEST(EngineThread, QuittingWithPublishingOnEndsCleanlyWithOrWithoutABroker) {
    for (const bool brokerUp : {true, false}) {
        SCOPED_TRACE(brokerUp ? "broker up" : "no broker");
        CurrentTempDir dir;
        test::MosquittoBroker broker(dir.path());
        if (brokerUp) {
            ASSERT_TRUE(broker.Start());
        }
        ASSERT_TRUE(dir.write("merival.ini", QStringLiteral("[Publication]\nActif=true\n"
                                                            "Hote=127.0.0.1\nPort=%1\n"
                                                            "Prefixe=essai\n")
                                                 .arg(broker.port())
                                                 .toUtf8()));
        FourStations stations(dir);
        ASSERT_TRUE(stations.ok());
        std::optional<test::MqttSubscriber> subscriber;
        if (brokerUp) {
            subscriber.emplace(broker.port(), "essai/#");
            ASSERT_TRUE(subscriber->ok());
        }
        Quiet quiet;
        {
            App app(std::move(quiet.options));
            ASSERT_NE(Measure(app), nullptr);
            auto* state = app.mainWindow()->findChild<QLabel*>("EtatPublication");
            ASSERT_NE(state, nullptr);
            const QString wanted = brokerUp ? "MQTT : connecté" : "MQTT : reconnexion";
            ASSERT_TRUE(WaitUntil([&] { return state->text().startsWith(wanted); }))
                << state->text().toStdString();
            if (brokerUp) {
                ASSERT_TRUE(WaitUntil([&] {
                    for (const auto& m : subscriber->messages()) {
                        if (m.topic == "essai/voie/3") {
                            return true;
                        }
                    }
                    return false;
                }));
            }
            // The save of the publication dialog restarts the link: the old one stops aside.
            app.capabilities().publishing()->restart(app.capabilities().publishing()->settings());
            app.EndApplication();
        }
        EXPECT_EQ(quiet.exits, std::vector<int>{0});
        if (brokerUp) {
            // The last word of each link is "hors ligne".
            EXPECT_TRUE(test::PumpFor([&] {
                const auto messages = subscriber->messages();
                return !messages.empty() && messages.back().topic == "essai/etat" &&
                       messages.back().payload == "hors ligne";
            }));
        }
    }
}

}  // namespace
}  // namespace merival
