#pragma once

// The measurement cycle over four stations (pH, resistivity, conductivity, flow at addresses
// 1 to 4, base block) on COM1 of the current directory at 9600 baud, as the benchmarks that
// time passes against merival-sim set it up.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <functional>

#include "config/ChannelStore.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"

namespace merival::bench {

// Pumps events until condition holds; false after boundMs.
inline bool WaitFor(const std::function<bool()>& condition, int boundMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > boundMs) {
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return true;
}

// True once merival-sim has linked COM1 in folder (at most 10 s).
inline bool WaitForLink(const QString& folder) {
    return WaitFor(
        [&] { return QFileInfo(QDir(folder).filePath(QStringLiteral("COM1"))).isSymLink(); },
        10000);
}

// Starts merival-sim in folder; false, with the reason on stderr, unless it has linked COM1.
inline bool StartSimulator(QProcess& sim, const QString& folder, const QStringList& arguments) {
    sim.setWorkingDirectory(folder);
    sim.start(QStringLiteral(MERIVAL_BINARY_DIR "/sim/merival-sim"), arguments);
    if (!sim.waitForStarted(5000) || !WaitForLink(folder)) {
        std::fprintf(stderr, "merival-sim did not start: %s\n",
                     sim.readAllStandardError().constData());
        return false;
    }
    return true;
}

struct FourStations {
    FourStations() {
        const int types[] = {2, 0, 1, 5};
        for (int k = 0; k < kChannelCount; ++k) {
            store.setSelected(k, 1);
            store.setTypeIndex(k, static_cast<qint16>(types[k]));
            store.setAddress(k, QString::number(k + 1));
            store.setBaseBlock(k, true);
        }
        state.EscapeKey = QString(QChar(27));
    }

    // Opens the port; false, with the reason on stderr, when it cannot be opened.
    bool Open() {
        if (const Status opened = transport.OpenPort(); !opened.ok()) {
            std::fprintf(stderr, "%s\n", opened.message.toUtf8().constData());
            return false;
        }
        return true;
    }

    ChannelStore store;
    SerialSettings settings;  // COM1, 9600, no parity, 1 stop bit
    QtSerialPort port;
    Transport transport{port, settings};
    TransportRegisterReader reader{transport};
    MeasurementResults results;
    MeasureState state;
    MeasurementCycle cycle{store, reader, results, state, u'.'};
};

}  // namespace merival::bench
