// merival-diagnostics-screenshot: measures with the "config.txt" and "PortCom.dat" of the
// current directory as the measurement window does, shows "Trafic de la ligne" and saves a
// picture of it once some exchanges went by. Used by scripts/diagnostics-screenshots.sh with a
// simulator that makes faults.
//
//   merival-diagnostics-screenshot OUTPUT_DIR [SECONDS]

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "base/Operator.h"
#include "config/ChannelStore.h"
#include "diagnostics/ExchangeLog.h"
#include "diagnostics/windows/TraficLigne.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/Transport.h"

namespace {

class SilentOperator : public merival::Operator {
public:
    void beep() override {}
    void message(const QString&, const QString&, merival::OperatorIcon) override {}
    bool askYesNo(const QString&, const QString&, merival::OperatorIcon) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace merival;
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: merival-diagnostics-screenshot OUTPUT_DIR [SECONDS]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 12;

    ChannelStore store;
    SerialSettings settings;
    if (!store.LoadChannelConfig().ok() || !LoadSerialSettings(settings).ok()) {
        std::fprintf(stderr, "FAILED: config.txt or PortCom.dat\n");
        return 1;
    }
    QtSerialPort port;
    Transport transport(port, settings);
    ExchangeLog log;
    transport.setObserver(&log);
    if (const Status opened = transport.OpenPort(); !opened.ok()) {
        std::fprintf(stderr, "FAILED: %s\n", qPrintable(opened.message));
        return 1;
    }
    TransportRegisterReader reader(transport);
    MeasurementResults results;
    MeasureState state;
    state.EscapeKey = QString(QChar(27));
    MeasurementCycle cycle(store, reader, results, state, u',');
    QObject::connect(&cycle, &MeasurementCycle::polling, &log, &ExchangeLog::setChannel);
    QTimer tick;
    tick.setInterval(1000);
    QObject::connect(&tick, &QTimer::timeout, &cycle, &MeasurementCycle::Minuterie1_Timer);
    tick.start();

    SilentOperator op;
    TraficLigne window(log, op);
    window.setGeometry(window.screen()->availableGeometry());
    window.show();
    int code = 1;
    QTimer::singleShot(seconds * 1000, &window, [&] {
        const QString path = out.filePath(QStringLiteral("diagnostics.png"));
        const bool saved = window.grab().save(path, "PNG");
        std::fprintf(stderr, "%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
        code = saved ? 0 : 1;
        // A pass in progress ends after its channel; the closed port ends its wait.
        state.StopKey = state.EscapeKey;
        tick.stop();
        transport.ClosePort();
        QCoreApplication::exit(code);
    });
    QApplication::exec();
    return code;
}
