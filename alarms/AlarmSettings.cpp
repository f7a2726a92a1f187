#include "alarms/AlarmSettings.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>

#include "base/IniFile.h"

namespace merival {
namespace {

const QString kGroup = QStringLiteral("Alarmes");

QString ChannelKey(int n, const char* name) {
    return QStringLiteral("Voie%1/%2").arg(n).arg(QLatin1String(name));
}

// A hand-written value with a comma comes back from QSettings as a list.
QString IniText(const QSettings& ini, const QString& key) {
    const QVariant value = ini.value(key);
    if (value.metaType().id() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

// Reads a number written with "."; a bad one is reported and left out.
std::optional<double> IniNumber(const QSettings& ini, const QString& key, QStringList& bad) {
    if (!ini.contains(key)) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = IniText(ini, key).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        bad << key;
        return std::nullopt;
    }
    return value;
}

QString IniNumberText(double value) {
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

}  // namespace

AlarmSettings LoadAlarmSettings(QSettings& ini, Status* warning) {
    AlarmSettings s;
    QStringList bad;
    ini.beginGroup(kGroup);
    if (const auto passes = IniNumber(ini, QStringLiteral("PerteCommunication"), bad)) {
        if (*passes >= 0 && *passes <= 10000 && *passes == std::floor(*passes)) {
            s.lossPasses = static_cast<int>(*passes);
        } else {
            bad << QStringLiteral("PerteCommunication");
        }
    }
    if (const auto interval = IniNumber(ini, QStringLiteral("IntervalleStationMuette"), bad)) {
        if (*interval > 0 && *interval <= 86400) {
            s.silentIntervalSeconds = *interval;
        } else {
            bad << QStringLiteral("IntervalleStationMuette");
        }
    }
    s.command = IniText(ini, QStringLiteral("Commande")).trimmed();
    s.arguments = IniText(ini, QStringLiteral("Arguments"));
    for (int n = 0; n < kChannelCount; ++n) {
        ChannelAlarmSettings& c = s.channels[n];
        c.low = IniNumber(ini, ChannelKey(n, "SeuilBas"), bad);
        c.high = IniNumber(ini, ChannelKey(n, "SeuilHaut"), bad);
        const auto deadband = IniNumber(ini, ChannelKey(n, "BandeMorte"), bad);
        c.deadband = std::max(0.0, deadband.value_or(0));
        const auto delay = IniNumber(ini, ChannelKey(n, "Retard"), bad);
        c.delaySeconds = std::max(0.0, delay.value_or(0));
        if (c.low || c.high) {  // a unit says what the limits hold in; saved only with them
            c.unit = IniText(ini, ChannelKey(n, "Unite")).trimmed();
        }
    }
    ini.endGroup();
    if (warning != nullptr) {
        *warning = bad.isEmpty()
                       ? Status::Ok()
                       : Status::Error(QStringLiteral("Réglages d'alarme illisibles dans « %1 », "
                                                      "ignorés : %2.")
                                           .arg(ini.fileName(), bad.join(QStringLiteral(", "))));
    }
    return s;
}

void SaveAlarmSettings(QSettings& ini, const AlarmSettings& s) {
    if (!IniWritable(ini)) {
        return;
    }
    ini.beginGroup(kGroup);
    ini.setValue(QStringLiteral("PerteCommunication"), s.lossPasses);
    ini.setValue(QStringLiteral("IntervalleStationMuette"), IniNumberText(s.silentIntervalSeconds));
    ini.setValue(QStringLiteral("Commande"), s.command);
    ini.setValue(QStringLiteral("Arguments"), s.arguments);
    for (int n = 0; n < kChannelCount; ++n) {
        const ChannelAlarmSettings& c = s.channels[n];
        const auto put = [&](const char* name, std::optional<double> value) {
            if (value) {
                ini.setValue(ChannelKey(n, name), IniNumberText(*value));
            } else {
                ini.remove(ChannelKey(n, name));
            }
        };
        put("SeuilBas", c.low);
        put("SeuilHaut", c.high);
        put("BandeMorte", c.deadband);
        put("Retard", c.delaySeconds);
        if ((c.low || c.high) && !c.unit.isEmpty()) {
            ini.setValue(ChannelKey(n, "Unite"), c.unit);
        } else {
            ini.remove(ChannelKey(n, "Unite"));
        }
    }
    ini.endGroup();
}

std::optional<double> ParseTypedNumber(const QString& text, QChar decimalSeparator) {
    const QString sep = QRegularExpression::escape(QString(decimalSeparator));
    const QRegularExpression number(QStringLiteral(R"(^[+-]?(\d+(%1\d*)?|%1\d+)$)").arg(sep));
    const QString trimmed = text.trimmed();
    if (!number.match(trimmed).hasMatch()) {
        return std::nullopt;
    }
    QString plain = trimmed;
    plain.replace(decimalSeparator, u'.');
    bool ok = false;
    const double value = plain.toDouble(&ok);
    if (!ok || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

QString TypedNumber(double value, QChar decimalSeparator) {
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (text.contains(u'e')) {
        text = QString::number(value, 'f', 6);
        while (text.contains(u'.') && (text.endsWith(u'0') || text.endsWith(u'.'))) {
            text.chop(1);
        }
    }
    text.replace(u'.', decimalSeparator);
    return text;
}

}  // namespace merival
