// A picture of "Alarmes > Rapport" over a journal, for the README (scripts/report-screenshot.sh):
//
//   merival-report-screenshot DATABASE OUT.png "AAAA-MM-JJ HH:MM" "AAAA-MM-JJ HH:MM"

#include <QApplication>
#include <QDateTimeEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

#include "notify/windows/AlarmReportWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: merival-report-screenshot DATABASE OUT.png FROM TO\n");
        return 2;
    }
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    merival::AlarmReportWindow window(QString::fromLocal8Bit(argv[1]));
    window.resize(760, 700);
    window.show();
    window.Du->setDateTime(QDateTime::fromString(QString::fromLocal8Bit(argv[3]), format));
    window.Au->setDateTime(QDateTime::fromString(QString::fromLocal8Bit(argv[4]), format));
    int status = 1;
    QObject::connect(&window, &merival::AlarmReportWindow::shown, &app, [&] {
        QTimer::singleShot(300, &app, [&] {
            status = window.grab().save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
            app.quit();
        });
    });
    QTimer::singleShot(200, &window, [&] { window.Calculer->click(); });
    app.exec();
    return status;
}
