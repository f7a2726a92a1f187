#include "logger/LoggerFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "base/Windows1252.h"

namespace merival {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

quint16 Word(const char* p) {
    return static_cast<quint16>(static_cast<quint8>(p[0]) | (static_cast<quint8>(p[1]) << 8));
}

quint32 DoubleWord(const char* p) {
    return static_cast<quint32>(Word(p)) | (static_cast<quint32>(Word(p + 2)) << 16);
}

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Characters that Windows or Linux refuse in a file name (Linux: '/' and NUL only).
bool IsUnsafeInFileName(char16_t c) {
    switch (c) {
        case '<':
        case '>':
        case ':':
        case '"':
        case '/':
        case '\\':
        case '|':
        case '?':
        case '*':
            return true;
        default:
            return IsControl(c);
    }
}

QString ReplaceUnsafe(QString text) {
    for (QChar& c : text) {
        if (IsUnsafeInFileName(c.unicode())) {
            c = QLatin1Char('_');
        }
    }
    return text;
}

QString TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' ')) {
        ++begin;
    }
    while (end > begin && text.at(end - 1) == QLatin1Char(' ')) {
        --end;
    }
    return text.mid(begin, end - begin);
}

int PowerOfTen(int divisor) {
    int digits = 0;
    for (int d = 1; d <= 1000000; d *= 10, ++digits) {
        if (d == divisor) {
            return digits;
        }
    }
    return -1;
}

void TrimFraction(std::string& out, std::size_t start) {
    if (out.find('.', start) == std::string::npos) {
        return;
    }
    while (out.back() == '0') {
        out.pop_back();
    }
    if (out.back() == '.') {
        out.pop_back();
    }
}

}  // namespace

LoggerHeader ParseLoggerHeader(QByteArrayView bytes) {
    std::array<char, kLoggerHeaderSize> h{};
    const auto n = std::min<qsizetype>(bytes.size(), kLoggerHeaderSize);
    std::copy_n(bytes.data(), n, h.begin());

    LoggerHeader header;
    for (int slot = 0; slot < 2; ++slot) {
        auto& s = header.bySlot[slot];
        s.nameField = QByteArray(h.data() + slot * 18, kLoggerNameSize);
        s.typeCode = FromWindows1252(QByteArray(h.data() + 36 + slot * 2, 2));
        s.range = static_cast<qint16>(Word(h.data() + 42 + slot * 2));
    }
    return header;
}

LoggerRecord ParseLoggerRecord(const char* p) {
    LoggerRecord r;
    for (int i = 0; i < 3; ++i) {
        r.date[i] = static_cast<quint8>(p[i]);
    }
    r.time[0] = static_cast<quint8>(p[3]);
    r.time[1] = static_cast<quint8>(p[4]);
    r.bySlot[0] = {DoubleWord(p + 5), static_cast<qint16>(Word(p + 10)),
                   static_cast<qint16>(Word(p + 12))};
    r.bySlot[1] = {DoubleWord(p + 14), static_cast<qint16>(Word(p + 18)),
                   static_cast<qint16>(Word(p + 20))};
    return r;
}

SlotPlan PlanSlot(const LoggerHeader& header, int slot) {
    const LoggerSlotHeader& h = header.bySlot[slot];
    SlotPlan plan;
    plan.instrumentName = InstrumentName(h.typeCode);
    plan.nameField = h.nameField;
    plan.unit = UnitForInstrument(plan.instrumentName, h.range);
    const bool dual = plan.instrumentName == QLatin1String("R_847");
    plan.temperatureDivisor = dual ? 100 : 10;
    plan.flow = plan.instrumentName == QString::fromUtf8("Debitmètre");

    plan.titleLine = QStringLiteral("Date\tHeure\t");
    if (plan.hasInstrument()) {
        const QString unitText = plan.unit ? plan.unit->unit : QString();
        QString second = QString::fromUtf8("°C");
        if (dual) {
            second = slot == 0 ? QStringLiteral("MOhm") : unitText;
        }
        plan.titleLine += unitText + QLatin1Char('\t') + second;
        if (plan.flow) {
            plan.titleLine += QStringLiteral("\tCumul m3");
        }
    }
    plan.fileName = OutputFileName(plan.instrumentName, plan.nameField);
    return plan;
}

