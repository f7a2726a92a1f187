#pragma once

#include <QByteArray>

#include "instruments/MeasurementResults.h"

namespace merival {

class Transport;

struct ExchangeResult {
    bool ok = false;
    QByteArray reply;
};

// One read of 8 registers from a station. The transport-backed implementation is
// TransportRegisterReader; tests may script it.
class RegisterReader {
public:
    virtual ~RegisterReader() = default;
    [[nodiscard]] virtual ExchangeResult ExchangeReadRegisters(double address,
                                                               quint16 firstRegister) = 0;
};

// ClearInput, BuildReadRequest(a, 3, r, 8), SendFrame, ReadReply(21) over a Transport.
class TransportRegisterReader : public RegisterReader {
public:
    explicit TransportRegisterReader(Transport& transport) : transport_(transport) {}
    [[nodiscard]] ExchangeResult ExchangeReadRegisters(double address,
                                                       quint16 firstRegister) override;

private:
    Transport& transport_;
};

// Pure decoders: write the family's fields of the results from a reply of 21 or more bytes
// (shorter replies read missing bytes as 0).
void DecodeResistivity(const QByteArray& reply, MeasurementResults& results);
void DecodeConductivity(const QByteArray& reply, MeasurementResults& results);
void DecodePh(const QByteArray& reply, MeasurementResults& results);
void DecodeRedox(const QByteArray& reply, MeasurementResults& results);
void DecodeOxygen(const QByteArray& reply, MeasurementResults& results);
void DecodeFlowMeter(const QByteArray& reply, MeasurementResults& results);
void DecodeChlorine(const QByteArray& reply, MeasurementResults& results);
void DecodeTurbidity(const QByteArray& reply, MeasurementResults& results);
void DecodeDualResistivity(const QByteArray& reply, MeasurementResults& results);
void Decode738(const QByteArray& reply, MeasurementResults& results);
void Decode562(const QByteArray& reply, MeasurementResults& results);

// The polling routines: one exchange, then on success the decoder. False writes nothing.
using PollRoutine = bool (*)(RegisterReader&, MeasurementResults&, double address,
                             qint16 blockOffset);
bool PollResistivity(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollConductivity(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollPh(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollRedox(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollOxygen(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollFlowMeter(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollChlorine(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollTurbidity(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool PollDualResistivity(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool Poll738(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);
bool Poll562(RegisterReader&, MeasurementResults&, double address, qint16 blockOffset);

// The routine for a type index 0..15; nullptr for any other index.
[[nodiscard]] PollRoutine PollRoutineForType(int typeIndex);

}  // namespace merival
