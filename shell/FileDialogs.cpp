#include "shell/FileDialogs.h"

#include <QAbstractFileIconProvider>
#include <QFileDialog>
#include <QFileInfo>

namespace merival {
namespace {

class QuietIcons : public QAbstractFileIconProvider {
public:
    QIcon icon(IconType type) const override { return QAbstractFileIconProvider::icon(type); }
    // The kind of a file is guessed from its contents by default: here only from stat().
    QIcon icon(const QFileInfo& info) const override {
        return QAbstractFileIconProvider::icon(info.isDir() ? Folder : File);
    }
    QString type(const QFileInfo& info) const override {
        return info.isDir() ? QStringLiteral("Dossier") : QStringLiteral("Fichier");
    }
};

QString Ask(QWidget* parent, const QString& title, const QString& start, const QString& filter,
            QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, title, start, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setIconProvider(QuietFileIcons());
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                       : QFileDialog::ExistingFile);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

}  // namespace

QAbstractFileIconProvider* QuietFileIcons() {
    static QuietIcons icons;
    return &icons;
}

QString AskSaveFile(QWidget* parent, const QString& title, const QString& suggested,
                    const QString& filter) {
    return Ask(parent, title, suggested, filter, QFileDialog::AcceptSave);
}

QString AskOpenFile(QWidget* parent, const QString& title, const QString& start) {
    return Ask(parent, title, start, QString(), QFileDialog::AcceptOpen);
}

}  // namespace merival