QStringList ExportFileNames(const SlotPlan& slot1, const SlotPlan& slot2) {
    QStringList names{slot1.fileName};
    if (slot2.hasInstrument()) {
        QString second = slot2.fileName;
        // Case is ignored because Windows file systems ignore it.
        if (second.compare(slot1.fileName, Qt::CaseInsensitive) == 0) {
            second.insert(second.size() - 4, QStringLiteral("_2"));
        }
        names << second;
    }
    return names;
}

QString OutputFileName(const QString& instrumentName, const QByteArray& nameField) {
    // NUL bytes are padding, like blanks; other control characters are unsafe.
    QByteArray field = nameField.left(15);
    field.replace('\0', ' ');
    QString name = ReplaceUnsafe(TrimBlanks(FromWindows1252(field)));
    for (QChar& c : name) {
        if (c != QLatin1Char('.')) {
            break;
        }
        c = QLatin1Char('_');
    }
    return ReplaceUnsafe(instrumentName) + QLatin1Char('_') + name + QStringLiteral(".xls");
}

QByteArray PrintableNameField(const QByteArray& nameField) {
    QByteArray out = nameField.left(kLoggerNameSize);
    for (char& c : out) {
        if (static_cast<quint8>(c) < 0x20) {
            c = ' ';
        }
    }
    return out;
}

void AppendHexByte(std::string& out, quint8 value) {
    if (value >= 16) {
        out.push_back(kHexDigits[value >> 4]);
    }
    out.push_back(kHexDigits[value & 0x0F]);
}

void AppendDate(std::string& out, const std::array<quint8, 3>& date) {
    AppendHexByte(out, date[0]);
    out.push_back('/');
    AppendHexByte(out, date[1]);
    out.push_back('/');
    AppendHexByte(out, date[2]);
}

void AppendTime(std::string& out, const std::array<quint8, 2>& time) {
    AppendHexByte(out, time[0]);
    out.push_back(':');
    AppendHexByte(out, time[1]);
}

void AppendTotaliser(std::string& out, quint32 totaliser) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto b = static_cast<quint8>(totaliser >> shift);
        out.push_back(kHexDigits[b >> 4]);
        out.push_back(kHexDigits[b & 0x0F]);
    }
}

void AppendInteger(std::string& out, long long value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

void AppendQuotient(std::string& out, int raw, int divisor, char decimalSeparator) {
    if (divisor == 0) {
        return;
    }
    if (raw == 0) {
        out.push_back('0');
        return;
    }
    const int digits = PowerOfTen(divisor);
    if (digits >= 0) {
        // Exact decimal arithmetic: the quotient has far fewer than 15 significant digits.
        const long long magnitude = std::llabs(static_cast<long long>(raw));
        if (raw < 0) {
            out.push_back('-');
        }
        AppendInteger(out, magnitude / divisor);
        long long fraction = magnitude % divisor;
        if (fraction != 0) {
            int width = digits;
            while (fraction % 10 == 0) {
                fraction /= 10;
                --width;
            }
            out.push_back(decimalSeparator);
            char buf[8];
            const auto res = std::to_chars(buf, buf + sizeof buf, fraction);
            out.append(static_cast<std::size_t>(width - (res.ptr - buf)), '0');
            out.append(buf, res.ptr);
        }
        return;
    }
    // Any other divisor: 15 significant digits, fixed notation.
    const double value = static_cast<double>(raw) / divisor;
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const int precision = std::clamp(14 - magnitude, 0, 40);
    char buf[96];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    const std::size_t start = out.size();
    out.append(buf, res.ptr);
    TrimFraction(out, start);
    const auto dot = out.find('.', start);
    if (dot != std::string::npos) {
        out[dot] = decimalSeparator;
    }
}

}  // namespace merival
