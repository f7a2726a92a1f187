#include "shell/WorkFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "base/SaveFile.h"
#include "config/ChannelStore.h"
#include "serial/SerialSettings.h"

namespace merival {

QString UserWorkFolder() {
    return QDir::home().filePath(QStringLiteral("MERIVAL"));
}

QString PackagedPicture() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../share/merival/instrum1.bmp"));
}

Status EnterWorkFolder(const QString& folder, const QString& picture, QString* welcome) {
    const auto failed = [&folder](const QString& reason) {
        return Status::Error(QStringLiteral("Impossible de travailler dans le dossier %1 : %2.")
                                 .arg(QDir::toNativeSeparators(folder), reason));
    };
    if (!QDir().mkpath(folder)) {
        return failed(QFileInfo(folder).exists() ? QStringLiteral("ce n'est pas un dossier")
                                                 : QStringLiteral("il ne peut être créé"));
    }
    const QString copy = QDir(folder).filePath(QFileInfo(picture).fileName());
    if (QFileInfo(picture).isFile() && !QFileInfo::exists(copy)) {
        QFile source(picture);
        if (!source.copy(copy)) {
            return failed(QStringLiteral("copie de %1 : %2").arg(picture, source.errorString()));
        }
        // The package's copy is read-only; the operator's is theirs to replace.
        QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::WriteOwner);
    }
    if (!QDir::setCurrent(folder)) {
        return failed(QStringLiteral("accès refusé"));
    }
    const QDir dir(folder);
    const QString config = QStringLiteral("config.txt");
    const QString line = QStringLiteral("PortCom.dat");
    if (QFileInfo::exists(dir.filePath(config)) || QFileInfo::exists(dir.filePath(line))) {
        return Status::Ok();
    }
    for (const Status& saved : {SaveWholeFile(dir.filePath(config), WriteChannelConfigText({})),
                                SaveWholeFile(dir.filePath(line), WriteSerialSettingsText({}))}) {
        if (!saved.ok()) {
            return saved;  // the program goes on and reports the missing files itself
        }
    }
    if (welcome != nullptr) {
        *welcome = QStringLiteral(
                       "Nouveau dossier de travail : %1.\n\nAucune voie n'est encore configurée : "
                       "choisissez les voies de mesure puis OK. La liaison série est réglée sur "
                       "COM1, 9600 bauds, sans parité, 1 bit de stop (Configuration > Liaison "
                       "Série).")
                       .arg(QDir::toNativeSeparators(folder));
        if (!QFileInfo::exists(dir.filePath(QFileInfo(picture).fileName()))) {
            *welcome += QStringLiteral(
                            "\n\nL'image « %1 » est introuvable : les débitmètres et "
                            "résistivimètres doubles seront affichés sans elle. Copiez-la dans le "
                            "dossier de travail pour la voir.")
                            .arg(QFileInfo(picture).fileName());
        }
    }
    return Status::Ok();
}

}  // namespace merival
