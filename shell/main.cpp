#include <QApplication>
#include <QIcon>

#include "shell/App.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("merival"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    merival::App::InstallFrenchTranslation(application);

    merival::App app;
    app.Start();
    return QApplication::exec();
}
