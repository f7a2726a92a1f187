#include "logger/LoggerWriter.h"

#include "base/Windows1252.h"

namespace merival {
namespace {

void AppendWord(QByteArray& out, quint16 value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

void PutWord(QByteArray& out, int offset, quint16 value) {
    out[offset] = static_cast<char>(value & 0xFF);
    out[offset + 1] = static_cast<char>(value >> 8);
}

void PutField(QByteArray& out, int offset, const QByteArray& bytes, int size) {
    for (int i = 0; i < size && i < bytes.size(); ++i) {
        out[offset + i] = bytes[i];
    }
}

}  // namespace

QByteArray LoggerNameField(const QString& name) {
    QByteArray field = ToWindows1252(name).left(kLoggerNameSize);
    field.append(kLoggerNameSize - field.size(), ' ');
    return field;
}

LoggerSlotHeader MakeLoggerSlot(const QString& name, const QString& typeCode, qint16 range) {
    if (typeCode.isEmpty()) {
        return {QByteArray(kLoggerNameSize, '\0'), QString(2, QChar(0)), 0};
    }
    return {LoggerNameField(name), typeCode, range};
}

quint32 BcdTotaliser(quint32 decimal) {
    quint32 bcd = 0;
    for (int shift = 0; shift < 32; shift += 4) {
        bcd |= (decimal % 10) << shift;
        decimal /= 10;
    }
    return bcd;
}

quint8 Bcd(int decimal) {
    return static_cast<quint8>(((decimal / 10) % 10) << 4 | decimal % 10);
}

QByteArray WriteLoggerHeader(const LoggerHeader& header) {
    QByteArray out(kLoggerHeaderSize, '\0');
    for (int slot = 0; slot < 2; ++slot) {
        const auto& s = header.bySlot[slot];
        PutField(out, slot * 18, s.nameField, kLoggerNameSize);
        PutField(out, 36 + slot * 2, ToWindows1252(s.typeCode), 2);
        PutWord(out, 42 + slot * 2, static_cast<quint16>(s.range));
    }
    return out;
}

void AppendLoggerRecord(QByteArray& out, const LoggerRecord& record) {
    for (quint8 b : record.date) {
        out.append(static_cast<char>(b));
    }
    for (quint8 b : record.time) {
        out.append(static_cast<char>(b));
    }
    for (int slot = 0; slot < 2; ++slot) {
        const auto& s = record.bySlot[slot];
        AppendWord(out, static_cast<quint16>(s.totaliser & 0xFFFF));
        AppendWord(out, static_cast<quint16>(s.totaliser >> 16));
        if (slot == 0) {
            out.append('\0');  // the byte the export does not read
        }
        AppendWord(out, static_cast<quint16>(s.measurement));
        AppendWord(out, static_cast<quint16>(s.temperature));
    }
}

QByteArray WriteLoggerFile(const LoggerHeader& header, const std::vector<LoggerRecord>& records) {
    QByteArray out = WriteLoggerHeader(header);
    out.reserve(out.size() + static_cast<qsizetype>(records.size()) * kLoggerRecordSize);
    for (const auto& r : records) {
        AppendLoggerRecord(out, r);
    }
    return out;
}

}  // namespace merival
