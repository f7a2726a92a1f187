#include "serial/SerialSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <array>
#include <cmath>
#include <optional>

#include "base/SaveFile.h"
#include "config/AppInfo.h"

namespace merival {
namespace {

const QString kPortComFileName = QStringLiteral("PortCom.dat");
constexpr int kPrintZone = 14;

struct Field {
    qint16 SerialSettings::*member;
    int low;
    int high;
    const char* name;
    const char* fallback;
};

// The order of the file. Fallbacks are the defaults of the record: COM1, 9600, n, 1.
const std::array<Field, 4> kFields = {{
    {&SerialSettings::Port, 1, 4, "numéro de port", "COM1"},
    {&SerialSettings::SpeedIndex, 0, 2, "indice de vitesse", "9600 bauds"},
    {&SerialSettings::ParityIndex, 0, 2, "indice de parité", "sans parité"},
    {&SerialSettings::StopBitsIndex, 0, 1, "indice de bits de stop", "1 bit de stop"},
}};

// A number as the classic print statement writes it: "-" or a blank for the sign, the
// digits, one trailing blank.
QByteArray PrintedNumber(int value) {
    QByteArray text = QByteArray::number(value);
    if (value >= 0) {
        text.prepend(' ');
    }
    return text + ' ';
}

QString Shown(const QString& token) {
    constexpr int kMax = 20;
    return token.size() > kMax ? token.left(kMax) + QStringLiteral("…") : token;
}

QString FallbackList(int fromField) {
    QStringList list;
    for (int i = fromField; i < static_cast<int>(kFields.size()); ++i) {
        list << QString::fromUtf8(kFields[i].fallback);
    }
    return list.join(QStringLiteral(", "));
}

}  // namespace

QString SpeedText(int speedIndex) {
    switch (speedIndex) {
        case 0:
            return QStringLiteral("9600");
        case 1:
            return QStringLiteral("4800");
        case 2:
            return QStringLiteral("2400");
        default:
            return {};
    }
}

QString ParityLetter(int parityIndex) {
    switch (parityIndex) {
        case 0:
            return QStringLiteral("n");
        case 1:
            return QStringLiteral("e");
        case 2:
            return QStringLiteral("o");
        default:
            return {};
    }
}

int BaudRate(const SerialSettings& settings) {
    return SpeedText(settings.SpeedIndex).toInt();  // 0 outside the table
}

QString SettingsString(const SerialSettings& settings) {
    const QString stopBits = settings.StopBitsIndex == 0   ? QStringLiteral("1")
                             : settings.StopBitsIndex == 1 ? QStringLiteral("2")
                                                           : QString();
    return QStringList{SpeedText(settings.SpeedIndex), ParityLetter(settings.ParityIndex),
                       QStringLiteral("8"), stopBits}
        .join(u',');
}

QByteArray WriteSerialSettingsText(const SerialSettings& settings) {
    QByteArray line1 = PrintedNumber(settings.Port);
    // The separating comma moves to the next 14-column print zone.
    line1.append((kPrintZone - line1.size() % kPrintZone) % kPrintZone, ' ');
    line1 += PrintedNumber(settings.SpeedIndex);
    return line1 + "\r\n" + PrintedNumber(settings.ParityIndex) + "\r\n" +
           PrintedNumber(settings.StopBitsIndex) + "\r\n";
}

SerialSettingsRead ReadSerialSettingsText(const QByteArray& bytes) {
    SerialSettingsRead out;
    QStringList problems;
    const auto problem = [&](const QString& text) {
        problems << QStringLiteral("Fichier %1 : %2").arg(kPortComFileName, text);
    };

    // Fields are delimited by any run of blanks, commas and line ends.
    const QStringList tokens = QString::fromLatin1(bytes).split(
        QRegularExpression(QStringLiteral("[ \\t,\\r\\n]+")), Qt::SkipEmptyParts);
    const int count = std::min<int>(static_cast<int>(tokens.size()), kFields.size());
    for (int i = 0; i < count; ++i) {
        const Field& field = kFields[i];
        const std::optional<qint16> v = NumericToInt16(tokens.at(i));
        if (!v) {
            problem(QStringLiteral("%1 « %2 » illisible ; %3 retenu.")
                        .arg(QString::fromUtf8(field.name), Shown(tokens.at(i)),
                             QString::fromUtf8(field.fallback)));
        } else if (*v < field.low || *v > field.high) {
            problem(QStringLiteral("%1 %2 hors table ; %3 retenu.")
                        .arg(QString::fromUtf8(field.name))
                        .arg(*v)
                        .arg(QString::fromUtf8(field.fallback)));
        } else {
            out.settings.*field.member = *v;
        }
    }
    if (count < static_cast<int>(kFields.size())) {
        problems << QStringLiteral(
                        "Fichier %1 incomplet (%2 valeurs sur 4) ; valeurs retenues : %3.")
                        .arg(kPortComFileName)
                        .arg(count)
                        .arg(FallbackList(count));
    }
    out.problem = problems.join(u'\n');
    return out;
}

Status LoadSerialSettings(SerialSettings& settings, const QString& path) {
    const QString file = path.isEmpty() ? QDir::current().filePath(kPortComFileName) : path;
    const QFileInfo info(file);
    QString reason;
    QByteArray bytes;
    QFile f(file);
    const auto why = [&f] {
        return f.errorString().isEmpty() ? QStringLiteral("erreur inconnue") : f.errorString();
    };
    if (!info.exists()) {
        reason = QStringLiteral("fichier introuvable");
    } else if (info.isDir()) {
        reason = QStringLiteral("c'est un répertoire");
    } else if (!f.open(QIODevice::ReadOnly)) {
        reason = why();
    } else {
        bytes = f.readAll();
        if (f.error() != QFileDevice::NoError) {
            reason = why();
        }
    }
    if (!reason.isEmpty()) {
        settings = SerialSettings{};
        return Status::Error(QStringLiteral("Impossible de lire le fichier %1 (%2) ; liaison "
                                            "réglée sur %3.")
                                 .arg(info.fileName(), reason, FallbackList(0)));
    }
    const SerialSettingsRead read = ReadSerialSettingsText(bytes);
    settings = read.settings;
    return read.problem.isEmpty() ? Status::Ok() : Status::Error(read.problem);
}

Status SaveSerialSettings(const SerialSettings& settings, const QString& path) {
    const QString file = path.isEmpty() ? QDir::current().filePath(kPortComFileName) : path;
    const QByteArray bytes = WriteSerialSettingsText(settings);
    return SaveWholeFile(file, bytes);
}

}  // namespace merival
