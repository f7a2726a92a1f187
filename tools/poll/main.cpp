// merival-poll: the measurement cycle without a window. Reads "config.txt" and "PortCom.dat"
// of the current directory, opens the port as the measurement window does, and prints one
// line per polled channel: "Voie <n>", a tab, the value text with its CR LF turned into tabs.
//
//   merival-poll [--count N] [--interval MS] [--record] [--mqtt [--mqtt-config FILE]]
//                [--trace] [--stats] [--alarms]
//
// --record writes every reading into "historique.sqlite" as the desktop program does (the
// retention of merival.ini applies); a file that cannot be used is reported and polling goes on.
// --mqtt also publishes every reading as the desktop program does, with the [Publication]
// section of merival.ini (or FILE); a refusal by the broker goes to the standard error.
// --trace adds one line per exchange on stderr, --stats the statistics per channel at the end.
// --alarms evaluates the alarms of merival.ini, journals them, runs their command and sends
// the notifications of its [Notifications] section; each
// event is printed after the value lines of its pass: "Alarme", channel, event, value text,
// separated by tabs.
//
// Exit status: 0 after N passes or on SIGINT/SIGTERM (the pass in progress ends after its
// current channel, as with ABANDON); 1 when an option, a file or the port cannot be used.

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "alarms/Alarms.h"
#include "base/IniFile.h"
#include "config/ChannelStore.h"
#include "diagnostics/ExchangeLog.h"
#include "history/HistoryDatabase.h"
#include "history/HistoryRecorder.h"
#include "instruments/Polling.h"
#include "measure/MeasurementCycle.h"
#include "notify/Notifier.h"
#include "publish/Publisher.h"
#include "serial/QtSerialPort.h"
#include "serial/SerialSettings.h"
#include "serial/Transport.h"

namespace merival {
namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void PrintError(const QString& text) {
    const QByteArray bytes = (QStringLiteral("merival-poll : ") + text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

struct Options {
    std::optional<long long> count;  // passes; none = until a signal
    int intervalMs = 1000;
    bool record = false;
    bool mqtt = false;
    QString mqttConfig;  // empty: merival.ini of the current directory
    bool trace = false;
    bool stats = false;
    bool alarms = false;
};

std::optional<long long> PositiveNumber(const QString& text, long long max) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < 1 || value > max) {
        return std::nullopt;
    }
    return value;
}

// French messages for every refusal; nothing is printed on success.
std::optional<Options> ParseOptions(const QStringList& arguments) {
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        const qsizetype equals = name.indexOf(u'=');
        if (name.startsWith(QStringLiteral("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if ((name == QStringLiteral("--count") || name == QStringLiteral("--interval") ||
                    name == QStringLiteral("--mqtt-config")) &&
                   i + 1 < arguments.size()) {
            value = arguments[++i];
        }
        if (name == QStringLiteral("--alarms") && equals < 0) {
            options.alarms = true;
        } else if (arguments[i] == QStringLiteral("--record")) {
            options.record = true;
        } else if (name == QStringLiteral("--mqtt") && equals < 0) {
            options.mqtt = true;
        } else if (name == QStringLiteral("--mqtt-config") && !value.isEmpty()) {
            options.mqttConfig = value;
        } else if (name == QStringLiteral("--count")) {
            options.count = PositiveNumber(value, std::numeric_limits<long long>::max());
            if (!options.count) {
                PrintError(QStringLiteral("nombre de passes invalide : « %1 »").arg(value));
                return std::nullopt;
            }
        } else if (name == QStringLiteral("--interval")) {
            const std::optional<long long> ms = PositiveNumber(value, 24LL * 3600 * 1000);
            if (!ms) {
                PrintError(
                    QStringLiteral("intervalle invalide : « %1 » (millisecondes)").arg(value));
                return std::nullopt;
            }
            options.intervalMs = static_cast<int>(*ms);
        } else if (name == QStringLiteral("--trace") && value.isEmpty()) {
            options.trace = true;
        } else if (name == QStringLiteral("--stats") && value.isEmpty()) {
            options.stats = true;
        } else {
            PrintError(QStringLiteral("option inconnue : « %1 »\nusage : merival-poll [--count N] "
                                      "[--interval MS] [--record] [--mqtt [--mqtt-config "
                                      "FICHIER]] [--trace] [--stats] [--alarms]")
                           .arg(arguments[i]));
            return std::nullopt;
        }
    }
    if (!options.mqttConfig.isEmpty() && !options.mqtt) {
        PrintError(QStringLiteral("--mqtt-config va avec --mqtt"));
        return std::nullopt;
    }
    return options;
}

// The publisher of the [Publication] section, started; null with a message when publishing
// is not configured or a file it names cannot be read.
std::unique_ptr<Publisher> StartPublisher(const QString& configFile) {
    const QString path = configFile.isEmpty() ? IniPath() : configFile;
    if (!QFileInfo::exists(path)) {
        PrintError(QStringLiteral("impossible de lire « %1 » : fichier introuvable").arg(path));
        return nullptr;
    }
    const std::unique_ptr<QSettings> ini = OpenIni(path);
    if (const Status status = IniStatus(*ini); !status.ok()) {
        PrintError(status.message);
        return nullptr;
    }
    const PublishSettings settings =
        WithFilesIn(LoadPublishSettings(*ini), QFileInfo(path).absoluteDir());
    if (!settings.usable()) {
        PrintError(QStringLiteral("publication non configurée dans « %1 » ([Publication], "
                                  "Actif=true et Hote)")
                       .arg(path));
        return nullptr;
    }
    auto publisher = std::make_unique<Publisher>(settings, QSysInfo::machineHostName());
    if (const Status started = publisher->Start(); !started.ok()) {
        PrintError(started.message);
        return nullptr;
    }
    QObject::connect(publisher.get(), &Publisher::stateChanged, publisher.get(),
                     [](LinkState state, const QString& text) {
                         if (state == LinkState::Refused) {
                             PrintError(QStringLiteral("MQTT : ") + text);
                         }
                     });
    return publisher;
}

// A file that is missing or cannot be read stops the tool: polling with made-up settings
// would report stations that were never asked for.
bool Readable(const QString& name) {
    const QString path = QDir::current().filePath(name);
    const QFileInfo info(path);
    QFile file(path);
    QString reason;
    if (!info.exists()) {
        reason = QStringLiteral("fichier introuvable dans %1").arg(QDir::currentPath());
    } else if (info.isDir()) {
        reason = QStringLiteral("c'est un répertoire");
    } else if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
    } else {
        return true;
    }
    PrintError(QStringLiteral("impossible de lire « %1 » : %2").arg(name, reason));
    return false;
}

