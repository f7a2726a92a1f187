// Time from the operator's quit (Quitter, the main window's close box, "Oui" to the
// measurement window's close question) to the end of the process, while channel 0 waits for a
// silent station (merival-sim on a pseudo-terminal, real 2000 ms time-outs), and whether a new
// instance can open the port right after. Prints figures; judges nothing.
//
//   bench_quit [ROUNDS]      default 3 rounds of each way to quit
//
// Each round runs the program in a child process of this one, on the offscreen platform
// unless QT_QPA_PLATFORM says otherwise.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>

#include "config/ChannelStore.h"
#include "config/windows/ConfigW.h"
#include "measure/windows/F_Mesure.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace {

// Answers "Oui" to the real question box some time after it appears.
void AnswerYesSoon(int ms) {
    QTimer::singleShot(ms, qApp, [ms] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            AnswerYesSoon(ms);
            return;
        }
        std::fputs("quit\n", stdout);
        std::fflush(stdout);
        box->button(QMessageBox::Yes)->click();
    });
}

const char* const kWays[] = {"quitter", "mesure-close-box", "main-close-box", "question-on-tick"};

// The program in this process: Mesure, then the quit 1.5 s later, in the middle of the
// exchange with the silent station. "quit" on standard output marks the moment.
// question-on-tick: the close question opens between two passes (3.5 s) and stays on screen
// across the next tick (answered 1 s later).
int Child(int argc, char** argv, const QString& way) {
    QApplication application(argc, argv);
    merival::App app;
    app.Start();
    app.configW()->Commande1->click();
    app.mainWindow()->Mesure->trigger();
    const bool onTick = way == QLatin1String("question-on-tick");
    QTimer::singleShot(onTick ? 3500 : 1500, &app, [&app, way, onTick] {
        if (way == QLatin1String("mesure-close-box") || onTick) {
            // The question comes first; "quit" is the click on its "Oui".
            AnswerYesSoon(onTick ? 1000 : 300);
            app.measureWindow()->close();
            return;
        }
        std::fputs("quit\n", stdout);
        std::fflush(stdout);
        if (way == QLatin1String("quitter")) {
            app.mainWindow()->Quitter->trigger();
        } else {
            app.mainWindow()->close();
        }
    });
    return QApplication::exec();
}

void WriteFiles(const QDir& dir) {
    merival::ChannelRecords records;
    records[0] = {1, 2, "1", "Muet", true, false};
    QFile config(dir.filePath("config.txt"));
    if (config.open(QIODevice::WriteOnly)) {
        config.write(merival::WriteChannelConfigText(records));
    }
    QFile portCom(dir.filePath("PortCom.dat"));
    if (portCom.open(QIODevice::WriteOnly)) {
        portCom.write(merival::WriteSerialSettingsText({}));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && QByteArray(argv[1]) == "--child") {
        return Child(argc, argv, QString::fromLatin1(argv[2]));
    }
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    QTemporaryDir temporary;
    const QDir dir(temporary.filePath("MERIVAL"));
    dir.mkpath(".");
    QDir::setCurrent(dir.path());
    WriteFiles(dir);
    QProcess sim;
    sim.setWorkingDirectory(dir.path());
    sim.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"), {"1:ph:silent"});
    for (int i = 0; i < 500 && !QFileInfo(dir.filePath("COM1")).exists(); ++i) {
        QThread::msleep(10);
    }
    if (!QFileInfo(dir.filePath("COM1")).exists()) {
        std::fprintf(stderr, "merival-sim did not start\n");
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains("QT_QPA_PLATFORM")) {
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }
    std::printf("way               quit_to_exit_ms  port_free_after_exit\n");
    for (const char* way : kWays) {
        for (int round = 0; round < rounds; ++round) {
            QProcess child;
            child.setProcessEnvironment(environment);
            child.setWorkingDirectory(dir.path());
            child.start(QCoreApplication::applicationFilePath(), {"--child", way});
            if (!child.waitForReadyRead(20000)) {
                std::fprintf(stderr, "the child never quit\n");
                return 1;
            }
            QElapsedTimer sinceQuit;
            sinceQuit.start();
            child.waitForFinished(20000);
            const qint64 ms = sinceQuit.elapsed();
            merival::QtSerialPort next;
            QString error;
            const bool free = next.setSettings("9600,n,8,1") && next.open(&error);
            std::printf("%-17s %15lld  %s\n", way, static_cast<long long>(ms),
                        free ? "yes" : qPrintable(error));
        }
    }
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
