#pragma once

#include <QChar>
#include <QDir>
#include <QString>
#include <functional>

#include "shell/Operator.h"
#include "shell/Status.h"

namespace merival {

using ExportProgress = std::function<void(const QString& line)>;

struct ExportOptions {
    QDir outputDirectory = QDir::current();
    QChar decimalSeparator = QLatin1Char(',');
    QString messageTitle;  // title of the operator's message boxes
};

// Exports a logger file into one ".xls" text file per recorded instrument. Talks to the
// operator itself (overwrite question, errors, beep and "Fin d'extraction"); the status tells
// callers such as console tools how it ended.
[[nodiscard]] Status ExportLoggerFile(const QString& loggerPath, Operator& op,
                                      const ExportProgress& progress, const ExportOptions& options);

}  // namespace merival
