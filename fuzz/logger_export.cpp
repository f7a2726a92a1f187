// Export of an arbitrary logger file into a temporary directory. The last input byte, when the
// file is long enough to have one, decides whether the first output file already holds a line
// and whether the operator answers Yes (overwrite) or No (append) to the question.
#include <cstddef>
#include <cstdint>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fuzz/FuzzCheck.h"
#include "logger/LoggerExport.h"
#include "logger/LoggerFormat.h"

using namespace merival;

namespace {

struct Scene {
    QTemporaryDir root;
    QDir in;
    QDir out;
    QString loggerPath;
};

Scene* scene = nullptr;

class AnsweringOperator : public Operator {
public:
    explicit AnsweringOperator(bool yes) : yes_(yes) {}
    void beep() override { ++beeps; }
    void message(const QString& text, const QString&, OperatorIcon) override { last = text; }
    bool askYesNo(const QString&, const QString&, OperatorIcon) override {
        ++questions;
        return yes_;
    }
    int beeps = 0;
    int questions = 0;
    QString last;

private:
    bool yes_;
};

void EmptyDirectory(QDir& dir) {
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        dir.remove(name);
    }
}

// Records with a date, the only ones that make a line; a short last record reads as padded
// with zeros, so only its present bytes count.
qsizetype DatedRecords(const QByteArray& bytes) {
    qsizetype count = 0;
    for (qsizetype at = kLoggerHeaderSize; at < bytes.size(); at += kLoggerRecordSize) {
        const QByteArray date = bytes.mid(at, 3);
        count += date.count('\0') == date.size() ? 0 : 1;
    }
    return count;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static auto app = std::make_unique<QCoreApplication>(*argc, *argv);
    scene = new Scene;
    FUZZ_CHECK(scene->root.isValid(), "no temporary directory");
    QDir root(scene->root.path());
    root.mkdir(QStringLiteral("in"));
    root.mkdir(QStringLiteral("out"));
    scene->in = QDir(root.filePath(QStringLiteral("in")));
    scene->out = QDir(root.filePath(QStringLiteral("out")));
    scene->loggerPath = scene->in.filePath(QStringLiteral("Tessamon.log"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    EmptyDirectory(scene->out);
    {
        QFile f(scene->loggerPath);
        FUZZ_CHECK(
            f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size(),
            "cannot write the logger file");
    }

    const ExportTargets targets = LoggerExportFileNames(scene->loggerPath);
    FUZZ_CHECK(targets.status.ok() && !targets.fileNames.isEmpty(), "no output named");
    const std::uint8_t last = size > 0 ? data[size - 1] : 0;
    const bool existing = (last & 1) != 0;
    const bool overwrite = (last & 2) != 0;
    if (existing) {
        QFile f(scene->out.filePath(targets.fileNames.first()));
        FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write("old\r\n") == 5, "cannot seed");
    }

    AnsweringOperator op(overwrite);
    qsizetype progressLines = 0;
    ExportOptions options;
    options.outputDirectory = scene->out;
    const Status status = ExportLoggerFile(
        scene->loggerPath, op, [&](const QString&) { ++progressLines; }, options);

    FUZZ_CHECK(status.ok(), "export of a readable file into a writable directory failed");
    FUZZ_CHECK(op.beeps == 1 && op.last == QString::fromUtf8("Fin d'extraction"), "no end message");
    FUZZ_CHECK(op.questions == (existing ? 1 : 0), "overwrite question asked wrongly");

    // Exactly the announced files, all inside the output directory.
    QStringList written = scene->out.entryList(QDir::Files | QDir::Hidden | QDir::System);
    QStringList announced = targets.fileNames;
    written.sort();
    announced.sort();
    FUZZ_CHECK(written == announced, "files other than the announced ones");
    FUZZ_CHECK(scene->in.entryList(QDir::Files | QDir::Hidden | QDir::System).size() == 1,
               "a file written beside the logger file");
    FUZZ_CHECK(
        QDir(scene->root.path())
                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                .size() == 2,
        "a file written outside the output directory");

    // Five header lines, then one line per dated record: none lost, none doubled.
    const qsizetype records = DatedRecords(bytes);
    FUZZ_CHECK(progressLines == records, "progress lines differ from dated records");
    for (int i = 0; i < targets.fileNames.size(); ++i) {
        const QByteArray text = ReadAll(scene->out.filePath(targets.fileNames[i]));
        const qsizetype kept = (i == 0 && existing && !overwrite) ? 1 : 0;
        FUZZ_CHECK(text.count("\r\n") == kept + 5 + records, "line count of an export file");
        FUZZ_CHECK(text.endsWith("\r\n"), "an export file ends inside a line");
    }
    return 0;
}
