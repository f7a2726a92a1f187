#pragma once

#include <QByteArray>
#include <optional>

namespace merival {

// Two bytes, high byte first, as Modbus sends register numbers and counts.
[[nodiscard]] QByteArray SplitWord(quint16 value);

// CRC-16/MODBUS of the bytes.
[[nodiscard]] quint16 Crc16Modbus(const QByteArray& bytes);
// The two CRC bytes to append to a frame: low byte first (the opposite of SplitWord).
[[nodiscard]] QByteArray FrameCrc(const QByteArray& frame);

struct ReadRequest {
    QByteArray frame;
    int expectedLength = 0;  // 2 * count + 5
};

[[nodiscard]] ReadRequest BuildReadRequest(quint8 address, quint8 function, quint16 firstRegister,
                                           quint16 count);

// The station address as it goes on the wire: rounded half to even; nothing when the result
// does not fit one byte (0..255) or the number is not finite.
[[nodiscard]] std::optional<quint8> StationAddressByte(double address);

}  // namespace merival
