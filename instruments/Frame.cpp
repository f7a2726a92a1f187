#include "instruments/Frame.h"

#include <cmath>

namespace merival {

QByteArray SplitWord(quint16 value) {
    QByteArray bytes;
    bytes.append(static_cast<char>(value >> 8));
    bytes.append(static_cast<char>(value & 0xFF));
    return bytes;
}

quint16 Crc16Modbus(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001)
                            : static_cast<quint16>(crc >> 1);
        }
    }
    return crc;
}

QByteArray FrameCrc(const QByteArray& frame) {
    // The CRC is the one field of an RTU frame sent low byte first.
    const quint16 crc = Crc16Modbus(frame);
    QByteArray bytes;
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

ReadRequest BuildReadRequest(quint8 address, quint8 function, quint16 firstRegister,
                             quint16 count) {
    ReadRequest request;
    request.frame.append(static_cast<char>(address));
    request.frame.append(static_cast<char>(function));
    request.frame.append(SplitWord(firstRegister));
    request.frame.append(SplitWord(count));
    request.frame.append(FrameCrc(request.frame));
    request.expectedLength = 2 * count + 5;
    return request;
}

std::optional<quint8> StationAddressByte(double address) {
    if (!std::isfinite(address)) {
        return std::nullopt;
    }
    const double floor = std::floor(address);
    const double fraction = address - floor;
    double rounded = floor;
    if (fraction > 0.5) {
        rounded = floor + 1;
    } else if (fraction == 0.5) {
        rounded = std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
    }
    if (rounded < 0 || rounded > 255) {
        return std::nullopt;
    }
    return static_cast<quint8>(rounded);
}

}  // namespace merival
