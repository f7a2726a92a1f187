#include "publish/PublishSettings.h"

#include "base/IniFile.h"

namespace merival {
namespace {

const QString kSection = QStringLiteral("Publication");

QString Text(QSettings& ini, const char* key) {
    return ini.value(QLatin1String(key)).toString().trimmed();
}

bool Flag(QSettings& ini, const char* key) {
    return ini.value(QLatin1String(key)).toString().trimmed().toLower() == u"true";
}

}  // namespace

PublishSettings LoadPublishSettings(QSettings& ini) {
    PublishSettings s;
    ini.beginGroup(kSection);
    s.active = Flag(ini, "Actif");
    s.host = Text(ini, "Hote");
    s.prefix = Text(ini, "Prefixe");
    s.user = Text(ini, "Utilisateur");
    s.passwordFile = Text(ini, "FichierMotDePasse");
    s.caFile = Text(ini, "FichierCA");
    s.clientCert = Text(ini, "CertificatClient");
    s.clientKey = Text(ini, "CleClient");
    s.homeAssistant = Flag(ini, "DecouverteHomeAssistant");
    bool ok = false;
    const int port = Text(ini, "Port").toInt(&ok);
    s.port = ok && port >= 1 && port <= 65535 ? port
             : s.caFile.isEmpty()             ? kMqttPort
                                              : kMqttTlsPort;
    ini.endGroup();
    return s;
}

void SavePublishSettings(QSettings& ini, const PublishSettings& s) {
    if (!IniWritable(ini)) {
        return;
    }
    const auto flag = [](bool on) { return on ? QStringLiteral("true") : QStringLiteral("false"); };
    ini.beginGroup(kSection);
    ini.setValue(QStringLiteral("Actif"), flag(s.active));
    ini.setValue(QStringLiteral("Hote"), s.host);
    ini.setValue(QStringLiteral("Port"), s.port);
    ini.setValue(QStringLiteral("Prefixe"), s.prefix);
    ini.setValue(QStringLiteral("Utilisateur"), s.user);
    ini.setValue(QStringLiteral("FichierMotDePasse"), s.passwordFile);
    ini.setValue(QStringLiteral("FichierCA"), s.caFile);
    ini.setValue(QStringLiteral("CertificatClient"), s.clientCert);
    ini.setValue(QStringLiteral("CleClient"), s.clientKey);
    ini.setValue(QStringLiteral("DecouverteHomeAssistant"), flag(s.homeAssistant));
    ini.endGroup();
}

PublishSettings WithFilesIn(PublishSettings s, const QDir& directory) {
    for (QString* file : {&s.passwordFile, &s.caFile, &s.clientCert, &s.clientKey}) {
        if (!file->isEmpty()) {
            *file = directory.absoluteFilePath(*file);
        }
    }
    return s;
}

}  // namespace merival
