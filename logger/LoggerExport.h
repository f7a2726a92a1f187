#pragma once

#include <QChar>
#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>

#include "base/Operator.h"
#include "base/Status.h"

namespace merival {

using ExportProgress = std::function<void(const QString& line)>;

struct ExportOptions {
    QDir outputDirectory = QDir::current();
    QChar decimalSeparator = QLatin1Char(',');
    QString messageTitle;  // title of the operator's message boxes
};

// Exports a logger file into one ".xls" text file per recorded instrument. Talks to the
// operator itself (overwrite question, errors, beep and "Fin d'extraction"); the status tells
// callers such as console tools how it ended. An empty progress function skips the progress
// lines altogether.
[[nodiscard]] Status ExportLoggerFile(const QString& loggerPath, Operator& op,
                                      const ExportProgress& progress, const ExportOptions& options);

// The names of the files ExportLoggerFile would write for this logger file, in order, read from
// its header only (for callers that check for existing output first). The status reports an
// unreadable logger file.
struct ExportTargets {
    Status status;
    QStringList fileNames;
};
[[nodiscard]] ExportTargets LoggerExportFileNames(const QString& loggerPath);

}  // namespace merival
