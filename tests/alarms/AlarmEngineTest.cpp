#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "alarms/AlarmEngine.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival {
namespace {

const QDateTime kStart = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);

// Readings of channel 1, one per second; nullopt is an HS pass.
class Script {
public:
    explicit Script(AlarmSettings settings) : engine(std::move(settings)) {}

    // The event names caused by these values, in order.
    QStringList Feed(std::initializer_list<std::optional<double>> values) {
        QStringList names;
        for (const auto& value : values) {
            ChannelReading r;
            r.time = kStart.addSecs(wallSecond);
            r.steadyMs = 1000LL * second++;
            wallSecond += 1;
            r.channel = 1;
            r.tag = QStringLiteral("Bassin");
            r.ok = value.has_value();
            r.text = r.ok ? QString::number(*value) : QStringLiteral("HS");
            if (r.ok) {
                r.numbers = {{QStringLiteral("Mesure"), *value, unit},
                             {QStringLiteral("Volume"), 500, QStringLiteral("m3")}};
                if (std::isnan(*value)) {
                    r.numbers[0].value.reset();  // the text shows no main value
                }
            }
            for (const AlarmEvent& e : engine.Feed(r)) {
                EXPECT_EQ(e.channel, 1);
                EXPECT_EQ(e.tag, QStringLiteral("Bassin"));
                EXPECT_EQ(e.text, r.text);
                EXPECT_EQ(e.time, r.time);
                names << e.event;
            }
        }
        return names;
    }
    QStringList Acknowledge() {
        QStringList names;
        for (const AlarmEvent& e : engine.AcknowledgeAll(kStart.addSecs(second))) {
            names << QStringLiteral("%1 %2").arg(e.event).arg(e.channel);
        }
        return names;
    }

    AlarmEngine engine;
    int second = 0;      // steady clock
    int wallSecond = 0;  // the wall clock, which may be set back or forward
    QString unit = QStringLiteral("pH");
};

AlarmSettings Limits(std::optional<double> low, std::optional<double> high, double deadband = 0,
                     double delay = 0, int lossPasses = 3, const QString& unit = {}) {
    AlarmSettings s;
    s.lossPasses = lossPasses;
    s.channels[1] = {low, high, deadband, delay, unit};
    return s;
}

constexpr double kNotShown = std::numeric_limits<double>::quiet_NaN();

const QString kHigh = alarm_event::kHigh;
const QString kLow = alarm_event::kLow;
const QString kLoss = alarm_event::kLoss;
const QString kBack = alarm_event::kReturn;

TEST(AlarmEngine, LimitsWithDeadbandDoNotChatter) {
    Script s(Limits(6.0, 8.0, 0.2));
    EXPECT_EQ(s.Feed({7.0, 8.0}), QStringList{}) << "on the limit is not beyond it";
    EXPECT_EQ(s.Feed({8.1}), QStringList{kHigh});
    // A noisy signal crossing the limit back and forth inside the deadband.
    EXPECT_EQ(s.Feed({7.9, 8.05, 7.81, 8.2, 7.805}), QStringList{});
    EXPECT_EQ(s.Feed({7.79}), QStringList{kBack});
    EXPECT_EQ(s.Feed({5.9, 6.1, 5.95, 6.19}), QStringList{kLow});
    EXPECT_EQ(s.Feed({6.21, 8.5, 5.0}), (QStringList{kBack, kHigh, kLow}))
        << "a jump from one limit to the other is a new alarm";

    Script onlyLow(Limits(6.0, std::nullopt));
    EXPECT_EQ(onlyLow.Feed({1000, -1, 7}), (QStringList{kLow, kBack}))
        << "a missing limit is no alarm";
    Script none(Limits(std::nullopt, std::nullopt));
    EXPECT_EQ(none.Feed({-1e9, 1e9}), QStringList{});
}

TEST(AlarmEngine, OnDelayNeedsTheConditionForTheWholeDelay) {
    Script s(Limits(std::nullopt, 8.0, 0, 3));
    EXPECT_EQ(s.Feed({9, 9, 9, 7.5, 9, 9, 9}), QStringList{})
        << "broken off twice within the delay";
    EXPECT_EQ(s.Feed({9}), QStringList{kHigh}) << "3 s after the condition began";
    EXPECT_EQ(s.Feed({7.9}), QStringList{kBack}) << "no delay on the return";
    EXPECT_EQ(s.Feed({9, std::nullopt, 9, 9}), QStringList{kHigh})
        << "a single HS pass does not restart the delay";
}

TEST(AlarmEngine, OnDelayRunsOnASteadyClockAndStartsAgainAfterALoss) {
    Script s(Limits(std::nullopt, 8.0, 0, 3, 2));
    EXPECT_EQ(s.Feed({9}), QStringList{});
    s.wallSecond -= 3600;  // the clock set back an hour
    EXPECT_EQ(s.Feed({9, 9}), QStringList{});
    EXPECT_EQ(s.Feed({9}), QStringList{kHigh}) << "3 s of readings, whatever the wall clock";
    EXPECT_EQ(s.Feed({7}), QStringList{kBack});
    EXPECT_EQ(s.Feed({9}), QStringList{});
    s.wallSecond += 7200;  // and forward two hours: not a long delay
    EXPECT_EQ(s.Feed({9}), QStringList{});

    EXPECT_EQ(s.Feed({std::nullopt, std::nullopt}), QStringList{kLoss});
    EXPECT_EQ(s.Feed({9}), QStringList{kBack}) << "the delay counts from the answer";
    EXPECT_EQ(s.Feed({9, 9}), QStringList{});
    EXPECT_EQ(s.Feed({9}), QStringList{kHigh});
}