void PrintToStderr(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void PrintStats(const ExchangeLog& log) {
    QList<QStringList> rows = {StatsHeadings()};
    for (int n = 0; n < kChannelCount; ++n) {
        rows << StatsCells(n, log.stats()[static_cast<size_t>(n)]);
    }
    PrintToStderr(AlignedTable(rows));
}

void PrintValueLine(int channel, QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\t"));
    const QByteArray line = (QStringLiteral("Voie %1\t").arg(channel) + text + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

void PrintAlarmLine(const AlarmEvent& e) {
    const QByteArray line =
        QStringList{QStringLiteral("Alarme"), QString::number(e.channel), e.event, e.text}
            .join(u'\t')
            .append(u'\n')
            .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

int Run(QCoreApplication& app) {
    const std::optional<Options> options = ParseOptions(QCoreApplication::arguments());
    if (!options) {
        return 1;
    }

    if (!Readable(QStringLiteral("config.txt")) || !Readable(QStringLiteral("PortCom.dat"))) {
        return 1;
    }
    // Content that does not fully convert leaves the same usable state as in the program.
    ChannelStore store;
    if (const Status loaded = store.LoadChannelConfig(); !loaded.ok()) {
        PrintError(QStringLiteral("avertissement : ") + loaded.message);
    }
    SerialSettings settings;
    if (const Status loaded = LoadSerialSettings(settings); !loaded.ok()) {
        PrintError(QStringLiteral("avertissement : ") + loaded.message);
    }
    bool anySelected = false;
    for (int n = 0; n < kChannelCount; ++n) {
        anySelected = anySelected || store.IsSelected(n);
    }
    if (!anySelected) {
        PrintError(QStringLiteral("Aucune mesure de configurée"));
        return 1;
    }

    std::unique_ptr<Publisher> publisher;
    if (options->mqtt && !(publisher = StartPublisher(options->mqttConfig))) {
        return 1;
    }

    QtSerialPort port;
    Transport transport(port, settings);
    if (const Status opened = transport.OpenPort(); !opened.ok()) {
        PrintError(opened.message);
        return 1;
    }

    const QString point = QLocale::system().decimalPoint();
    MeasurementResults results;
    MeasureState state;
    state.EscapeKey = QString(QChar(27));
    TransportRegisterReader reader(transport);
    MeasurementCycle cycle(store, reader, results, state,
                           point.isEmpty() ? QChar(u'.') : point.at(0));

    ExchangeLog log;
    if (options->trace || options->stats) {
        transport.setObserver(&log);
        QObject::connect(&cycle, &MeasurementCycle::polling, &log, &ExchangeLog::setChannel);
    }
    // An exchange is printed when the next one starts: bytes that trail its reply count in it.
    std::optional<ExchangeEvent> held;
    auto printHeld = [&held] {
        if (held) {
            PrintToStderr(TraceLine(*held) + u'\n');
            held.reset();
        }
    };
    if (options->trace) {
        QObject::connect(&log, &ExchangeLog::recorded, &app, [&](const ExchangeEvent& e) {
            printHeld();
            held = e;
        });
        QObject::connect(&log, &ExchangeLog::amended, &app, [&held](const ExchangeEvent& e) {
            if (held && held->seq == e.seq) {
                held = e;
            }
        });
    }

    std::unique_ptr<HistoryRecorder> recorder;
    if (options->record) {
        recorder = std::make_unique<HistoryRecorder>(HistoryPath(),
                                                     LoadHistorySettings(*OpenIni()).retentionDays);
        QObject::connect(recorder.get(), &HistoryRecorder::failed, &app, PrintError);
        QObject::connect(&cycle, &MeasurementCycle::reading, recorder.get(), &HistoryRecorder::Add);
        QObject::connect(&cycle, &MeasurementCycle::passFinished, recorder.get(),
                         &HistoryRecorder::EndPass);
        recorder->Start();
    }

    // The silent stations' pace applies with or without --alarms, as in the desktop program.
    Status alarmWarning;
    const std::unique_ptr<QSettings> alarmIni = OpenIni();
    const AlarmSettings alarmSettings = LoadAlarmSettings(*alarmIni, &alarmWarning);
    cycle.setSilentStations(alarmSettings.lossPasses,
                            qRound64(alarmSettings.silentIntervalSeconds * 1000));
    std::unique_ptr<Notifier> notifier;
    std::unique_ptr<Alarms> alarms;
    QList<AlarmEvent> passEvents;
    if (options->alarms) {
        for (const Status& warning : {IniStatus(*alarmIni), alarmWarning}) {
            if (!warning.ok()) {
                PrintError(QStringLiteral("avertissement : ") + warning.message);
            }
        }
        alarms = std::make_unique<Alarms>(alarmSettings);
        // Sees each reading before the alarms do, so that an event carries its reading.
        notifier = std::make_unique<Notifier>();
        QObject::connect(notifier.get(), &Notifier::failed, &app, PrintError);
        notifier->readSettings(*alarmIni);
        QObject::connect(&cycle, &MeasurementCycle::reading, notifier.get(),
                         [&](const ChannelReading& r) { notifier->takeReading(r); });
        QObject::connect(alarms.get(), &Alarms::happened, notifier.get(), &Notifier::Notify);
        notifier->start();
        QObject::connect(&cycle, &MeasurementCycle::reading, alarms.get(), &Alarms::Feed);
        QObject::connect(alarms.get(), &Alarms::happened, &app,
                         [&](const AlarmEvent& e) { passEvents.append(e); });
        QObject::connect(alarms.get(), &Alarms::failed, &app, PrintError);
    }

    QTimer tick;
    tick.setInterval(options->intervalMs);
    long long passes = 0;
    bool finished = false;
    auto finish = [&] {
        if (finished) {
            return;
        }
        finished = true;
        tick.stop();
        transport.ClosePort();
        printHeld();
        if (options->stats) {
            PrintStats(log);
        }
        if (publisher) {
            publisher->Stop();
        }
        app.exit(0);
    };

    QObject::connect(&cycle, &MeasurementCycle::valueText, &app, PrintValueLine);
    if (publisher) {
        QObject::connect(&cycle, &MeasurementCycle::reading, publisher.get(), &Publisher::publish);
    }
    QObject::connect(&cycle, &MeasurementCycle::stopPending, &app, finish);
    QObject::connect(&cycle, &MeasurementCycle::passFinished, &app, [&] {
        for (const AlarmEvent& e : std::exchange(passEvents, {})) {
            PrintAlarmLine(e);
        }
        ++passes;
        if ((options->count && passes >= *options->count) || state.StopRequested()) {
            finish();
        }
    });
    QObject::connect(&tick, &QTimer::timeout, &cycle, &MeasurementCycle::Minuterie1_Timer);

    // A signal is the ABANDON button: the stop is marked, and carried out at once between
    // passes or after the current channel of a pass.
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        state.StopKey = state.EscapeKey;
        if (!state.PollInProgress) {
            finish();
        }
    });

    // The first pass at once, then one per interval.
    tick.start();
    QTimer::singleShot(0, &cycle, &MeasurementCycle::Minuterie1_Timer);
    const int status = app.exec();
    // Commands already started may finish (each is ended at its time limit).
    while (alarms && alarms->command().running() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return status;
}

}  // namespace
}  // namespace merival

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, merival::signalPipe) != 0) {
        merival::PrintError(QStringLiteral("impossible de préparer les signaux"));
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = merival::OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return merival::Run(app);
}
