#include "web/WebSettings.h"

#include "base/IniFile.h"

namespace merival {

bool WebSettings::loginRequired() const {
    const QString a = address.trimmed();
    return a != u"127.0.0.1" && a != u"::1" && a.compare(u"localhost", Qt::CaseInsensitive) != 0;
}

WebSettings LoadWebSettings(const QSettings& ini) {
    WebSettings s;
    const QString g = QStringLiteral("Web/");
    s.active = ini.value(g + QStringLiteral("Actif"), false).toBool();
    if (const QString address = ini.value(g + QStringLiteral("Adresse")).toString().trimmed();
        !address.isEmpty()) {
        s.address = address;
    }
    bool ok = false;
    const int port = ini.value(g + QStringLiteral("Port")).toInt(&ok);
    if (ok && port > 0 && port < 65536) {
        s.port = port;
    }
    s.certificate = ini.value(g + QStringLiteral("Certificat")).toString().trimmed();
    s.key = ini.value(g + QStringLiteral("Cle")).toString().trimmed();
    if (const QString users = ini.value(g + QStringLiteral("FichierUtilisateurs")).toString();
        !users.trimmed().isEmpty()) {
        s.usersFile = users.trimmed();
    }
    return s;
}

void SaveWebSettings(QSettings& ini, const WebSettings& s) {
    if (!IniWritable(ini)) {
        return;
    }
    ini.beginGroup(QStringLiteral("Web"));
    ini.setValue(QStringLiteral("Actif"), s.active);
    ini.setValue(QStringLiteral("Adresse"), s.address);
    ini.setValue(QStringLiteral("Port"), s.port);
    ini.setValue(QStringLiteral("Certificat"), s.certificate);
    ini.setValue(QStringLiteral("Cle"), s.key);
    ini.setValue(QStringLiteral("FichierUtilisateurs"), s.usersFile);
    ini.endGroup();
}

WebSettings WithFilesIn(WebSettings settings, const QDir& directory) {
    for (QString* file : {&settings.certificate, &settings.key, &settings.usersFile}) {
        if (!file->isEmpty()) {
            *file = QDir::cleanPath(directory.absoluteFilePath(*file));
        }
    }
    return settings;
}

}  // namespace merival
