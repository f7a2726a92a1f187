// Start-up time to the configuration dialog, peak memory, and CPU use while measuring with
// one silent station. Prints figures; judges nothing.
//
//   bench_startup [SECONDS]      measuring time, default 30
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <sys/resource.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/Operator.h"
#include "config/ChannelStore.h"
#include "config/windows/ConfigW.h"
#include "serial/SerialSettings.h"
#include "shell/App.h"
#include "shell/MERIVAL.h"

namespace {

// Messages go to standard error; nothing waits for an answer.
class PrintingOperator : public merival::Operator {
public:
    void beep() override {}
    void message(const QString& text, const QString&, merival::OperatorIcon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool askYesNo(const QString& text, const QString&, merival::OperatorIcon) override {
        std::fprintf(stderr, "question: %s\n", qPrintable(text));
        return false;
    }
};

// Notes the first paint of a window.
class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        Q_UNUSED(watched);
        if (event->type() == QEvent::Paint) {
            seen = true;
        }
        return false;
    }
    bool seen = false;
};

void WriteFiles(const QDir& dir) {
    merival::ChannelRecords records;
    records[0] = {1, 2, "4", "Muet", true, false};  // pH at a silent station
    QFile config(dir.filePath("config.txt"));
    config.open(QIODevice::WriteOnly);
    config.write(merival::WriteChannelConfigText(records));
    QFile portCom(dir.filePath("PortCom.dat"));
    portCom.open(QIODevice::WriteOnly);
    portCom.write(merival::WriteSerialSettingsText({}));
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Child mode: the program's own start-up, then "shown" once the dialog has painted.
int StartupOnce(QApplication& application) {
    PrintingOperator op;
    merival::AppOptions options;
    options.op = &op;
    merival::App app(std::move(options));
    FirstPaint paint;
    app.configW()->installEventFilter(&paint);
    app.Start();
    while (!paint.seen) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    std::printf("shown %ld\n", PeakKilobytes());
    std::fflush(stdout);
    Q_UNUSED(application);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QString self = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath();
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    WriteFiles(QDir(dir.path()));

    if (argc > 1 && QByteArray(argv[1]) == "--startup-once") {
        QApplication application(argc, argv);
        return StartupOnce(application);
    }
    const int seconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 30;
    QApplication application(argc, argv);

    // 1. Start-up: a fresh process each time, from exec to the dialog's first paint.
    std::vector<double> startMs;
    long childPeak = 0;
    for (int run = 0; run < 7; ++run) {
        QProcess child;
        QElapsedTimer clock;
        clock.start();
        child.start(self, {"--startup-once"});
        if (!child.waitForReadyRead(30000)) {
            std::fprintf(stderr, "start-up run %d failed\n", run);
            return 1;
        }
        startMs.push_back(clock.nsecsElapsed() / 1e6);
        const QList<QByteArray> words = child.readAllStandardOutput().trimmed().split(' ');
        if (words.size() == 2) {
            childPeak = std::max(childPeak, words[1].toLong());
        }
        child.waitForFinished(30000);
    }
    std::sort(startMs.begin(), startMs.end());
    std::printf(
        "start to configuration dialog painted (%zu runs): min %.1f ms, median %.1f ms, "
        "max %.1f ms\n",
        startMs.size(), startMs.front(), startMs[startMs.size() / 2], startMs.back());
    std::printf("peak memory at the dialog: %ld KiB\n", childPeak);

    // 2. Measuring with one silent station on the simulator.
    const QString simulator = QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim");
    QProcess sim;
    sim.start(simulator, {"4:ph:silent"});
    if (!sim.waitForStarted()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simulator));
        return 1;
    }
    for (int i = 0; i < 200 && !QFileInfo(QDir::current().filePath("COM1")).isSymLink(); ++i) {
        QThread::msleep(50);
    }

    PrintingOperator op;
    merival::AppOptions options;
    options.op = &op;
    merival::App app(std::move(options));
    app.Start();
    app.configW()->Commande1->click();
    app.mainWindow()->Mesure->trigger();

    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &application, [] { QCoreApplication::exit(0); });
    QApplication::exec();
    const double cpu = CpuSeconds() - cpuBefore;
    const double elapsed = wall.nsecsElapsed() / 1e9;

    sim.terminate();
    sim.waitForFinished(5000);
    const int requests = sim.readAllStandardOutput().count('\n');
    std::printf(
        "measuring %.1f s with one silent station: CPU %.3f s (%.2f %% of one core), "
        "%d requests sent\n",
        elapsed, cpu, 100.0 * cpu / elapsed, requests);
    std::printf("peak memory after measuring: %ld KiB\n", PeakKilobytes());
    return 0;
}
