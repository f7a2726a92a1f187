// merival-history: the recorded history as CSV for a French spreadsheet, on standard output.
//
//   merival-history [--from DATE] [--to DATE] [--voie N] [--db FILE]
//   merival-history --rapport-alarmes [--from DATE] [--to DATE] [--db FILE]
//   merival-history --help | --version
//
// The second form prints the alarm-management report of the journal instead: by default from
// the first event to now.
//
// DATE is "AAAA-MM-JJ" or "AAAA-MM-JJ HH:MM", local time; --to takes in the whole day or
// minute it names. The file defaults to "historique.sqlite" of the current directory.
// Exit status: 0; 1 with a message when the file is missing, refused or unreadable, or the
// output fails; 2 for a bad argument.

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <cstdio>
#include <optional>

#include "config/AppInfo.h"
#include "history/HistoryQuery.h"
#include "history/Storage.h"
#include "notify/AlarmReport.h"

namespace merival {
namespace {

void PrintError(const QString& text) {
    const QByteArray bytes = (QStringLiteral("merival-history : ") + text + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

const char kUsage[] =
    "usage : merival-history [--from DATE] [--to DATE] [--voie N] [--db FICHIER]\n"
    "        merival-history --rapport-alarmes [--from DATE] [--to DATE] [--db FICHIER]\n"
    "  L'historique enregistré, en CSV sur la sortie standard ; --rapport-alarmes : le\n"
    "  rapport de gestion des alarmes du journal (par défaut du premier événement à maintenant).\n"
    "  DATE : AAAA-MM-JJ ou AAAA-MM-JJ HH:MM, heure locale ; --to inclut le jour ou la minute.\n"
    "  --voie N : la voie 0 à 3 seule ; --db : le fichier (historique.sqlite du dossier).\n"
    "  --help : cette aide ; --version : la version.\n";

struct Options {
    ExportRequest request;
    QString path;
    bool alarmReport = false;
    bool done = false;  // --help or --version answered
};

std::optional<Options> ParseOptions(const QStringList& arguments) {
    Options options;
    options.path = HistoryPath();
    const QStringList names{QStringLiteral("--from"), QStringLiteral("--to"),
                            QStringLiteral("--voie"), QStringLiteral("--db")};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--rapport-alarmes")) {
            options.alarmReport = true;
            continue;
        }
        if (arguments[i] == QStringLiteral("--help") || arguments[i] == QStringLiteral("-h")) {
            std::fputs(kUsage, stdout);
            options.done = true;
            return options;
        }
        if (arguments[i] == QStringLiteral("--version")) {
            std::printf("merival-history %s\n",
                        qPrintable(QString::number(VersionNumber(), 'f', 2)));
            options.done = true;
            return options;
        }
        QString name = arguments[i];
        QString value;
        const qsizetype equals = name.indexOf(u'=');
        if (name.startsWith(QStringLiteral("--")) && equals > 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if (names.contains(name) && i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            PrintError(
                QStringLiteral("option inconnue ou sans valeur : « %1 »\nusage : "
                               "merival-history [--rapport-alarmes] [--from DATE] [--to DATE] "
                               "[--voie N] [--db FICHIER]")
                    .arg(arguments[i]));
            return std::nullopt;
        }
        bool ok = true;
        if (name == names[0] || name == names[1]) {
            QString skipped;
            const std::optional<qint64> ms = ParseHistoryDate(value, name == names[1], &skipped);
            if (!skipped.isEmpty()) {
                PrintError(QStringLiteral("%1 : %2").arg(name, skipped));
                return std::nullopt;
            }
            ok = ms.has_value();
            (name == names[0] ? options.request.period.fromMs : options.request.period.toMs) =
                ms.value_or(0);
        } else if (name == names[2]) {
            options.request.channel = value.toInt(&ok);
            ok = ok && options.request.channel >= 0 && options.request.channel <= 3;
        } else if (name == names[3]) {
            options.path = value;
            ok = !value.isEmpty();
        } else {
            ok = false;
        }
        if (!ok) {
            PrintError(QStringLiteral("valeur invalide pour %1 : « %2 » (date AAAA-MM-JJ ou "
                                      "AAAA-MM-JJ HH:MM, voie 0 à 3)")
                           .arg(name, value));
            return std::nullopt;
        }
    }
    if (options.request.period.fromMs >= options.request.period.toMs) {
        PrintError(QStringLiteral("la période est vide : --from doit précéder --to"));
        return std::nullopt;
    }
    return options;
}

bool Print(const QByteArray& bytes) {
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) ==
               size_t(bytes.size()) &&
           std::fflush(stdout) == 0;
}

int AlarmReport(const QString& connection, const Options& options) {
    HistoryPeriod period = options.request.period;
    QList<JournalRow> rows;
    const Status read = ReadJournalRows(connection, period.fromMs, period.toMs, &rows);
    CloseStorage(connection);
    if (!read.ok()) {
        PrintError(read.message);
        return 1;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (period.toMs == std::numeric_limits<qint64>::max()) {
        period.toMs = std::max(now, rows.isEmpty() ? now : rows.last().ms + 1);
    }
    if (period.fromMs == std::numeric_limits<qint64>::min()) {
        period.fromMs = rows.isEmpty() ? period.toMs - 24 * 3600000LL : rows.first().ms;
    }
    if (!Print(FormatAlarmReport(ComputeAlarmReport(rows, period.fromMs, period.toMs)).toUtf8())) {
        PrintError(QStringLiteral("l'écriture sur la sortie a échoué"));
        return 1;
    }
    return 0;
}

int Run() {
    const std::optional<Options> options = ParseOptions(QCoreApplication::arguments());
    if (!options) {
        return 2;
    }
    if (options->done) {
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const QString connection = QStringLiteral("merival-history");
    if (options->alarmReport) {
        if (const Status opened = OpenJournalReadOnly(connection, options->path); !opened.ok()) {
            PrintError(opened.message);
            return 1;
        }
        return AlarmReport(connection, *options);
    }
    // Read-only: the program recording keeps its write-ahead log whatever happens here.
    if (const Status opened = OpenStorage(connection, options->path, StorageAccess::Read).status;
        !opened.ok()) {
        PrintError(opened.message);
        return 1;
    }
    const QString point = QLocale::system().decimalPoint();
    const Status exported =
        ExportCsv(connection, options->request, point.isEmpty() ? QChar(u'.') : point.at(0),
                  [](const QByteArray& chunk) {
                      return std::fwrite(chunk.constData(), 1, size_t(chunk.size()), stdout) ==
                             size_t(chunk.size());
                  });
    CloseStorage(connection);
    if (!exported.ok() || std::fflush(stdout) != 0) {
        PrintError(exported.ok() ? QStringLiteral("l'écriture sur la sortie a échoué")
                                 : exported.message);
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace merival

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return merival::Run();
}
