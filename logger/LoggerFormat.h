#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <string>

#include "instruments/Catalogue.h"

namespace merival {

// Layout of a logger memory image: a 58-byte header, then 22-byte records; little-endian.
inline constexpr int kLoggerHeaderSize = 58;
inline constexpr int kLoggerRecordSize = 22;
inline constexpr int kLoggerNameSize = 16;

struct LoggerSlotHeader {
    QByteArray nameField;  // the 16 stored bytes (Windows-1252)
    QString typeCode;      // two characters, as in the catalogue
    qint16 range = 0;

    bool operator==(const LoggerSlotHeader&) const = default;
};

struct LoggerHeader {
    std::array<LoggerSlotHeader, 2> bySlot;

    bool operator==(const LoggerHeader&) const = default;
};

struct LoggerSlotRecord {
    quint32 totaliser = 0;  // the four BCD bytes, first stored byte least significant
    qint16 measurement = 0;
    qint16 temperature = 0;

    bool operator==(const LoggerSlotRecord&) const = default;
};

struct LoggerRecord {
    std::array<quint8, 3> date{};
    std::array<quint8, 2> time{};
    std::array<LoggerSlotRecord, 2> bySlot;

    bool operator==(const LoggerRecord&) const = default;
};

// Bytes missing past the end of a short input read as zero.
[[nodiscard]] LoggerHeader ParseLoggerHeader(QByteArrayView bytes);
// `bytes` must hold kLoggerRecordSize bytes.
[[nodiscard]] LoggerRecord ParseLoggerRecord(const char* bytes);

// What the export makes of one slot of the header.
struct SlotPlan {
    QString instrumentName;          // "" when the type code is not in the catalogue
    QByteArray nameField;            // the 16 stored bytes
    std::optional<UnitResult> unit;  // nullopt: no rule, measurement column left empty
    int temperatureDivisor = 10;
    bool flow = false;  // writes the totaliser column
    QString titleLine;  // without the line end
    QString fileName;   // before the clash rule between the two slots

    [[nodiscard]] bool hasInstrument() const { return !instrumentName.isEmpty(); }
};

// slot: 0 for slot 1, 1 for slot 2.
[[nodiscard]] SlotPlan PlanSlot(const LoggerHeader& header, int slot);

// The files an export writes, in order: slot 1 always, slot 2 when it has an instrument. A
// second name equal to the first (ignoring case) gets "_2" before ".xls".
[[nodiscard]] QStringList ExportFileNames(const SlotPlan& slot1, const SlotPlan& slot2);

// "<instrument>_<first 15 characters of the name, blanks trimmed>.xls", made safe for any file
// system: characters that no file name may hold become "_", and so do leading dots of the name.
[[nodiscard]] QString OutputFileName(const QString& instrumentName, const QByteArray& nameField);

// The "Logger : " line's copy of the name field: all 16 bytes, control bytes (NUL padding
// among them) written as blanks so the export stays a plain text file.
[[nodiscard]] QByteArray PrintableNameField(const QByteArray& nameField);

// Field texts, appended to an 8-bit buffer (hot path: no QString per field).
void AppendHexByte(std::string& out, quint8 value);  // upper case, no leading zero
void AppendDate(std::string& out, const std::array<quint8, 3>& date);
void AppendTime(std::string& out, const std::array<quint8, 2>& time);
void AppendTotaliser(std::string& out, quint32 totaliser);  // 8 digits, last stored byte first
// raw / divisor in shortest decimal form (at most 15 significant digits, no exponent, no
// trailing zeros). Appends nothing for a zero divisor.
void AppendQuotient(std::string& out, int raw, int divisor, char decimalSeparator);
void AppendInteger(std::string& out, long long value);

}  // namespace merival
