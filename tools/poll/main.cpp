// merival-poll: the measurement cycle without a window. Reads "config.txt" and "PortCom.dat"
// of the current directory, opens the port as the measurement window does, and prints one
// line per polled channel: "Voie <n>", a tab, the value text with its CR LF turned into tabs.
//
//   merival-poll [--count N] [--interval MS] [--record] [--mqtt [--mqtt-config FILE]]
//                [--trace] [--stats] [--alarms] [--web]
//   merival-poll --web-user NAME [--role lecture|operateur]
//   merival-poll --help | --version
//
// --record writes every reading into "historique.sqlite" as the desktop program does (the
// retention of merival.ini applies); a file that cannot be used is reported and polling goes on.
// --mqtt also publishes every reading as the desktop program does, with the [Publication]
// section of merival.ini (or FILE); a refusal by the broker goes to the standard error.
// --trace adds one line per exchange on stderr, --stats the statistics per channel at the end.
// --alarms evaluates the alarms of merival.ini, journals them and runs their command; each
// event is printed after the value lines of its pass: "Alarme", channel, event, value text,
// separated by tabs.
// --web serves the web view of merival.ini's [Web] section while polling; --web-user adds a
// user of its users file or sets their role and password (read from the terminal or stdin).
//
// Exit status: 0 after N passes, on SIGINT/SIGTERM (the pass in progress ends after its
// current channel, as with ABANDON) or for --help and --version; 1 when an option, a file or the
// port cannot be used.

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
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "alarms/AlarmsCapability.h"
#include "base/IniFile.h"
#include "config/AppInfo.h"
#include "config/ChannelStore.h"
#include "engine/Capabilities.h"
#include "engine/MeasurementEngine.h"
#include "history/HistoryCapability.h"
#include "notify/Notifier.h"
#include "publish/PublishingCapability.h"
#include "serial/SerialSettings.h"
#include "tools/poll/PollWeb.h"
#include "web/WebView.h"

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

const char kUsage[] =
    "usage : merival-poll [--count N] [--interval MS] [--record] [--mqtt [--mqtt-config "
    "FICHIER]]\n"
    "                     [--trace] [--stats] [--alarms] [--web]\n"
    "        merival-poll --web-user NOM [--role lecture|operateur]\n"
    "  Le cycle de mesure sans fenêtre, avec « config.txt » et « PortCom.dat » du dossier :\n"
    "  une ligne par voie interrogée, « Voie <n> », une tabulation et le texte de la valeur.\n"
    "  --count N : N passes (par défaut jusqu'à SIGINT ou SIGTERM) ; --interval MS : le pas.\n"
    "  --record : l'historique ; --mqtt : la publication ([Publication] de merival.ini ou\n"
    "  FICHIER) ; --trace, --stats : les échanges sur la sortie d'erreur ; --alarms : les\n"
    "  alarmes et leurs notifications ; --web : la vue web de [Web] ; --web-user : un\n"
    "  utilisateur de la vue web (mot de passe lu au terminal ou sur l'entrée standard).\n"
    "  --help : cette aide ; --version : la version.\n";

