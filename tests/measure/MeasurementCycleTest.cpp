#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "config/ChannelStore.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace merival {
namespace {

// Registers 0..7 as a station would send them, framed like a reply (address, function,
// byte count, registers, two CRC bytes the decoders never read).
QByteArray Reply(std::array<quint16, 8> registers) {
    QByteArray bytes("\x01\x03\x10", 3);
    for (const quint16 r : registers) {
        bytes.append(static_cast<char>(r >> 8));
        bytes.append(static_cast<char>(r & 0xFF));
    }
    return bytes + QByteArray(2, '\0');
}

// Stations by (address, first register); any other request goes unanswered. `during` runs
// while the "exchange" waits, as an event handled by the transport's wait would.
class ScriptedReader : public RegisterReader {
public:
    struct Call {
        double address;
        quint16 firstRegister;
        bool operator==(const Call&) const = default;
    };

    ExchangeResult ExchangeReadRegisters(double address, quint16 firstRegister) override {
        calls.push_back({address, firstRegister});
        if (during) {
            during(calls.back());
        }
        const auto it = stations.find({qRound(address), firstRegister});
        if (it == stations.end()) {
            return {};
        }
        return {true, it->second};
    }

    std::map<std::pair<int, quint16>, QByteArray> stations;
    std::vector<Call> calls;
    std::function<void(const Call&)> during;
};

struct Fixture {
    Fixture() { state.EscapeKey = QString(QChar(27)); }

    void Channel(int k, int type, const QString& address, bool base = true) {
        store.setSelected(k, 1);
        store.setTypeIndex(k, static_cast<qint16>(type));
        store.setAddress(k, address);
        store.setBaseBlock(k, base);
        store.setExtBlock(k, !base);
    }

    // Value texts since the last call, by channel (a channel written twice would show once).
    std::map<int, QString> Texts() {
        std::map<int, QString> texts;
        for (const auto& [channel, text] : shown) {
            texts[channel] = text;
        }
        shown.clear();
        return texts;
    }

    ChannelStore store;
    ScriptedReader reader;
    MeasurementResults results;
    MeasureState state;
    MeasurementCycle cycle{store, reader, results, state, u','};
    std::vector<std::pair<int, QString>> shown;
    int started = 0;
    int finished = 0;
    int stops = 0;
    QMetaObject::Connection connections[4] = {
        QObject::connect(&cycle, &MeasurementCycle::valueText, &cycle,
                         [this](int n, const QString& text) { shown.emplace_back(n, text); }),
        QObject::connect(&cycle, &MeasurementCycle::passStarted, &cycle, [this] { ++started; }),
        QObject::connect(&cycle, &MeasurementCycle::passFinished, &cycle, [this] { ++finished; }),
        QObject::connect(&cycle, &MeasurementCycle::stopPending, &cycle, [this] { ++stops; }),
    };
};

// pH station: value in hundredths in register 3, temperature in tenths in register 4.
QByteArray PhReply(quint16 hundredths, quint16 tenthsOfDegree) {
    return Reply({0, 0, 0, hundredths, tenthsOfDegree, 0, 0, 0});
}

TEST(MeasurementCycle, PassPollsSelectedChannelsWithTheirSettings) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("2"));             // pH, base block
    f.Channel(1, 3, QStringLiteral(" &H3 "), false);  // redox, ext block
    f.Channel(2, 5, QStringLiteral("4"));             // flow meter, silent
    f.Channel(3, 0, QStringLiteral("6"));             // resistivity, type cleared below
    f.store.setTypeIndex(3, -1);
    f.reader.stations[{2, 0}] = PhReply(701, 253);
    f.reader.stations[{3, 20}] = Reply({0, 0, 0, 0xFF6A, 0xFF38, 0, 0, 0});

    f.cycle.Minuterie1_Timer();

    const std::vector<ScriptedReader::Call> expected = {{2, 0}, {3, 20}, {4, 0}};
    EXPECT_EQ(f.reader.calls, expected) << "type -1 is not polled";
    EXPECT_EQ(f.shown.size(), 3u) << "type -1 leaves its label alone";
    const std::map<int, QString> texts = f.Texts();
    EXPECT_EQ(texts.at(0), QStringLiteral("7,01 pH     25,3  °C"));
    EXPECT_EQ(texts.at(1), QStringLiteral("-150 mV     -20,0  °C"));
    EXPECT_EQ(texts.at(2), QStringLiteral("HS"));
    EXPECT_FALSE(f.state.PollInProgress);
}

TEST(MeasurementCycle, NoSelectionPollsNothingButStillRunsAPass) {
    Fixture f;
    bool inProgressSeen = false;
    QObject::connect(&f.cycle, &MeasurementCycle::passStarted, &f.cycle,
                     [&] { inProgressSeen = f.state.PollInProgress; });

    f.cycle.Minuterie1_Timer();

    EXPECT_TRUE(f.reader.calls.empty());
    EXPECT_TRUE(f.shown.empty());
    EXPECT_EQ(f.started, 1);
    EXPECT_EQ(f.finished, 1);
    EXPECT_TRUE(inProgressSeen);
    EXPECT_FALSE(f.state.PollInProgress);
}

