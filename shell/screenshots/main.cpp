// merival-screenshots: runs the desktop program in the current directory and drives it as an
// operator would (OK in the start-up dialog, Mesure, the serial link and extraction dialogs,
// the alarm settings and journal),
// saving a picture of each window
// into the folder given as argument. Used by scripts/screenshots.sh under a virtual display.
//
//   merival-screenshots OUTPUT_DIR

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <functional>

#include "alarms/windows/AlarmJournalWindow.h"
#include "alarms/windows/AlarmSettingsDialog.h"
#include "config/windows/ConfigW.h"
#include "logger/windows/Extraction.h"
#include "measure/windows/F_Mesure.h"
#include "serial/windows/ConfLS.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace {

bool Save(QWidget* window, const QDir& out, const QString& name) {
    const QString path = out.filePath(name);
    const bool saved = window->grab().save(path, "PNG");
    std::fprintf(stderr, "%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
    return saved;
}

template <typename Window>
Window* FindWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Window*>(widget);
            window != nullptr && window->isVisible()) {
            return window;
        }
    }
    return nullptr;
}

bool SaveFound(QWidget* window, const QDir& out, const QString& name) {
    if (window == nullptr) {
        std::fprintf(stderr, "FAILED: no window for %s\n", qPrintable(name));
        return false;
    }
    return Save(window, out, name);
}

// Without a window manager nothing maximises; give the window the screen as one would.
void Fill(QWidget* window) {
    if (QScreen* screen = window->screen()) {
        window->setGeometry(screen->availableGeometry());
    }
}

// Alarmes > Seuils… with a high limit just under the pH shown, so that the next passes raise
// the alarm; then the measurement window with that row in alarm, and the journal.
void AlarmShots(merival::App& app, const QDir& out, int& failures, std::function<void()> done) {
    app.mainWindow()->Alarmes->actions().at(0)->trigger();
    auto* dialog = FindWindow<merival::AlarmSettingsDialog>();
    merival::F_Mesure* mesure = app.measureWindow();
    if (dialog == nullptr || mesure == nullptr) {
        std::fprintf(stderr, "FAILED: no alarm settings dialog or measurement window\n");
        QCoreApplication::exit(1);
        return;
    }
    static const QRegularExpression number(QStringLiteral(R"(-?\d+[.,]?\d*)"));
    const QString ph = number.match(mesure->Etiquette3[1]->text()).captured();
    const QChar point = app.decimalSeparator();
    const double value = QString(ph).replace(u',', u'.').toDouble();
    dialog->CocheHaut[1]->setChecked(true);
    dialog->SeuilHaut[1]->setText(QString::number(value - 0.05, 'f', 2).replace(u'.', point));
    dialog->BandeMorte[1]->setText(QStringLiteral("0") + point + QStringLiteral("1"));
    dialog->CocheBas[1]->setChecked(true);
    dialog->SeuilBas[1]->setText(QString::number(value - 1.5, 'f', 1).replace(u'.', point));
    dialog->Retard[3]->setText(QStringLiteral("5"));
    dialog->CocheHaut[3]->setChecked(true);
    dialog->SeuilHaut[3]->setText(QStringLiteral("2500"));
    dialog->adjustSize();
    QTimer::singleShot(1000, qApp, [&app, out, &failures, dialog, done] {
        failures += !Save(dialog, out, QStringLiteral("alarm-settings.png"));
        dialog->Valider->click();
        // Acknowledged, so that the picture does not catch the row between two blinks.
        QTimer::singleShot(3500, qApp, [&app] {
            if (merival::F_Mesure* w = app.measureWindow()) {
                w->Acquitter->click();
            }
        });
        QTimer::singleShot(4500, qApp, [&app, out, &failures, done] {
            if (merival::F_Mesure* w = app.measureWindow()) {
                failures += !Save(w, out, QStringLiteral("alarm-row.png"));
            }
            app.mainWindow()->Alarmes->actions().at(1)->trigger();
            QTimer::singleShot(1500, qApp, [out, &failures, done] {
                failures += !SaveFound(FindWindow<merival::AlarmJournalWindow>(), out,
                                       QStringLiteral("alarm-journal.png"));
                done();
            });
        });
    });
}

// The directory tree starts two levels above the working folder, so that the picture names
// nothing of the machine above it.
void RootTreeNearWorkFolder(QWidget* extraction) {
    auto* tree = extraction != nullptr ? extraction->findChild<QTreeView*>("Dir1") : nullptr;
    auto* model = tree != nullptr ? qobject_cast<QFileSystemModel*>(tree->model()) : nullptr;
    if (model == nullptr) {
        return;
    }
    QDir top = QDir::current();
    top.cdUp();
    top.cdUp();
    tree->setRootIndex(model->index(top.absolutePath()));
    tree->scrollTo(tree->currentIndex());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: merival-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/merival/merival.png")));
    merival::App::InstallFrenchTranslation(application);

    merival::App app;
    int failures = 0;
    // Nothing should block; a message box that nobody answers ends the run here.
    QTimer::singleShot(90000, &application, [] {
        std::fprintf(stderr, "FAILED: the program did not get through the screenshots\n");
        QCoreApplication::exit(1);
    });

    app.Start();
    Fill(app.configW());
    QTimer::singleShot(1500, &application, [&] {
        failures += !Save(app.configW(), out, QStringLiteral("configuration.png"));
        app.configW()->Commande1->click();
        Fill(app.mainWindow());
        QTimer::singleShot(1500, &application, [&] {
            failures += !Save(app.mainWindow(), out, QStringLiteral("main-window.png"));
            app.mainWindow()->Mesure->trigger();
            merival::F_Mesure* window = app.measureWindow();
            if (window == nullptr) {
                std::fprintf(stderr, "FAILED: no measurement window\n");
                QCoreApplication::exit(1);
                return;
            }
            Fill(window);
            // Three passes, so every row shows a live value.
            QTimer::singleShot(3500, &application, [&] {
                merival::F_Mesure* w = app.measureWindow();
                if (w == nullptr) {
                    QCoreApplication::exit(1);
                    return;
                }
                for (QLabel* value : w->Etiquette3) {
                    if (value->isVisible()) {
                        std::fprintf(stderr, "value: %s\n",
                                     qPrintable(value->text().replace('\n', " | ")));
                    }
                }
                failures += !Save(w, out, QStringLiteral("measurement.png"));
                // The serial link dialog opened during the measurement, then the extraction
                // dialog in export mode.
                app.mainWindow()->LS->trigger();
                QTimer::singleShot(1500, &application, [&] {
                    failures += !SaveFound(FindWindow<merival::ConfLS>(), out,
                                           QStringLiteral("serial-link.png"));
                    app.mainWindow()->Extract->trigger();
                    RootTreeNearWorkFolder(FindWindow<merival::Extraction>());
                    QTimer::singleShot(1500, &application, [&] {
                        failures += !SaveFound(FindWindow<merival::Extraction>(), out,
                                               QStringLiteral("extraction.png"));
                        AlarmShots(app, out, failures,
                                   [&] { app.mainWindow()->Quitter->trigger(); });
                    });
                });
            });
        });
    });
    const int code = QApplication::exec();
    return code != 0 ? code : (failures > 0 ? 1 : 0);
}
