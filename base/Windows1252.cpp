#include "base/Windows1252.h"

#include <array>

namespace merival {
namespace {
// 0x80..0x9F differ from Latin-1; 0 marks the five unassigned codes (kept as C1 controls).
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char EncodeOne(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(c);
    }
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == c || (kHigh[i] == 0 && c == 0x80 + i)) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}
}  // namespace

QByteArray ToWindows1252(const QString& text) {
    QByteArray out;
    out.reserve(text.size());
    for (QChar c : text) {
        out.append(EncodeOne(c.unicode()));
    }
    return out;
}

bool InWindows1252(QChar c) {
    return c == QLatin1Char('?') || EncodeOne(c.unicode()) != '?';
}

QString FromWindows1252(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        if (u >= 0x80 && u < 0xA0 && kHigh[u - 0x80] != 0) {
            out.append(QChar(kHigh[u - 0x80]));
        } else {
            out.append(QChar(u));
        }
    }
    return out;
}

}  // namespace merival
