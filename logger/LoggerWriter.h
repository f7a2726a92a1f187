#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "logger/LoggerFormat.h"

namespace merival {

// Builds logger memory images for tests, demos and benchmarks (the program itself never writes
// records into a logger file).

// A name as the 16-byte field: Windows-1252, cut or padded with blanks.
[[nodiscard]] QByteArray LoggerNameField(const QString& name);

// A slot header from readable values; typeCode "" leaves the slot empty (zero bytes).
[[nodiscard]] LoggerSlotHeader MakeLoggerSlot(const QString& name, const QString& typeCode,
                                              qint16 range);

// A decimal number 0..99999999 as the totaliser's four BCD bytes (12345678 -> 0x12345678,
// stored 78 56 34 12).
[[nodiscard]] quint32 BcdTotaliser(quint32 decimal);
// A number 0..99 as one BCD byte (date and time fields).
[[nodiscard]] quint8 Bcd(int decimal);

[[nodiscard]] QByteArray WriteLoggerHeader(const LoggerHeader& header);
void AppendLoggerRecord(QByteArray& out, const LoggerRecord& record);
[[nodiscard]] QByteArray WriteLoggerFile(const LoggerHeader& header,
                                         const std::vector<LoggerRecord>& records);

}  // namespace merival
