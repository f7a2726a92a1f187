#include "serial/LinkSettings.h"

#include <QStringList>

#include "base/IniFile.h"

namespace merival {
namespace {

const QString kGroup = QStringLiteral("Liaison");

// The key's integer when present, within [low, high]; otherwise the fallback, and the key is
// named in `bad` when it was present but unusable.
int ReadInt(const QSettings& ini, const QString& key, int low, int high, int fallback,
            QStringList& bad) {
    const QString path = kGroup + u'/' + key;
    if (!ini.contains(path)) {
        return fallback;
    }
    bool ok = false;
    const int value = ini.value(path).toString().trimmed().toInt(&ok);
    if (!ok || value < low || value > high) {
        bad << key;
        return fallback;
    }
    return value;
}

}  // namespace

int EffectivePort(const LinkSettings& s) {
    if (s.port > 0) {
        return s.port;
    }
    return s.mode == LinkMode::ModbusTcp ? kModbusTcpDefaultPort : kRtuTcpDefaultPort;
}

QString ModeKey(LinkMode mode) {
    switch (mode) {
        case LinkMode::Serial:
            return QStringLiteral("serie");
        case LinkMode::RtuTcp:
            return QStringLiteral("rtu-tcp");
        case LinkMode::ModbusTcp:
            return QStringLiteral("modbus-tcp");
    }
    return {};
}

LinkSettings LoadLinkSettings(const QSettings& ini, Status* warning) {
    LinkSettings s;
    QStringList bad;
    const QString mode = ini.value(kGroup + QStringLiteral("/Mode")).toString().trimmed().toLower();
    if (mode == ModeKey(LinkMode::RtuTcp)) {
        s.mode = LinkMode::RtuTcp;
    } else if (mode == ModeKey(LinkMode::ModbusTcp)) {
        s.mode = LinkMode::ModbusTcp;
    } else if (!mode.isEmpty() && mode != ModeKey(LinkMode::Serial)) {
        bad << QStringLiteral("Mode");
    }
    s.host = ini.value(kGroup + QStringLiteral("/Hote")).toString().trimmed();
    s.port = ReadInt(ini, QStringLiteral("Port"), 1, 65535, 0, bad);
    LinkTiming& t = s.timing;
    t.pauseBetweenMs = ReadInt(ini, QStringLiteral("PauseEntreRequetes"), 0, 10000, 0, bad);
    t.pauseAfterOpenMs = ReadInt(ini, QStringLiteral("PauseApresOuverture"), 0, 10000, 0, bad);
    t.retries = ReadInt(ini, QStringLiteral("Reessais"), 0, 3, 0, bad);
    t.replyMs = ReadInt(ini, QStringLiteral("TempsReponse"), 50, 60000, 2000, bad);
    if (s.mode != LinkMode::Serial && s.host.isEmpty()) {
        bad << QStringLiteral("Hote");
    }
    if (warning != nullptr) {
        *warning = bad.isEmpty()
                       ? Status::Ok()
                       : Status::Error(QStringLiteral("[Liaison] : valeur refusée pour %1 ; la "
                                                      "valeur par défaut s'applique.")
                                           .arg(bad.join(QStringLiteral(", "))));
    }
    return s;
}

LinkSettings LoadLinkSettings() {
    return LoadLinkSettings(*OpenIni());
}

void SaveLinkSettings(QSettings& ini, const LinkSettings& s) {
    if (!IniWritable(ini)) {
        return;
    }
    ini.beginGroup(kGroup);
    ini.setValue(QStringLiteral("Mode"), ModeKey(s.mode));
    if (s.mode == LinkMode::Serial) {
        ini.remove(QStringLiteral("Hote"));
        ini.remove(QStringLiteral("Port"));
    } else {
        ini.setValue(QStringLiteral("Hote"), s.host);
        ini.setValue(QStringLiteral("Port"), EffectivePort(s));
    }
    ini.endGroup();
}

}  // namespace merival
