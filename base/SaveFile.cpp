#include "base/SaveFile.h"

#include <QFileInfo>
#include <QSaveFile>

namespace merival {

// Qt 6.4's QSaveFile commits even when flushing its buffer fails (disk full, size limit) and
// so would replace the file with a truncated one: the flush is checked first.
Status SaveWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() && f.commit()) {
        return Status::Ok();
    }
    QString reason = f.errorString();
    f.cancelWriting();
    if (reason.isEmpty()) {
        reason = QStringLiteral("erreur inconnue");
    }
    return Status::Error(
        QStringLiteral(
            "Impossible d'enregistrer le fichier %1 : %2. L'ancien fichier est conservé.")
            .arg(QFileInfo(path).fileName(), reason));
}

}  // namespace merival