struct Options {
    bool done = false;  // --help or --version answered
    bool web = false;
    QString webUser;
    QString webRole = QStringLiteral("lecture");
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
        if (arguments[i] == QStringLiteral("--help") || arguments[i] == QStringLiteral("-h")) {
            std::fputs(kUsage, stdout);
            options.done = true;
            return options;
        }
        if (arguments[i] == QStringLiteral("--version")) {
            std::printf("merival-poll %s\n", qPrintable(QString::number(VersionNumber(), 'f', 2)));
            options.done = true;
            return options;
        }
    }
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments[i];
        QString value;
        const qsizetype equals = name.indexOf(u'=');
        if (name.startsWith(QStringLiteral("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if ((name == QStringLiteral("--count") || name == QStringLiteral("--interval") ||
                    name == QStringLiteral("--mqtt-config") ||
                    name == QStringLiteral("--web-user") || name == QStringLiteral("--role")) &&
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
        } else if (name == QStringLiteral("--web") && equals < 0) {
            options.web = true;
        } else if (name == QStringLiteral("--web-user") && !value.isEmpty()) {
            options.webUser = value;
        } else if (name == QStringLiteral("--role") && !value.isEmpty()) {
            options.webRole = value;
        } else {
            PrintError(QStringLiteral("option inconnue : « %1 »\nusage : merival-poll [--count N] "
                                      "[--interval MS] [--record] [--mqtt [--mqtt-config "
                                      "FICHIER]] [--trace] [--stats] [--alarms] [--web]\n"
                                      "        merival-poll --web-user NOM [--role "
                                      "lecture|operateur]")
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

// The [Publication] section of FILE (or merival.ini) must say where to publish: a message
// otherwise.
std::unique_ptr<QSettings> PublicationIni(const QString& configFile) {
    const QString path = configFile.isEmpty() ? IniPath() : configFile;
    if (!QFileInfo::exists(path)) {
        PrintError(QStringLiteral("impossible de lire « %1 » : fichier introuvable").arg(path));
        return nullptr;
    }
    std::unique_ptr<QSettings> ini = OpenIni(path);
    if (const Status status = IniStatus(*ini); !status.ok()) {
        PrintError(status.message);
        return nullptr;
    }
    if (!LoadPublishSettings(*ini).usable()) {
        PrintError(QStringLiteral("publication non configurée dans « %1 » ([Publication], "
                                  "Actif=true et Hote)")
                       .arg(path));
        return nullptr;
    }
    return ini;
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
    if (options->done) {
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (!options->webUser.isEmpty()) {
        return SetWebUserFromConsole(options->webUser, options->webRole);
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

    std::unique_ptr<QSettings> publicationIni;
    if (options->mqtt && !(publicationIni = PublicationIni(options->mqttConfig))) {
        return 1;
    }

    // The same engine and capabilities as the desktop program, those the options ask for.
    const QString point = QLocale::system().decimalPoint();
    MeasurementEngine engine(nullptr, point.isEmpty() ? QChar(u'.') : point.at(0));
    engine.setChannels(store.Records());
    if (const Status opened = engine.openPort(settings); !opened.ok()) {
        PrintError(opened.message);
        return 1;
    }
    Capabilities::Choice choice;
    choice.history = options->record;
    choice.alarms = options->alarms;
    choice.notifications = options->alarms;
    choice.publishing = options->mqtt;
    choice.web = options->web;
    choice.console = {options->trace, options->stats, PrintToStderr};
    if (publicationIni) {
        choice.iniDirectory = QFileInfo(publicationIni->fileName()).absoluteDir();
    }
    Capabilities capabilities(engine, choice);
    // The silent stations' pace applies with or without --alarms, as in the desktop program.
    const std::unique_ptr<QSettings> ini = OpenIni();
    capabilities.readSettings(*ini);
    if (PublishingCapability* publishing = capabilities.publishing()) {
        publishing->readSettings(*publicationIni);
        QObject::connect(publishing, &PublishingCapability::stateChanged, &app,
                         [](LinkState state, const QString& text) {
                             if (state == LinkState::Refused) {
                                 PrintError(QStringLiteral("MQTT : ") + text);
                             }
                         });
    }
    if (AlarmsCapability* alarms = capabilities.alarms()) {
        for (const Status& warning : {IniStatus(*ini), alarms->warning()}) {
            if (!warning.ok()) {
                PrintError(QStringLiteral("avertissement : ") + warning.message);
            }
        }
    }
    if (WebView* web = capabilities.web()) {
        if (!web->settings().active) {
            PrintError(QStringLiteral("serveur web non configuré dans « %1 » ([Web], Actif=true)")
                           .arg(IniPath()));
            return 1;
        }
        QObject::connect(web, &WebView::failed, &app, PrintError);
    }
    capabilities.start();
    if (WebView* web = capabilities.web(); web != nullptr && web->port() == 0) {
        return 1;
    }
    if (PublishingCapability* publishing = capabilities.publishing();
        publishing != nullptr && !publishing->startStatus().ok()) {
        PrintError(publishing->startStatus().message);
        return 1;
    }
    if (HistoryCapability* history = capabilities.history()) {
        QObject::connect(history, &HistoryCapability::failed, &app, PrintError);
        QObject::connect(history, &HistoryCapability::troubled, &app, PrintError);
    }
    QList<AlarmEvent> passEvents;
    if (AlarmsCapability* alarms = capabilities.alarms()) {
        QObject::connect(alarms->alarms(), &Alarms::happened, &app,
                         [&](const AlarmEvent& e) { passEvents.append(e); });
        QObject::connect(alarms->alarms(), &Alarms::failed, &app, PrintError);
    }
    if (Notifier* notifier = capabilities.notifier()) {
        QObject::connect(notifier, &Notifier::failed, &app, PrintError);
    }

    long long passes = 0;
    bool stopping = false;
    bool finished = false;
    auto finish = [&] {
        if (finished) {
            return;
        }
        finished = true;
        // Nothing of a later pass is printed: the engine runs on its own.
        engine.requestStop();
        engine.stopTicks();
        QObject::disconnect(&engine, nullptr, &app, nullptr);
        engine.closePort();
        app.exit(0);
    };

    // The last pass is counted on the engine's thread, as it ends: no further pass starts.
    std::atomic<long long> ended = 0;
    if (options->count) {
        QObject::connect(
            &engine, &MeasurementEngine::passFinished, &engine,
            [&](const PassEnd&) {
                if (++ended >= *options->count) {
                    engine.requestStop();
                }
            },
            Qt::DirectConnection);
    }
    QObject::connect(&engine, &MeasurementEngine::valueText, &app, PrintValueLine);
    QObject::connect(&engine, &MeasurementEngine::stopPending, &app, finish);
    QObject::connect(&engine, &MeasurementEngine::passFinished, &app, [&] {
        for (const AlarmEvent& e : std::exchange(passEvents, {})) {
            PrintAlarmLine(e);
        }
        ++passes;
        if ((options->count && passes >= *options->count) || stopping) {
            finish();
        }
    });

    // A signal is the ABANDON button: the stop is marked, and carried out at once between
    // passes or after the current channel of a pass.
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] {
        char byte;
        [[maybe_unused]] const ssize_t got = ::read(signalPipe[0], &byte, 1);
        stopping = true;
        engine.requestStop();
        if (!engine.passInProgress()) {
            finish();
        }
    });

    // The first pass at once, then one per interval.
    engine.startTicks(options->intervalMs);
    engine.tick();
    const int status = app.exec();
    // Commands already started may finish (each is ended at its time limit).
    while (capabilities.alarms() != nullptr && capabilities.alarms()->alarms() != nullptr &&
           capabilities.alarms()->alarms()->command().running() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    capabilities.stop();
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
