#include <gtest/gtest.h>

#include <QMutex>
#include <QThread>

#include "common/TempDir.h"
#include "engine/MeasurementEngine.h"
#include "integration/SimProcess.h"
#include "serial/SerialSettings.h"
#include "ui/UiFakes.h"

namespace merival {
namespace {

const QString kSim = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");

// A capability that keeps what it is given and notes on which thread.
class Watcher : public Capability {
public:
    void readSettings(const QSettings&) override {}
    void start() override {}
    void stop() override {}
    void takeReading(const ChannelReading& reading) override {
        const QMutexLocker lock(&mutex);
        readings.push_back(reading);
        onOwnerThread = onOwnerThread || QThread::currentThread() == owner;
    }
    void passFinished(const PassEnd& pass) override {
        const QMutexLocker lock(&mutex);
        passes.push_back(pass);
    }
    size_t passCount() {
        const QMutexLocker lock(&mutex);
        return passes.size();
    }

    QMutex mutex;
    QThread* owner = QThread::currentThread();
    bool onOwnerThread = false;
    std::vector<ChannelReading> readings;
    std::vector<PassEnd> passes;
};

TEST(Engine, PassesRunOnItsThreadAndCommandsTakeEffectBetweenThem) {
    test::CurrentTempDir dir;
    test::SimProcess sim(kSim, dir.path());
    ASSERT_TRUE(sim.Start({"1:ph", "2:ph"}));

    MeasurementEngine engine(nullptr, QLatin1Char(','), 1);
    ChannelRecords records;
    records[0] = {1, 2, "1", "A", true, false};
    records[2] = {1, 2, "2", "B", true, false};
    engine.setChannels(records);
    Watcher watcher;
    engine.setCapabilities({&watcher});
    QStringList texts;
    QObject::connect(&engine, &MeasurementEngine::valueText, &engine,
                     [&](int n, const QString& text) { texts << QString::number(n) + ":" + text; });

    SerialSettings settings;
    settings.Port = 3;  // no COM3 here
    const Status refused = engine.openPort(settings);
    EXPECT_FALSE(refused.ok());
    EXPECT_TRUE(refused.message.contains("COM3")) << refused.message.toStdString();
    EXPECT_EQ(engine.heldPort(), 0);
    settings.Port = 1;
    ASSERT_TRUE(engine.openPort(settings).ok());
    EXPECT_EQ(engine.heldPort(), 1);

    engine.startTicks(100);
    EXPECT_TRUE(engine.ticking());
    ASSERT_TRUE(test::WaitUntil([&] { return watcher.passCount() >= 3; }));
    {
        const QMutexLocker lock(&watcher.mutex);
        EXPECT_FALSE(watcher.onOwnerThread);
        ASSERT_GE(watcher.readings.size(), 6u);
        for (size_t i = 0; i < 6; ++i) {
            EXPECT_EQ(watcher.readings[i].line, 1);
            EXPECT_EQ(watcher.readings[i].channel, i % 2 == 0 ? 0 : 2);
            EXPECT_TRUE(watcher.readings[i].ok);
        }
        EXPECT_EQ(watcher.passes[0].line, 1);
    }
    ASSERT_TRUE(test::WaitUntil([&] { return texts.size() >= 6; }));
    EXPECT_TRUE(texts[0].startsWith("0:")) << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains("pH")) << texts[0].toStdString();

    // A copy of the channels replaces the old one from a later pass on.
    records[2].Selected = 0;
    engine.setChannels(records);
    const size_t changed = watcher.passCount();
    ASSERT_TRUE(test::WaitUntil([&] { return watcher.passCount() >= changed + 3; }));
    {
        const QMutexLocker lock(&watcher.mutex);
        EXPECT_EQ(watcher.readings.back().channel, 0);
        EXPECT_EQ(watcher.readings[watcher.readings.size() - 2].channel, 0);
    }

    // ABANDON: at most the pass under way ends; then every tick asks for the stop.
    int pending = 0;
    QObject::connect(&engine, &MeasurementEngine::stopPending, &engine, [&] { ++pending; });
    engine.requestStop();
    const size_t atStop = watcher.passCount();
    ASSERT_TRUE(test::WaitUntil([&] { return pending >= 2; }));
    EXPECT_LE(watcher.passCount(), atStop + 1);
    engine.stopTicks();
    EXPECT_FALSE(engine.ticking());
    engine.closePort();
    EXPECT_EQ(engine.heldPort(), 0);

    // Out of the engine's hands: nothing more reaches the capability.
    engine.setCapabilities({});
    engine.clearStop();
    engine.tick();
    const size_t after = watcher.passCount();
    ASSERT_TRUE(test::WaitUntil([&] { return texts.size() >= 1 && texts.last() == "0:HS"; }));
    EXPECT_EQ(watcher.passCount(), after);
}

}  // namespace
}  // namespace merival
