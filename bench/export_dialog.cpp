// Event-loop latency while the extraction dialog exports a long logger file: a 5 ms timer runs
// during the export and the gaps between its ticks are printed (max, mean, 99th percentile),
// with the export's duration. Run on the offscreen platform unless another is set.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/Operator.h"
#include "logger/windows/Extraction.h"

using namespace merival;

namespace {

class QuietOperator : public Operator {
public:
    void beep() override {}
    void message(const QString&, const QString&, OperatorIcon) override {}
    bool askYesNo(const QString&, const QString&, OperatorIcon) override { return true; }
};

QByteArray LoggerImage(int records) {
    QByteArray bytes(58, '\0');
    std::copy_n("Bench", 5, bytes.begin());
    std::copy_n("03", 2, bytes.begin() + 36);
    bytes.reserve(58 + 22 * records);
    for (int i = 0; i < records; ++i) {
        char rec[22] = {};
        rec[0] = 0x15;
        rec[1] = 0x06;
        rec[2] = 0x24;
        rec[3] = char(((i / 60) % 24 / 10) << 4 | ((i / 60) % 24 % 10));
        rec[4] = char((i % 60 / 10) << 4 | (i % 60 % 10));
        qToLittleEndian(qint16(700 + i % 100), rec + 10);
        qToLittleEndian(qint16(150 + i % 50), rec + 12);
        bytes.append(rec, sizeof rec);
    }
    return bytes;
}

struct Figures {
    double exportMs = 0;
    int ticks = 0;
    double maxGapMs = 0;
    double meanGapMs = 0;
    double p99GapMs = 0;
};

Figures RunOnce(Extraction& dialog, const QString& loggerPath) {
    auto* list = dialog.findChild<QListView*>(QStringLiteral("File1"));
    auto* model = qobject_cast<QFileSystemModel*>(list->model());
    QModelIndex index = model->index(loggerPath);
    while (!index.isValid()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        index = model->index(loggerPath);
    }
    Q_EMIT list->clicked(index);

    std::vector<qint64> ticks;
    ticks.reserve(100000);
    QElapsedTimer clock;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, &dialog,
                     [&] { ticks.push_back(clock.nsecsElapsed()); });
    clock.start();
    timer.start();
    dialog.findChild<QPushButton*>(QStringLiteral("Command3"))->click();
    const qint64 end = clock.nsecsElapsed();
    timer.stop();

    Figures f;
    f.exportMs = double(end) / 1e6;
    f.ticks = int(ticks.size());
    std::vector<double> gaps;
    qint64 previous = 0;
    for (const qint64 t : ticks) {
        gaps.push_back(double(t - previous) / 1e6);
        previous = t;
    }
    gaps.push_back(double(end - previous) / 1e6);
    double sum = 0;
    for (const double g : gaps) {
        sum += g;
    }
    f.meanGapMs = sum / double(gaps.size());
    std::sort(gaps.begin(), gaps.end());
    f.maxGapMs = gaps.back();
    f.p99GapMs = gaps[std::min(gaps.size() - 1, gaps.size() * 99 / 100)];
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    constexpr int kRecords = 200000;
    constexpr int kRuns = 3;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QString loggerPath = dir.filePath(QStringLiteral("bench.log"));
    QFile file(loggerPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(LoggerImage(kRecords)) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(loggerPath));
        return 1;
    }
    file.close();

    QuietOperator op;
    Extraction dialog(op);
    dialog.ShowInMode(Extraction::Mode::Export);

    std::printf("export of %d records in the extraction dialog, 5 ms timer running\n", kRecords);
    std::printf("%4s %10s %7s %12s %12s %12s\n", "run", "export ms", "ticks", "max gap ms",
                "mean gap ms", "p99 gap ms");
    for (int run = 1; run <= kRuns; ++run) {
        const Figures f = RunOnce(dialog, loggerPath);
        std::printf("%4d %10.1f %7d %12.2f %12.2f %12.2f\n", run, f.exportMs, f.ticks, f.maxGapMs,
                    f.meanGapMs, f.p99GapMs);
    }
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("Label2"));
    std::printf("last progress line: %s\n", qPrintable(label->text()));
    return 0;
}
