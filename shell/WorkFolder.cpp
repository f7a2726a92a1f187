#include "shell/WorkFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace merival {

QString UserWorkFolder() {
    return QDir::home().filePath(QStringLiteral("MERIVAL"));
}

QString PackagedPicture() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("../share/merival/instrum1.bmp"));
}

Status EnterWorkFolder(const QString& folder, const QString& picture) {
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
    return Status::Ok();
}

}  // namespace merival
