// Processor time of the desktop program measuring four simulated stations, with recording,
// alarms and publishing (to a mosquitto broker of its own) on, and then with recording off:
// the program's own App, engine thread, windows and event loop, under a real display.
//
//   xvfb-run -a bench_history_cpu [SECONDS]     (default 60 per phase)
// Works in a temporary folder with the demonstration's four stations (merival-sim --pace).
// The figure is the whole process's (every thread's) processor time.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <ctime>

#include "config/windows/ConfigW.h"
#include "history/Storage.h"
#include "history/windows/HistoryMenu.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"
#include "tests/common/Mosquitto.h"

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void Run(int seconds) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const int seconds = argc > 1 ? std::max(5, atoi(argv[1])) : 60;
    QTemporaryDir temp;
    const QString folder = temp.filePath(QStringLiteral("MERIVAL"));
    QDir().mkpath(folder);
    QDir::setCurrent(folder);
    Write(QStringLiteral("config.txt"),
          "1,5\r\n\"1\",\"D\xe9"
          "bit entr\xe9"
          "e\"\r\n1,2\r\n\"2\",\"pH bassin\"\r\n"
          "1,0\r\n\"3\",\"Eau ultrapure\"\r\n1,1\r\n\"4\",\"Conductivit\xe9 rejet\"\r\n"
          "#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n");
    Write(QStringLiteral("PortCom.dat"), " 1             0 \r\n 0 \r\n 0 \r\n");
    merival::test::MosquittoBroker broker(temp.path());
    if (!broker.Start()) {
        std::printf("mosquitto did not start: publishing stays off\n");
    }
    Write(QStringLiteral("merival.ini"), QStringLiteral("[Publication]\nActif=%1\nHote=127.0.0.1\n"
                                                        "Port=%2\n[Alarmes]\nVoie1\\SeuilBas=6.5\n"
                                                        "Voie1\\SeuilHaut=7.5\n")
                                             .arg(broker.Running() ? "true" : "false")
                                             .arg(broker.port())
                                             .toUtf8());
    QFile::copy(QStringLiteral(MERIVAL_SOURCE_DIR "/assets/instrum1.bmp"),
                QStringLiteral("instrum1.bmp"));
    QProcess sim;
    sim.setWorkingDirectory(folder);
    sim.setStandardOutputFile(QProcess::nullDevice());
    sim.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"),
              {QStringLiteral("--pace"), QStringLiteral("1:flow"), QStringLiteral("2:ph"),
               QStringLiteral("3:resistivity"), QStringLiteral("4:conductivity")});
    for (int i = 0; i < 100 && !QFile::exists(QStringLiteral("COM1")); ++i) {
        QThread::msleep(50);
    }
    {
        merival::App app;
        app.Start();
        app.configW()->Commande1_Click();
        app.mainWindow()->Mesure->trigger();
        Run(5);  // the file is made and the first passes are written
        for (const bool recording : {true, false}) {
            app.history()->Enregistrement_Click(recording);
            const double cpu = CpuSeconds();
            QElapsedTimer wall;
            wall.start();
            Run(seconds);
            const double used = CpuSeconds() - cpu;
            std::printf(
                "recording %-3s, alarms and publishing on: %.2f s of processor in %.1f s "
                "= %.2f %% of a core\n",
                recording ? "on" : "off", used, wall.elapsed() / 1000.0,
                100.0 * used / (wall.elapsed() / 1000.0));
            std::fflush(stdout);
        }
        app.EndApplication();
    }
    std::printf("history file: %lld bytes\n",
                static_cast<long long>(QFileInfo(merival::HistoryPath()).size()));
    sim.terminate();
    sim.waitForFinished(5000);
    return 0;
}
