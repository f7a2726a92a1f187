// merival-diagnostics-screenshot: runs the desktop program in the current directory, starts
// measuring, opens "Diagnostic > Trafic de la ligne" and saves a picture of it once some
// exchanges went by. Used by scripts/diagnostics-screenshots.sh with a simulator that makes faults.
//
//   merival-diagnostics-screenshot OUTPUT_DIR [SECONDS]

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "config/windows/ConfigW.h"
#include "diagnostics/windows/TraficLigne.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: merival-diagnostics-screenshot OUTPUT_DIR [SECONDS]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 12;
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    merival::App::InstallFrenchTranslation(application);

    merival::App app;
    int code = 1;
    app.Start();
    QTimer::singleShot(1000, &application, [&] {
        app.configW()->Commande1->click();
        app.mainWindow()->Mesure->trigger();
        app.mainWindow()->Diagnostic->actions().value(0)->trigger();
        merival::TraficLigne* window = app.traficWindow();
        if (window == nullptr) {
            std::fprintf(stderr, "FAILED: no traffic window\n");
            QCoreApplication::exit(1);
            return;
        }
        window->setGeometry(window->screen()->availableGeometry().adjusted(40, 40, -40, -40));
        window->raise();
        QTimer::singleShot(seconds * 1000, &application, [&, window] {
            const QString path = out.filePath(QStringLiteral("diagnostics.png"));
            const bool saved = window->grab().save(path, "PNG");
            std::fprintf(stderr, "%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
            code = saved ? 0 : 1;
            app.mainWindow()->Quitter->trigger();
        });
    });
    QApplication::exec();
    return code;
}
