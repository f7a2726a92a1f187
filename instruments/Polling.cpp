#include "instruments/Polling.h"

#include <array>
#include <optional>

#include "instruments/Frame.h"
#include "serial/Transport.h"

namespace merival {

namespace {

constexpr quint8 kReadHoldingRegisters = 3;
constexpr quint16 kRegisterCount = 8;

// Reply positions are 1-based, counted from the first byte received; a reply shorter than
// the position reads 0 there.
int Byte(const QByteArray& reply, int position) {
    const qsizetype index = position - 1;
    if (index < 0 || index >= reply.size()) {
        return 0;
    }
    return static_cast<quint8>(reply.at(index));
}

int Word(const QByteArray& reply, int position) {
    return Byte(reply, position) * 256 + Byte(reply, position + 1);
}

int Signed(const QByteArray& reply, int position) {
    const int word = Word(reply, position);
    return word <= 32767 ? word : word - 65536;
}

double Temperature(const QByteArray& reply) {
    return Signed(reply, 12) / 10.0;
}

// Four bytes as eight hexadecimal digits read as a decimal number. A nibble above 9 writes
// a letter; the number then stops at the digits before it (no exponent is ever read).
double BcdCount(const QByteArray& reply, int i, int j, int k, int l) {
    double value = 0;
    for (const int position : {i, j, k, l}) {
        const int byte = Byte(reply, position);
        for (const int nibble : {byte >> 4, byte & 0x0F}) {
            if (nibble > 9) {
                return value;
            }
            value = value * 10 + nibble;
        }
    }
    return value;
}

// Unit text of a status byte's high nibble; nothing where the family's list stops, so the
// field keeps its previous text.
using UnitList = std::array<const char*, 16>;

constexpr UnitList kTurbidityUnits = {"NTU", "FAU", "mg/l", "g/l", "FNU", "m", "cm", "%", ""};
constexpr UnitList k738Units = {"m", "cm", "%", "ppm", "mg/l", "g/l", "", "\u00B0C"};
constexpr UnitList k562Units = {"ppm", "g/l"};

std::optional<QString> UnitOfNibble(const UnitList& list, int statusByte) {
    const char* text = list[static_cast<size_t>((statusByte >> 4) & 0x0F)];
    if (text == nullptr) {
        return std::nullopt;
    }
    return QString::fromUtf8(text);
}

void DecodeNibbleFamily(const QByteArray& reply, const UnitList& units, qint16& range,
                        QString& unit, double& value, double& temperature) {
    const int status = Byte(reply, 5);
    range = static_cast<qint16>(status & 0x0F);
    if (const auto text = UnitOfNibble(units, status)) {
        unit = *text;
    }
    value = Signed(reply, 10);
    temperature = Temperature(reply);
}

template <void (*Decode)(const QByteArray&, MeasurementResults&)>
bool Poll(RegisterReader& reader, MeasurementResults& results, double address, qint16 blockOffset) {
    const ExchangeResult exchange =
        reader.ExchangeReadRegisters(address, static_cast<quint16>(blockOffset));
    if (!exchange.ok) {
        return false;
    }
    Decode(exchange.reply, results);
    return true;
}

}  // namespace

ExchangeResult TransportRegisterReader::ExchangeReadRegisters(double address,
                                                              quint16 firstRegister) {
    const std::optional<quint8> station = StationAddressByte(address);
    if (!station) {
        return {};
    }
    const ReadRequest request =
        BuildReadRequest(*station, kReadHoldingRegisters, firstRegister, kRegisterCount);
    // A failed exchange is tried again within the pass when the line's settings ask for it;
    // a closed line is not.
    for (int attempt = 0; attempt <= transport_.timing().retries; ++attempt) {
        if (!transport_.EnsureOpen()) {
            transport_.ReportUnsent(request.frame);
            return {};
        }
        transport_.ClearInput();
        transport_.SendFrame(request.frame);
        ReplyResult reply = transport_.ReadReply(request.expectedLength);
        if (reply.ok) {
            return {true, std::move(reply.reply)};
        }
    }
    return {};
}

void DecodeResistivity(const QByteArray& reply, MeasurementResults& results) {
    results.ResistivityRange = static_cast<qint16>(Byte(reply, 5));
    results.ResistivityValue = Signed(reply, 10);
    results.TemperatureValue = Temperature(reply);
}

void DecodeConductivity(const QByteArray& reply, MeasurementResults& results) {
    results.ConductivityRange = static_cast<qint16>(Byte(reply, 5));
    results.ConductivityValue = Signed(reply, 10);
    results.TemperatureValue = Temperature(reply);
}

void DecodePh(const QByteArray& reply, MeasurementResults& results) {
    results.PhValue = Signed(reply, 10) / 100.0;
    results.TemperatureValue = Temperature(reply);
}

void DecodeRedox(const QByteArray& reply, MeasurementResults& results) {
    results.RedoxValue = Signed(reply, 10);
    results.TemperatureValue = Temperature(reply);
}

void DecodeOxygen(const QByteArray& reply, MeasurementResults& results) {
    results.OxygenUnitFlag = static_cast<qint16>(Byte(reply, 5));
    // A negative reading (sign bit set) shows as 0.
    results.OxygenValue = Byte(reply, 10) < 0x80 ? Word(reply, 10) : 0;
    results.TemperatureValue = Temperature(reply);
}

void DecodeFlowMeter(const QByteArray& reply, MeasurementResults& results) {
    results.FlowRange = static_cast<qint16>(Byte(reply, 5));
    // Unsigned: a flow is never negative, and large flows set the top bit.
    results.FlowRate = Word(reply, 10);
    results.TemperatureValue = Temperature(reply);
    // Register 2 holds the four high digits, register 1 the four low ones; likewise 7 and 6.
    results.CumulatedVolume = BcdCount(reply, 8, 9, 6, 7);
    results.DailyVolume = BcdCount(reply, 18, 19, 16, 17);
}

void DecodeChlorine(const QByteArray& reply, MeasurementResults& results) {
    results.ChlorineValue = Signed(reply, 10) / 1000.0;
    results.TemperatureValue = Temperature(reply);
}

void DecodeTurbidity(const QByteArray& reply, MeasurementResults& results) {
    DecodeNibbleFamily(reply, kTurbidityUnits, results.TurbidityRange, results.TurbidityUnit,
                       results.TurbidityValue, results.TemperatureValue);
}

void DecodeDualResistivity(const QByteArray& reply, MeasurementResults& results) {
    results.ResistivityRange = static_cast<qint16>(Byte(reply, 5));
    results.ResistivityValue = Signed(reply, 10);
    results.SecondResistivityValue = Signed(reply, 12);
}

void Decode738(const QByteArray& reply, MeasurementResults& results) {
    DecodeNibbleFamily(reply, k738Units, results.Model738Range, results.Model738Unit,
                       results.Model738Value, results.TemperatureValue);
}

void Decode562(const QByteArray& reply, MeasurementResults& results) {
    DecodeNibbleFamily(reply, k562Units, results.Model562Range, results.Model562Unit,
                       results.Model562Value, results.TemperatureValue);
}

bool PollResistivity(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeResistivity>(r, m, a, b);
}
bool PollConductivity(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeConductivity>(r, m, a, b);
}
bool PollPh(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodePh>(r, m, a, b);
}
bool PollRedox(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeRedox>(r, m, a, b);
}
bool PollOxygen(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeOxygen>(r, m, a, b);
}
bool PollFlowMeter(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeFlowMeter>(r, m, a, b);
}
bool PollChlorine(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeChlorine>(r, m, a, b);
}
bool PollTurbidity(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeTurbidity>(r, m, a, b);
}
bool PollDualResistivity(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<DecodeDualResistivity>(r, m, a, b);
}
bool Poll738(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<Decode738>(r, m, a, b);
}
bool Poll562(RegisterReader& r, MeasurementResults& m, double a, qint16 b) {
    return Poll<Decode562>(r, m, a, b);
}

PollRoutine PollRoutineForType(int typeIndex) {
    static constexpr std::array<PollRoutine, 16> kRoutines = {
        PollResistivity,  PollConductivity,    PollPh,           PollRedox,
        PollOxygen,       PollFlowMeter,       PollChlorine,     PollConductivity,
        PollConductivity, PollConductivity,    PollConductivity, PollConductivity,
        PollTurbidity,    PollDualResistivity, Poll738,          Poll562,
    };
    if (typeIndex < 0 || typeIndex >= static_cast<int>(kRoutines.size())) {
        return nullptr;
    }
    return kRoutines[static_cast<size_t>(typeIndex)];
}

}  // namespace merival
