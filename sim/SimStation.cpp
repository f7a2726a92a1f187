#include "sim/SimStation.h"

#include <algorithm>
#include <cmath>

#include "instruments/Frame.h"

namespace merival::sim {

namespace {

struct NamedFamily {
    Family family;
    const char* name;
};
constexpr NamedFamily kFamilies[] = {
    {Family::Resistivity, "resistivity"},
    {Family::Conductivity, "conductivity"},
    {Family::Ph, "ph"},
    {Family::Redox, "redox"},
    {Family::Oxygen, "oxygen"},
    {Family::Flow, "flow"},
    {Family::Chlorine, "chlorine"},
    {Family::Turbidity, "turbidity"},
    {Family::DualResistivity, "dual-resistivity"},
    {Family::Model738, "738"},
    {Family::Model562, "562"},
};

struct NamedFault {
    Fault fault;
    const char* name;
};
constexpr NamedFault kFaults[] = {
    {Fault::Silent, "silent"}, {Fault::Exception, "exception"}, {Fault::Babble, "babble"},
    {Fault::Short, "short"},   {Fault::BadCrc, "badcrc"},       {Fault::Noise, "noise"},
    {Fault::Long, "long"},     {Fault::Late, "late"},           {Fault::Echo, "echo"},
};

quint64 SplitMix(quint64& x) {
    quint64 z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

bool WideRange(Family family) {
    switch (family) {
        case Family::Resistivity:
        case Family::DualResistivity:
        case Family::Conductivity:
        case Family::Flow:
        case Family::Turbidity:
        case Family::Model738:
        case Family::Model562:
            return true;
        default:
            return false;
    }
}

quint16 Clamp16(double value) {
    return static_cast<quint16>(std::clamp(std::lround(value), 0L, 65535L));
}

quint16 Signed16(double value) {
    const long v = std::clamp(std::lround(value), -32768L, 32767L);
    return static_cast<quint16>(static_cast<qint16>(v));
}

// Range 1..4 of the nibble families: the fewest decimals that keep four digits.
void FourDigitRange(double value, int& range, double& raw) {
    if (value < 10) {
        range = 1;
        raw = value * 1000;
    } else if (value < 100) {
        range = 2;
        raw = value * 100;
    } else if (value < 1000) {
        range = 3;
        raw = value * 10;
    } else {
        range = 4;
        raw = value;
    }
}

}  // namespace

std::optional<Family> FamilyFromName(const QString& name) {
    for (const auto& f : kFamilies) {
        if (name == QLatin1String(f.name)) {
            return f.family;
        }
    }
    return std::nullopt;
}

QString FamilyName(Family family) {
    for (const auto& f : kFamilies) {
        if (f.family == family) {
            return QLatin1String(f.name);
        }
    }
    return {};
}

std::optional<Fault> FaultFromName(const QString& name) {
    for (const auto& f : kFaults) {
        if (name == QLatin1String(f.name)) {
            return f.fault;
        }
    }
    return std::nullopt;
}

QString FaultName(Fault fault) {
    for (const auto& f : kFaults) {
        if (f.fault == fault) {
            return QLatin1String(f.name);
        }
    }
    return {};
}

Rng::Rng(quint64 seed) : state_(SplitMix(seed)) {
    if (state_ == 0) {
        state_ = 0x2545F4914F6CDD1DULL;
    }
}

quint64 Rng::Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
}

double Rng::Uniform() {
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double Rng::Gauss() {
    const double u1 = 1.0 - Uniform();  // (0, 1]
    const double u2 = Uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

int Rng::Between(int low, int high) {
    return low + static_cast<int>(Next() % static_cast<quint64>(high - low + 1));
}

quint16 ToBcd(quint32 value) {
    quint16 bcd = 0;
    for (int shift = 0; shift < 16; shift += 4) {
        bcd |= static_cast<quint16>((value % 10) << shift);
        value /= 10;
    }
    return bcd;
}

QByteArray BuildRegisterReply(quint8 address, const Registers& registers) {
    QByteArray reply;
    reply.append(static_cast<char>(address));
    reply.append(char(3));
    reply.append(static_cast<char>(2 * registers.size()));
    for (const quint16 r : registers) {
        reply.append(SplitWord(r));
    }
    reply.append(FrameCrc(reply));
    return reply;
}

QByteArray BuildExceptionReply(quint8 address, quint8 function, quint8 code) {
    QByteArray reply;
    reply.append(static_cast<char>(address));
    reply.append(static_cast<char>(function | 0x80));
    reply.append(static_cast<char>(code));
    reply.append(FrameCrc(reply));
    return reply;
}

Station::Station(const StationSetup& setup, quint64 seed)
    : setup_(setup),
      values_(seed * 1000003ULL + static_cast<quint64>(setup.address) * 7919ULL +
              static_cast<quint64>(setup.family)),
      faults_(~seed ^ (static_cast<quint64>(setup.address) << 32)) {
    InitBlock(blocks_[0], 0);
    InitBlock(blocks_[1], 1);
}

void Station::InitBlock(Block& b, int index) {
    Rng& r = values_;
    b.temperatureMean = 12 + 16 * r.Uniform();
    b.temperature = b.temperatureMean + r.Gauss();
    switch (setup_.family) {
        case Family::Resistivity:
        case Family::DualResistivity:
            b.mean = 1.5 + 5.7 * r.Uniform();  // 30 Ohm .. 16 MOhm
            b.second = 0.5 + 17 * r.Uniform();
            break;
        case Family::Conductivity:
            b.mean = -1 + 6.2 * r.Uniform();  // 0.1 uS .. 160 mS
            break;
        case Family::Ph:
            b.mean = 5.5 + 3 * r.Uniform();
            break;
        case Family::Redox:
            b.mean = -300 + 1000 * r.Uniform();
            break;
        case Family::Oxygen:
            // Block 0 in % saturation, block 20 in mg/l.
            b.mean = index == 0 ? 60 + 50 * r.Uniform() : 5 + 6 * r.Uniform();
            break;
        case Family::Flow:
            b.mean = -0.5 + 4 * r.Uniform();  // 0.3 .. 3000 m3/h
            b.flowRangeStyle = r.Uniform() < 0.5 ? 30 : 31;
            b.cumulated = 10000 + std::floor(9e6 * r.Uniform());
            b.daily = std::floor(5000 * r.Uniform());
            break;
        case Family::Chlorine:
            b.mean = 0.2 + 2.3 * r.Uniform();
            break;
        case Family::Turbidity: {
            static constexpr int kUnits[] = {0x0, 0x1, 0x4, 0x2};
            b.unitNibble = kUnits[(r.Between(0, 3) + index) % 4];
            b.mean = -1 + 4.5 * r.Uniform();
            break;
        }
        case Family::Model738:
            b.unitNibble = (r.Between(0, 7) + 3 * index) % 8;
            b.mean = -1 + 4.5 * r.Uniform();
            break;
        case Family::Model562:
            b.unitNibble = (r.Between(0, 1) + index) % 2;
            b.mean = -1 + 4 * r.Uniform();
            break;
    }
    b.level = b.mean;
}

Registers Station::NextRegisters(int blockIndex) {
    Block& b = blocks_[static_cast<size_t>(std::clamp(blockIndex, 0, 1))];
    Rng& r = values_;
    // Mean-reverting walk: small steps, never far from the station's own level.
    const double sigma = WideRange(setup_.family) ? 0.01 : 0.004 * (std::abs(b.mean) + 1);
    b.level += 0.05 * (b.mean - b.level) + sigma * r.Gauss();
    b.temperature += 0.05 * (b.temperatureMean - b.temperature) + 0.05 * r.Gauss();
    b.second = std::clamp(b.second + 0.02 * r.Gauss(), 0.01, 18.2);
    ++b.sequence;
    return Encode(b, blockIndex);
}

Registers Station::Encode(Block& b, int index) {
    Registers regs{};
    int status = 0;
    double raw = 0;
    regs[4] = Signed16(b.temperature * 10);
    regs[5] = b.sequence;
    switch (setup_.family) {
        case Family::Resistivity:
        case Family::DualResistivity: {
            const double ohm = std::pow(10.0, b.level);
            static constexpr double kLimits[] = {1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
            static constexpr double kScale[] = {10, 1, 0.1, 0.01, 1e-3, 1e-4, 1e-5};
            int range = 0;
            while (range < 6 && ohm >= kLimits[range]) {
                ++range;
            }
            status = range + 1;
            raw = ohm * kScale[range];
            if (setup_.family == Family::DualResistivity) {
                regs[4] = Clamp16(b.second * 100);
            }
            regs[3] = Signed16(raw);
            break;
        }
        case Family::Conductivity: {
            const double us = std::pow(10.0, b.level);
            static constexpr double kLimits[] = {10, 100, 1000, 10000};
            static constexpr double kScale[] = {1000, 100, 10, 1, 0.1};
            int range = 0;
            while (range < 4 && us >= kLimits[range]) {
                ++range;
            }
            status = range + 1;
            regs[3] = Signed16(us * kScale[range]);
            break;
        }
        case Family::Ph:
            regs[3] = Signed16(std::clamp(b.level, 0.0, 14.0) * 100);
            break;
        case Family::Redox:
            regs[3] = Signed16(b.level);
            break;
        case Family::Oxygen:
            status = index;  // 0: %, 1: mg/l
            regs[3] = Signed16(std::max(b.level, 0.0) * (index == 0 ? 10 : 100));
            break;
        case Family::Flow: {
            const double m3h = std::pow(10.0, b.level);
            if (index == 0) {
                // Up to 60 m3/h with three decimals: counts above 32767 use the top bit.
                if (m3h < 60) {
                    status = 0;
                    raw = m3h * 1000;
                } else if (m3h < 100) {
                    status = 10;
                    raw = m3h * 100;
                } else if (m3h < 1000) {
                    status = 20;
                    raw = m3h * 10;
                } else {
                    status = b.flowRangeStyle;
                    raw = m3h;
                }
            } else {
                const double m3s = m3h / 3600;
                status = m3s < 30 ? 40 : 50;
                raw = m3s * (status == 40 ? 1000 : 100);
            }
            regs[3] = Clamp16(raw);
            // Each request stands for one minute of flow.
            b.cumulated = std::fmod(b.cumulated + m3h / 60, 1e8);
            b.daily += m3h / 60;
            if (b.sequence % 1440 == 0 || b.daily >= 1e8) {
                b.daily = 0;
            }
            const auto cumulated = static_cast<quint32>(b.cumulated);
            const auto daily = static_cast<quint32>(b.daily);
            regs[1] = ToBcd(cumulated % 10000);
            regs[2] = ToBcd(cumulated / 10000);
            regs[6] = ToBcd(daily % 10000);
            regs[7] = ToBcd(daily / 10000);
            break;
        }
        case Family::Chlorine:
            regs[3] = Signed16(std::max(b.level, 0.0) * 1000);
            break;
        case Family::Turbidity:
        case Family::Model738:
        case Family::Model562: {
            int range = 0;
            FourDigitRange(std::pow(10.0, b.level), range, raw);
            status = (b.unitNibble << 4) | range;
            regs[3] = Signed16(raw);
            break;
        }
    }
    regs[0] = static_cast<quint16>(status & 0xFF);
    return regs;
}

bool Station::Draw(Fault fault) {
    const auto it = setup_.faults.find(fault);
    if (it == setup_.faults.end()) {
        return false;
    }
    return faults_.Uniform() < it->second;
}

Answer Station::Respond(const QByteArray& request) {
    Answer answer;
    const auto address = static_cast<quint8>(request.at(0));
    const auto function = static_cast<quint8>(request.at(1));
    const int first =
        (static_cast<quint8>(request.at(2)) << 8) | static_cast<quint8>(request.at(3));
    const int count =
        (static_cast<quint8>(request.at(4)) << 8) | static_cast<quint8>(request.at(5));

    // Every fault is drawn each time, so one fault's rate never shifts another's sequence.
    const bool silent = Draw(Fault::Silent);
    const bool exception = Draw(Fault::Exception);
    const bool babble = Draw(Fault::Babble);
    const bool shortReply = Draw(Fault::Short);
    const bool badCrc = Draw(Fault::BadCrc);
    const bool noise = Draw(Fault::Noise);
    const bool longReply = Draw(Fault::Long);
    const bool late = Draw(Fault::Late);
    const bool echo = Draw(Fault::Echo);

    QByteArray reply;
    if (function != 3) {
        reply = BuildExceptionReply(address, function, 1);
        answer.kinds << QStringLiteral("illegal-function");
    } else if ((first != 0 && first != 20) || count != 8) {
        reply = BuildExceptionReply(address, function, 2);
        answer.kinds << QStringLiteral("illegal-address");
    } else {
        reply = BuildRegisterReply(address, NextRegisters(first == 0 ? 0 : 1));
    }

    if (silent) {
        reply.clear();
        answer.kinds = QStringList{QStringLiteral("silent")};
    } else if (exception) {
        reply = BuildExceptionReply(address, function, 4);
        answer.kinds << QStringLiteral("exception");
    } else if (babble) {
        const int size = faults_.Between(1500, 6000);
        reply.resize(size);
        for (char& c : reply) {
            c = static_cast<char>(faults_.Next() & 0xFF);
        }
        answer.kinds << QStringLiteral("babble");
    } else {
        if (shortReply) {
            reply.truncate(faults_.Between(3, static_cast<int>(reply.size()) - 1));
            answer.kinds << QStringLiteral("short");
        } else if (badCrc) {
            const qsizetype crcLow = reply.size() - 2;
            reply[crcLow] = static_cast<char>(reply[crcLow] ^ 0xA5);
            answer.kinds << QStringLiteral("badcrc");
        }
        if (noise) {
            const int hits = faults_.Between(1, 3);
            for (int i = 0; i < hits; ++i) {
                const int at = faults_.Between(0, static_cast<int>(reply.size()) - 1);
                reply[at] = static_cast<char>(reply[at] ^ (1 << faults_.Between(0, 7)));
            }
            answer.kinds << QStringLiteral("noise");
        }
        if (longReply) {
            const int extra = faults_.Between(1, 6);
            for (int i = 0; i < extra; ++i) {
                reply.append(static_cast<char>(faults_.Next() & 0xFF));
            }
            answer.kinds << QStringLiteral("long");
        }
    }
    if (late && !reply.isEmpty()) {
        answer.delayMs = kLateMs;
        answer.kinds << QStringLiteral("late");
    }
    if (echo) {
        answer.bytes = request;
        answer.kinds << QStringLiteral("echo");
    }
    answer.bytes.append(reply);
    answer.reply = reply;
    if (answer.kinds.isEmpty()) {
        answer.kinds << QStringLiteral("ok");
    }
    return answer;
}

}  // namespace merival::sim