TEST(AlarmEngine, LimitsHoldOnlyInTheirUnitAndNeedAMainValue) {
    Script s(Limits(std::nullopt, 85.0, 0, 0, 3, QStringLiteral("%")));
    s.unit = QStringLiteral("%");
    EXPECT_EQ(s.Feed({90}), QStringList{kHigh});
    s.unit = QStringLiteral("mg/l");
    const QString mismatch = alarm_event::UnitMismatch(QStringLiteral("mg/l"), QStringLiteral("%"));
    EXPECT_EQ(s.Feed({8, 95, 2}), QStringList{mismatch}) << "said once, never compared";
    EXPECT_EQ(s.engine.State(1), AlarmState::ActiveUnacknowledged);
    EXPECT_EQ(s.engine.MainUnit(1), QStringLiteral("mg/l"));
    s.unit = QStringLiteral("%");
    EXPECT_EQ(s.Feed({70}), QStringList{kBack});
    s.unit = QStringLiteral("mg/l");
    EXPECT_EQ(s.Feed({99}), QStringList{mismatch}) << "said again after the unit came back";

    Script firstUnit(Limits(std::nullopt, 100.0));
    firstUnit.unit = QStringLiteral("%");
    EXPECT_EQ(firstUnit.Feed({50}), QStringList{});
    firstUnit.unit = QStringLiteral("mg/l");
    EXPECT_EQ(firstUnit.Feed({200}),
              QStringList{alarm_event::UnitMismatch(QStringLiteral("mg/l"), QStringLiteral("%"))})
        << "without a unit saved, the limits hold in the first unit read";

    // A flow rate shown as "__": its daily volume beside it is not the main value.
    Script absent(Limits(std::nullopt, 100.0, 0, 2));
    EXPECT_EQ(absent.Feed({150, kNotShown, kNotShown}), QStringList{}) << "not 500 m3";
    EXPECT_EQ(absent.Feed({150}), QStringList{kHigh}) << "nor does it break off the delay";
    EXPECT_EQ(absent.Feed({kNotShown, kNotShown, 50}), QStringList{kBack});
}

TEST(AlarmEngine, LossAndReturnOfCommunication) {
    Script s(Limits(6.0, 8.0));
    EXPECT_EQ(s.Feed({7, std::nullopt, std::nullopt, 7, std::nullopt, std::nullopt}),
              QStringList{});
    EXPECT_EQ(s.Feed({std::nullopt}), QStringList{kLoss}) << "the third HS in a row";
    EXPECT_EQ(s.Feed({std::nullopt, std::nullopt, std::nullopt}), QStringList{});
    EXPECT_EQ(s.Feed({7}), QStringList{kBack});
    // A limit alarm the loss replaced comes back as a new alarm with the first value.
    EXPECT_EQ(s.Feed({9, std::nullopt, std::nullopt, std::nullopt, 9}),
              (QStringList{kHigh, kLoss, kHigh}));

    Script off(Limits(6.0, 8.0, 0, 0, 0));
    EXPECT_EQ(off.Feed({std::nullopt, std::nullopt, std::nullopt, std::nullopt, 7}), QStringList{})
        << "PerteCommunication=0";
}

TEST(AlarmEngine, AcknowledgementInEveryState) {
    Script s(Limits(6.0, 8.0));
    const QString ack = alarm_event::kAcknowledge + QStringLiteral(" 1");
    EXPECT_EQ(s.Acknowledge(), QStringList{}) << "normal";
    EXPECT_EQ(s.engine.State(1), AlarmState::Normal);

    EXPECT_EQ(s.Feed({9}), QStringList{kHigh});
    EXPECT_EQ(s.engine.State(1), AlarmState::ActiveUnacknowledged);
    EXPECT_EQ(s.Acknowledge(), QStringList{ack});
    EXPECT_EQ(s.engine.State(1), AlarmState::ActiveAcknowledged);
    EXPECT_EQ(s.Acknowledge(), QStringList{}) << "already acknowledged";
    EXPECT_EQ(s.Feed({7}), QStringList{kBack});
    EXPECT_EQ(s.engine.State(1), AlarmState::Normal) << "acknowledged alarm cleared";

    EXPECT_EQ(s.Feed({5, 7}), (QStringList{kLow, kBack}));
    EXPECT_EQ(s.engine.State(1), AlarmState::ReturnedUnacknowledged);
    EXPECT_EQ(s.Acknowledge(), QStringList{ack});
    EXPECT_EQ(s.engine.State(1), AlarmState::Normal);

    EXPECT_EQ(s.Feed({5, 7, 9}), (QStringList{kLow, kBack, kHigh}));
    EXPECT_EQ(s.engine.State(1), AlarmState::ActiveUnacknowledged)
        << "a new alarm after an unacknowledged return";
    EXPECT_EQ(s.engine.State(0), AlarmState::Normal) << "other channels untouched";
}

}  // namespace
}  // namespace merival
