// merival-export: exports a logger file to the same ".xls" files as the extraction dialog,
// into the current directory.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>
#include <cstdio>

#include "base/Operator.h"
#include "logger/LoggerExport.h"

using namespace merival;

namespace {

enum ExitCode { kDone = 0, kFileError = 1, kRefused = 2 };

void Print(std::FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8() + '\n';
    std::fwrite(utf8.constData(), 1, static_cast<std::size_t>(utf8.size()), stream);
}

// The operator of a console run: questions are answered by the command line, errors go to
// stderr, the rest to stdout.
class ConsoleOperator : public Operator {
public:
    explicit ConsoleOperator(bool overwrite) : overwrite_(overwrite) {}
    void beep() override {}
    void message(const QString& text, const QString&, OperatorIcon icon) override {
        std::fflush(stdout);
        Print(icon == OperatorIcon::Error ? stderr : stdout, text);
    }
    bool askYesNo(const QString&, const QString&, OperatorIcon) override { return overwrite_; }

private:
    bool overwrite_;
};

void Usage() {
    Print(stderr, QString::fromUtf8(
                      "Usage : merival-export [--overwrite | --append] [--quiet] FICHIER.log\n"
                      "Exporte le fichier logger en fichiers \".xls\" dans le répertoire courant.\n"
                      "  --overwrite  remplace les fichiers \".xls\" existants\n"
                      "  --append     ajoute à la suite des fichiers \".xls\" existants\n"
                      "  --quiet      n'affiche pas la ligne de chaque enregistrement\n"
                      "Codes de sortie : 0 terminé, 1 erreur de fichier, 2 rien n'a été écrit "
                      "(fichier existant sans option, ou mauvais usage)."));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    bool overwrite = false;
    bool append = false;
    bool quiet = false;
    QString loggerPath;
    const QStringList args = QCoreApplication::arguments().mid(1);
    for (const QString& arg : args) {
        if (arg == QLatin1String("--overwrite")) {
            overwrite = true;
        } else if (arg == QLatin1String("--append")) {
            append = true;
        } else if (arg == QLatin1String("--quiet")) {
            quiet = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            Usage();
            return kDone;
        } else if (arg.startsWith(QLatin1Char('-')) || !loggerPath.isEmpty()) {
            Usage();
            return kRefused;
        } else {
            loggerPath = arg;
        }
    }
    if (loggerPath.isEmpty() || (overwrite && append)) {
        Usage();
        return kRefused;
    }

    ExportOptions options;
    options.outputDirectory = QDir::current();
    const QString point = QLocale::system().decimalPoint();
    options.decimalSeparator = point.isEmpty() ? QLatin1Char(',') : point.at(0);
    options.messageTitle = QStringLiteral("merival-export");

    // Refuse before writing anything, rather than half way through.
    const ExportTargets targets = LoggerExportFileNames(loggerPath);
    if (!targets.status.ok()) {
        Print(stderr, targets.status.message);
        return kFileError;
    }
    if (!overwrite && !append) {
        for (const QString& name : targets.fileNames) {
            const QFileInfo info(options.outputDirectory.filePath(name));
            if (info.isFile() && info.size() > 0) {
                Print(stderr, QString::fromUtf8("Le fichier '%1' existe déjà : relancer avec "
                                                "--overwrite pour le remplacer ou --append pour "
                                                "écrire à la suite. Rien n'a été écrit.")
                                  .arg(name));
                return kRefused;
            }
        }
    }

    ConsoleOperator op(overwrite);
    ExportProgress progress;
    if (!quiet) {
        progress = [](const QString& line) { Print(stdout, line); };
    }
    const Status status = ExportLoggerFile(loggerPath, op, progress, options);
    std::fflush(stdout);
    return status.ok() ? kDone : kFileError;
}
