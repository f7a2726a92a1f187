#include "base/IniFile.h"

#include <QDir>

namespace merival {

QString IniPath() {
    return QDir::current().filePath(QStringLiteral("merival.ini"));
}

std::unique_ptr<QSettings> OpenIni(const QString& path) {
    return std::make_unique<QSettings>(path.isEmpty() ? IniPath() : path, QSettings::IniFormat);
}

Status IniStatus(const QSettings& settings) {
    switch (settings.status()) {
        case QSettings::NoError:
            return Status::Ok();
        case QSettings::FormatError:
            return Status::Error(
                QStringLiteral("Le fichier « %1 » est endommagé : les réglages par défaut "
                               "s'appliquent.")
                    .arg(QDir::toNativeSeparators(settings.fileName())));
        case QSettings::AccessError:
            break;
    }
    return Status::Error(QStringLiteral("Le fichier « %1 » n'a pas pu être lu ou écrit.")
                             .arg(QDir::toNativeSeparators(settings.fileName())));
}

}  // namespace merival
