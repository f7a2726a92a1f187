#include <QApplication>
#include <QDir>
#include <QIcon>

#include "config/AppInfo.h"
#include "shell/App.h"
#include "shell/QtOperator.h"
#include "shell/WorkFolder.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("merival"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    merival::App::InstallFrenchTranslation(application);

    // The desktop menu entry asks for the folder of the program's own; from a terminal the
    // program works where it is started.
    QString welcome;
    if (QApplication::arguments().contains(QStringLiteral("--user-folder"))) {
        const merival::Status entered = merival::EnterWorkFolder(
            merival::UserWorkFolder(), merival::PackagedPicture(), &welcome);
        if (!entered.ok()) {
            merival::QtOperator op;
            op.beep();
            op.message(entered.message + QStringLiteral("\nDossier de travail : ") +
                           QDir::toNativeSeparators(QDir::currentPath()),
                       merival::AppTitle(), merival::OperatorIcon::Exclamation);
        }
    }

    if (!welcome.isEmpty()) {
        merival::QtOperator op;
        op.message(welcome, merival::AppTitle(), merival::OperatorIcon::Information);
    }
    merival::App app;
    app.Start();
    return QApplication::exec();
}