TEST(MeasurementCycle, StopDuringAPassFinishesTheChannelThenStops) {
    Fixture f;
    for (int k = 0; k < 4; ++k) {
        f.Channel(k, 2, QString::number(k + 1));
        f.reader.stations[{k + 1, 0}] = PhReply(700 + k, 200);
    }
    f.reader.during = [&](const ScriptedReader::Call& call) {
        if (call.address == 2) {
            f.state.StopKey = f.state.EscapeKey;  // ABANDON clicked while channel 1 waits
        }
    };

    f.cycle.Minuterie1_Timer();

    EXPECT_EQ(f.reader.calls.size(), 2u);
    const std::map<int, QString> texts = f.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts.at(1), QStringLiteral("7,01 pH     20,0  °C")) << "channel 1 is finished";
    EXPECT_FALSE(f.state.PollInProgress);
    EXPECT_EQ(f.stops, 0) << "the shutdown waits for the next tick";

    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.stops, 1);
    EXPECT_EQ(f.reader.calls.size(), 2u) << "a pending stop polls nothing";
}

TEST(MeasurementCycle, StopAfterAnUnselectedChannelEndsThePassToo) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.Channel(3, 2, QStringLiteral("4"));
    // The stop arrives while channel 0 waits; channels 1 and 2 are unselected, 3 is not polled.
    f.reader.during = [&](const ScriptedReader::Call&) { f.state.StopKey = f.state.EscapeKey; };
    f.cycle.RunMeasurementCycle();
    EXPECT_EQ(f.reader.calls.size(), 1u);
}

TEST(MeasurementCycle, TickDuringAPassStartsNoSecondPass) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.Channel(1, 2, QStringLiteral("2"));
    f.reader.stations[{1, 0}] = PhReply(700, 200);
    f.reader.stations[{2, 0}] = PhReply(800, 210);
    int depth = 0;
    int maxDepth = 0;
    f.reader.during = [&](const ScriptedReader::Call&) {
        maxDepth = std::max(maxDepth, ++depth);
        if (depth == 1) {  // a nested pass would come back here with depth 2
            EXPECT_TRUE(f.state.PollInProgress);
            f.cycle.Minuterie1_Timer();  // the timer fires while the transport pumps events
            f.state.StopKey = f.state.EscapeKey;
            f.cycle.Minuterie1_Timer();  // even with a stop pending: nothing during a pass
            f.state.StopKey.clear();
        }
        --depth;
    };

    f.cycle.Minuterie1_Timer();

    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(f.reader.calls.size(), 2u);
    EXPECT_EQ(f.cycle.droppedTicks(), 4);
    EXPECT_EQ(f.stops, 0);
    EXPECT_EQ(f.Texts().size(), 2u);

    f.reader.during = nullptr;
    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.reader.calls.size(), 4u) << "the next tick after the pass runs normally";
}

TEST(MeasurementCycle, EachChannelShowsItsOwnStationsTemperature) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.Channel(1, 13, QStringLiteral("2"));  // R_847 reads no temperature
    f.Channel(2, 2, QStringLiteral("3"));
    f.reader.stations[{1, 0}] = PhReply(701, 253);
    f.reader.stations[{2, 0}] = Reply({6, 0, 0, 1834, 1234, 0, 0, 0});
    f.reader.stations[{3, 0}] = PhReply(655, 0xFFE7);

    f.cycle.Minuterie1_Timer();

    const std::map<int, QString> texts = f.Texts();
    EXPECT_EQ(texts.at(0), QStringLiteral("7,01 pH     25,3  °C"));
    EXPECT_EQ(texts.at(1), QStringLiteral("18,34 MOhm\r\n12,34 MOhm"));
    EXPECT_EQ(texts.at(2), QStringLiteral("6,55 pH     -2,5  °C"));
    EXPECT_EQ(f.results.TemperatureValue, -2.5);

    // Without the last channel, R_847 leaves the first channel's temperature in place.
    f.store.setSelected(2, 0);
    f.reader.stations[{1, 0}] = PhReply(701, 199);
    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.results.TemperatureValue, 19.9);
    EXPECT_DOUBLE_EQ(f.results.ResistivityValue, 18.34) << "scaled in place by the text";
}

