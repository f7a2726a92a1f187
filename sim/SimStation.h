#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <map>
#include <optional>

namespace merival::sim {

enum class Family {
    Resistivity,
    Conductivity,
    Ph,
    Redox,
    Oxygen,
    Flow,
    Chlorine,
    Turbidity,
    DualResistivity,
    Model738,
    Model562,
};

[[nodiscard]] std::optional<Family> FamilyFromName(const QString& name);
[[nodiscard]] QString FamilyName(Family family);

// Faults in the order they are drawn for each request.
enum class Fault { Silent, Exception, Babble, Short, BadCrc, Noise, Long, Late, Echo };

[[nodiscard]] std::optional<Fault> FaultFromName(const QString& name);
[[nodiscard]] QString FaultName(Fault fault);

struct StationSetup {
    int address = 1;
    Family family = Family::Resistivity;
    std::map<Fault, double> faults;  // probability per request, 0..1
};

// Reproducible random numbers: splitmix64-seeded xorshift, same sequence on every platform.
class Rng {
public:
    explicit Rng(quint64 seed);
    quint64 Next();
    double Uniform();                // [0, 1)
    double Gauss();                  // mean 0, deviation 1
    int Between(int low, int high);  // inclusive

private:
    quint64 state_;
};

using Registers = std::array<quint16, 8>;

// What the station puts on the line for one request.
struct Answer {
    QStringList kinds;  // "ok", or the faults that shaped the answer
    QByteArray bytes;   // everything written, echo included; empty when silent
    QByteArray reply;   // the reply frame alone (after any echo)
    int delayMs = 0;    // on top of the line's own timing
};

// Delay of a late answer: beyond the 2000 ms the program waits.
constexpr int kLateMs = 2500;

// One simulated instrument. Each block (register 0 and register 20) has its own slowly
// drifting quantities; every request advances the block by one step, so a given seed and
// request sequence always produce the same values.
class Station {
public:
    Station(const StationSetup& setup, quint64 seed);

    [[nodiscard]] const StationSetup& setup() const { return setup_; }

    // The eight registers of a block (index 0: register 0, index 1: register 20), one step on.
    Registers NextRegisters(int blockIndex);

    // Answer to a well-formed request addressed to this station.
    Answer Respond(const QByteArray& request);

private:
    struct Block {
        double level = 0;  // main quantity (log10 of it for wide-range families)
        double mean = 0;
        double temperature = 20;
        double temperatureMean = 20;
        double second = 0;  // second resistivity, MOhm
        int unitNibble = 0;
        int flowRangeStyle = 30;  // 30 or 31
        double cumulated = 0;     // m3
        double daily = 0;         // m3
        quint16 sequence = 0;
    };

    void InitBlock(Block& block, int index);
    Registers Encode(Block& block, int index);
    bool Draw(Fault fault);

    StationSetup setup_;
    Rng values_;
    Rng faults_;
    std::array<Block, 2> blocks_;
};

// Modbus replies with a correct CRC.
[[nodiscard]] QByteArray BuildRegisterReply(quint8 address, const Registers& registers);
[[nodiscard]] QByteArray BuildExceptionReply(quint8 address, quint8 function, quint8 code);

// Four decimal digits as packed BCD (0..9999; higher digits are dropped).
[[nodiscard]] quint16 ToBcd(quint32 value);

}  // namespace merival::sim
