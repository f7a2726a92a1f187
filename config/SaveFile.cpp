#include "config/SaveFile.h"

#include <QSaveFile>

namespace merival {

// Qt 6.4's QSaveFile commits even when flushing its buffer fails (disk full, size limit) and
// so would replace the file with a truncated one: the flush is checked first.
QString SaveWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush() && f.commit()) {
        return {};
    }
    QString reason = f.errorString();
    f.cancelWriting();
    return reason.isNull() ? QStringLiteral("erreur inconnue") : reason;
}

}  // namespace merival