TEST(MeasurementCycle, SettingsChangedBetweenTicksTakeEffectOnTheNextTick) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.reader.stations[{1, 0}] = PhReply(701, 253);
    f.reader.stations[{5, 20}] = Reply({0, 0, 0, 1500, 100, 0, 0, 0});
    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.Texts().at(0), QStringLiteral("7,01 pH     25,3  °C"));

    f.store.setAddress(0, QStringLiteral("5"));
    f.store.setExtBlock(0, true);
    f.store.setTypeIndex(0, 6);  // chlorine
    f.store.setSelected(1, 1);   // type -1: selected, yet skipped
    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.reader.calls.back(), (ScriptedReader::Call{5, 20}));
    EXPECT_EQ(f.Texts().at(0), QStringLiteral("1,500 mg/l   10,0  °C"));

    f.store.setSelected(0, 2);  // the third state is not "selected"
    f.cycle.Minuterie1_Timer();
    EXPECT_EQ(f.reader.calls.size(), 2u);
    EXPECT_TRUE(f.Texts().empty());
}

// Each reading carries the text just shown and the numbers behind it, with the units the
// text shows; a silent station gives HS and no number.
TEST(MeasurementCycle, ReadingsMatchTheShownTextsWithTheirNumbers) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.Channel(1, 13, QStringLiteral("2"));
    f.Channel(2, 5, QStringLiteral("3"));
    f.Channel(3, 0, QStringLiteral("4"));
    f.store.setTag(0, QStringLiteral("Bassin"));
    f.reader.stations[{1, 0}] = PhReply(701, 253);
    f.reader.stations[{2, 0}] = Reply({6, 0, 0, 1834, 1234, 0, 0, 0});
    // Flow range 20 (one decimal, m3/h): 1234 reads 123.4.
    f.reader.stations[{3, 0}] = Reply({20, 0x0012, 0, 1234, 200, 0, 0, 0});
    std::vector<ChannelReading> readings;
    QObject::connect(&f.cycle, &MeasurementCycle::reading, &f.cycle,
                     [&](const ChannelReading& r) { readings.push_back(r); });

    f.cycle.Minuterie1_Timer();

    ASSERT_EQ(readings.size(), 4u);
    const std::map<int, QString> texts = f.Texts();
    for (const ChannelReading& r : readings) {
        SCOPED_TRACE(r.channel);
        EXPECT_EQ(r.text, texts.at(r.channel));
        EXPECT_EQ(r.time.timeSpec(), Qt::UTC);
    }
    EXPECT_EQ(readings[0].tag, QStringLiteral("Bassin"));
    EXPECT_EQ(readings[0].typeName, QStringLiteral("pH"));
    EXPECT_EQ(readings[0].numbers, (QList<ReadingNumber>{{u"pH"_qs, 7.01, u"pH"_qs}}));
    EXPECT_EQ(readings[0].temperature, 25.3);
    EXPECT_EQ(readings[1].numbers,
              (QList<ReadingNumber>{{u"Résistivité"_qs, 18.34, u"MOhm"_qs},
                                    {u"Résistivité 2"_qs, 12.34, u"MOhm"_qs}}));
    EXPECT_FALSE(readings[1].temperature.has_value());
    ASSERT_EQ(readings[2].numbers.size(), 3u);
    EXPECT_EQ(readings[2].numbers[0], (ReadingNumber{u"Débit"_qs, 123.4, u"m3/h"_qs}));
    EXPECT_TRUE(readings[2].text.startsWith(QStringLiteral("  123,4  m3/h")))
        << readings[2].text.toStdString();
    EXPECT_FALSE(readings[3].ok);
    EXPECT_EQ(readings[3].text, QStringLiteral("HS"));
    EXPECT_TRUE(readings[3].numbers.isEmpty());
}

TEST(MeasurementCycle, ASilentStationIsLeftOutAfterItsMissesButStillReadsHS) {
    Fixture f;
    f.Channel(0, 2, QStringLiteral("1"));
    f.Channel(1, 2, QStringLiteral("2"));  // silent
    f.reader.stations[{1, 0}] = PhReply(700, 200);
    f.cycle.setSilentStations(2, 3'600'000);
    std::vector<bool> ok;
    QObject::connect(&f.cycle, &MeasurementCycle::reading, &f.cycle,
                     [&](const ChannelReading& r) { ok.push_back(r.ok); });
    for (int pass = 0; pass < 4; ++pass) {
        f.cycle.RunMeasurementCycle();
        EXPECT_EQ(f.Texts().at(1), QStringLiteral("HS"));
    }
    EXPECT_EQ(std::count(f.reader.calls.begin(), f.reader.calls.end(), ScriptedReader::Call{2, 0}),
              2);
    EXPECT_EQ(f.reader.calls.size(), 6u) << "the live station in every pass";
    EXPECT_EQ(ok, (std::vector<bool>{true, false, true, false, true, false, true, false}));
    f.store.setAddress(1, QStringLiteral("1"));  // now a station that answers
    f.cycle.RunMeasurementCycle();
    EXPECT_EQ(f.Texts().at(1), QStringLiteral("7,00 pH     20,0  °C"));
}

}  // namespace
}  // namespace merival
