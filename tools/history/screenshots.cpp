// Pictures of the trend window over 24 hours and 30 days of a history file, into a folder.
// For the README: the month that bench_history generates, under a virtual display:
//
//   xvfb-run -a -s "-screen 0 1024x768x24" merival-history-screenshots
//       build/bench-history/historique.sqlite docs/screenshots
// (scripts/screenshots.sh does it).

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include <QCheckBox>
#include <QLabel>

#include "history/windows/TrendWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: merival-history-screenshots DATABASE OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    merival::TrendWindow window(QString::fromLocal8Bit(argv[1]), u',');
    // The whole screen: the pictures show what a 1024 x 768 screen holds.
    window.setGeometry(window.screen()->availableGeometry());
    window.show();
    // Channels 1 and 3 (pH, conductivity): a readable picture.
    window.Voie[0]->setChecked(false);
    window.Voie[2]->setChecked(false);
    int shot = 0;
    const std::pair<merival::TrendWindow::Period, const char*> shots[] = {
        {merival::TrendWindow::Day, "history-24h.png"},
        {merival::TrendWindow::Month, "history-30days.png"}};
    QObject::connect(&window, &merival::TrendWindow::drawn, &app, [&] {
        QTimer::singleShot(300, &app, [&] {
            if (shot >= 2) {
                return;
            }
            if (window.shownPeriod().toMs - window.shownPeriod().fromMs < 23 * 3600000LL ||
                (shot == 1 &&
                 window.shownPeriod().toMs - window.shownPeriod().fromMs < 29 * 24 * 3600000LL)) {
                return;
            }
            window.ShowValuesAt(window.shownPeriod().toMs - 3 * 3600000LL);
            window.grab().save(out + u'/' + QString::fromLatin1(shots[shot].second));
            std::printf("%s\n", shots[shot].second);
            if (++shot == 2) {
                app.quit();
            } else {
                window.ShowPeriod(shots[shot].first);
            }
        });
    });
    window.ShowPeriod(merival::TrendWindow::Day);
    QTimer::singleShot(30000, &app, [&] { app.exit(1); });
    return app.exec();
}
