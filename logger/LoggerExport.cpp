#include "logger/LoggerExport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <memory>
#include <string>
#include <vector>

#include "base/Windows1252.h"
#include "logger/LoggerFormat.h"

namespace merival {
namespace {

constexpr qsizetype kReadChunk = kLoggerRecordSize * 4096;
constexpr std::size_t kFlushAt = 256 * 1024;
constexpr int kRecordsBetweenClockChecks = 256;
constexpr qint64 kEventTurnMs = 10;

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString ReadError(const QString& loggerPath, const QString& reason) {
    return QString::fromUtf8("Impossible de lire le fichier '%1' : %2")
        .arg(Native(loggerPath), reason);
}

// One ".xls" output, written through its own buffer so that a write error is seen at once.
struct Output {
    QString name;
    SlotPlan plan;
    QFile file;
    std::string buffer;

    // False with `reason` set when the system refused the bytes.
    bool flush(QString& reason) {
        if (buffer.empty()) {
            return true;
        }
        const auto size = static_cast<qint64>(buffer.size());
        const qint64 written = file.write(buffer.data(), size);
        if (written != size) {
            reason = file.errorString();
            // Drop what was accepted, keep the rest: nothing is written twice.
            buffer.erase(0, static_cast<std::size_t>(std::max<qint64>(written, 0)));
            return false;
        }
        buffer.clear();
        return true;
    }
};

void AppendLine(std::string& out, const QByteArray& text) {
    out.append(text.constData(), static_cast<std::size_t>(text.size()));
    out.append("\r\n");
}

// Pure part of the export's start: header bytes to the slot plans and file names.
struct Plan {
    std::array<SlotPlan, 2> bySlot;
    QStringList fileNames;
};

Plan MakePlan(const QByteArray& headerBytes) {
    const LoggerHeader header = ParseLoggerHeader(headerBytes);
    Plan plan{{PlanSlot(header, 0), PlanSlot(header, 1)}, {}};
    plan.fileNames = ExportFileNames(plan.bySlot[0], plan.bySlot[1]);
    return plan;
}

bool ReadHeader(QFile& in, QByteArray& header, QString& error) {
    if (!in.open(QIODevice::ReadOnly)) {
        error = ReadError(in.fileName(), in.errorString());
        return false;
    }
    header = in.read(kLoggerHeaderSize);
    if (in.error() != QFileDevice::NoError) {
        error = ReadError(in.fileName(), in.errorString());
        return false;
    }
    return true;
}

class Exporter {
public:
    Exporter(const QString& loggerPath, Operator& op, const ExportProgress& progress,
             const ExportOptions& options)
        : in_(loggerPath), op_(op), progress_(progress), options_(options) {
        const QByteArray sep = ToWindows1252(QString(options.decimalSeparator));
        separator_ = sep.isEmpty() || sep[0] == '\0' ? ',' : sep[0];
    }

    Status run() {
        QByteArray headerBytes;
        QString error;
        if (!ReadHeader(in_, headerBytes, error)) {
            return fail(error);
        }
        const Plan plan = MakePlan(headerBytes);
        for (int i = 0; i < plan.fileNames.size(); ++i) {
            if (!openOutput(plan.fileNames[i], plan.bySlot[i], error)) {
                return fail(error);
            }
        }
        if (!copyRecords(error)) {
            return fail(error);
        }
        for (auto& out : outputs_) {
            QString reason;
            if (!out->flush(reason)) {
                return fail(writeError(*out, reason));
            }
            out->file.close();
        }
        op_.beep();
        op_.message(QString::fromUtf8("Fin d'extraction"), options_.messageTitle,
                    OperatorIcon::Information);
        return Status::Ok();
    }

private:
    Status fail(const QString& text) {
        // Whatever reached the buffers of the other files is kept.
        for (auto& out : outputs_) {
            QString ignored;
            out->flush(ignored);
            out->file.close();
        }
        op_.beep();
        op_.message(text, options_.messageTitle, OperatorIcon::Error);
        return Status::Error(text);
    }

    static QString writeError(const Output& out, const QString& reason) {
        return QString::fromUtf8("Erreur d'écriture dans le fichier '%1' : %2")
            .arg(out.name, reason);
    }

    bool openOutput(const QString& name, const SlotPlan& plan, QString& error) {
        auto out = std::make_unique<Output>();
        out->name = name;
        out->plan = plan;
        const QString path = options_.outputDirectory.filePath(name);
        out->file.setFileName(path);
        const auto cannotCreate = [&](const QString& reason) {
            error = QString::fromUtf8("Impossible de créer le fichier '%1' : %2").arg(name, reason);
            return false;
        };

        const QFileInfo info(path);
        const QString self = QFileInfo(in_.fileName()).canonicalFilePath();
        if (info.exists() && !self.isEmpty() && info.canonicalFilePath() == self) {
            return cannotCreate(QString::fromUtf8("c'est le fichier logger lui-même"));
        }
        bool truncate = false;
        if (info.isFile() && info.size() > 0) {
            truncate = op_.askYesNo(QString::fromUtf8("Le fichier  '") + name +
                                        QString::fromUtf8("'  existe déjà.") + QLatin1Char('\n') +
                                        QString::fromUtf8("Voulez-vous l'écraser ? "),
                                    options_.messageTitle, OperatorIcon::Question);
        }
        QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
        // A device or pipe under that name takes the bytes as they come; it has no end to seek.
        if (!info.exists() || info.isFile()) {
            mode |= truncate ? QIODevice::Truncate : QIODevice::Append;
        }
        if (!out->file.open(mode)) {
            return cannotCreate(out->file.errorString());
        }

        AppendLine(out->buffer, QByteArray("Logger : ") + PrintableNameField(plan.nameField));
        AppendLine(out->buffer, {});
        AppendLine(out->buffer, ToWindows1252(plan.instrumentName));
        AppendLine(out->buffer, {});
        AppendLine(out->buffer, ToWindows1252(plan.titleLine));
        outputs_.push_back(std::move(out));
        return true;
    }

    bool copyRecords(QString& error) {
        std::vector<char> chunk(static_cast<std::size_t>(kReadChunk));
        qsizetype held = 0;
        QElapsedTimer sinceEvents;
        sinceEvents.start();
        for (;;) {
            const qint64 n = in_.read(chunk.data() + held, kReadChunk - held);
            if (n < 0) {
                error = ReadError(in_.fileName(), in_.errorString());
                return false;
            }
            if (n == 0) {
                if (held > 0) {
                    // A partial last record reads as completed with zero bytes.
                    std::fill(chunk.begin() + held, chunk.begin() + kLoggerRecordSize, '\0');
                    return record(chunk.data(), error);
                }
                return true;
            }
            held += n;
            const char* p = chunk.data();
            for (; held >= kLoggerRecordSize; held -= kLoggerRecordSize, p += kLoggerRecordSize) {
                if (!record(p, error)) {
                    return false;
                }
                if (counter_ % kRecordsBetweenClockChecks == 0 &&
                    sinceEvents.elapsed() >= kEventTurnMs) {
                    // Keeps the dialog live during long exports.
                    if (QCoreApplication::instance() != nullptr) {
                        QCoreApplication::processEvents();
                    }
                    sinceEvents.restart();
                }
            }
            std::copy_n(p, held, chunk.data());
        }
    }

    bool record(const char* bytes, QString& error) {
        ++counter_;
        const LoggerRecord r = ParseLoggerRecord(bytes);
        if (r.date[0] == 0 && r.date[1] == 0 && r.date[2] == 0) {
            return true;  // empty memory: counted, not written
        }
        prefix_.clear();
        AppendDate(prefix_, r.date);
        const std::size_t dateEnd = prefix_.size();
        prefix_.push_back('\t');
        AppendTime(prefix_, r.time);

        if (progress_) {
            line_.clear();
            AppendInteger(line_, counter_);
            line_.append(" : ");
            line_.append(prefix_, 0, dateEnd);
            line_.push_back(' ');
            line_.append(prefix_, dateEnd + 1);
            line_.append("  ");
            AppendInteger(line_, r.bySlot[0].measurement);
            line_.push_back(' ');
            AppendInteger(line_, r.bySlot[0].temperature);
            line_.push_back(' ');
            if (outputs_[0]->plan.flow) {
                AppendTotaliser(line_, r.bySlot[0].totaliser);
            }
            progress_(QString::fromLatin1(line_.data(), static_cast<qsizetype>(line_.size())));
        }

        prefix_.push_back('\t');
        for (std::size_t i = 0; i < outputs_.size(); ++i) {
            Output& out = *outputs_[i];
            const LoggerSlotRecord& s = r.bySlot[i];
            out.buffer.append(prefix_);
            if (out.plan.unit) {
                AppendQuotient(out.buffer, s.measurement, out.plan.unit->divisor, separator_);
            }
            out.buffer.push_back('\t');
            AppendQuotient(out.buffer, s.temperature, out.plan.temperatureDivisor, separator_);
            out.buffer.push_back('\t');
            if (out.plan.flow) {
                AppendTotaliser(out.buffer, s.totaliser);
            }
            out.buffer.append("\r\n");
            if (out.buffer.size() >= kFlushAt) {
                QString reason;
                if (!out.flush(reason)) {
                    error = writeError(out, reason);
                    return false;
                }
            }
        }
        return true;
    }

    QFile in_;
    Operator& op_;
    const ExportProgress& progress_;
    const ExportOptions& options_;
    char separator_ = ',';
    std::vector<std::unique_ptr<Output>> outputs_;
    long long counter_ = 0;
    std::string prefix_;
    std::string line_;
};

}  // namespace

Status ExportLoggerFile(const QString& loggerPath, Operator& op, const ExportProgress& progress,
                        const ExportOptions& options) {
    return Exporter(loggerPath, op, progress, options).run();
}

ExportTargets LoggerExportFileNames(const QString& loggerPath) {
    QFile in(loggerPath);
    QByteArray headerBytes;
    QString error;
    if (!ReadHeader(in, headerBytes, error)) {
        return {Status::Error(error), {}};
    }
    return {Status::Ok(), MakePlan(headerBytes).fileNames};
}

}  // namespace merival
