#include "SimProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace merival::test {

bool ParseSimRecord(const QByteArray& line, SimRecord* record) {
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 7) {
        return false;
    }
    bool ok = false;
    record->time = fields[0].toDouble(&ok);
    if (!ok) {
        return false;
    }
    auto value = [&fields](int i, const char* key) -> QByteArray {
        const QByteArray prefix = QByteArray(key) + '=';
        return fields[i].startsWith(prefix) ? fields[i].mid(prefix.size()) : QByteArray();
    };
    const QByteArray address = value(1, "addr");
    const QByteArray block = value(2, "block");
    record->address = address == "-" ? -1 : address.toInt();
    record->block = block == "-" ? -1 : block.toInt();
    record->answer = QString::fromLatin1(value(3, "answer"));
    record->bytes = value(4, "bytes").toInt();
    const QByteArray reply = value(5, "reply");
    record->reply = reply == "-" ? QByteArray() : QByteArray::fromHex(reply);
    record->request = QByteArray::fromHex(value(6, "request"));
    return !record->answer.isEmpty();
}

bool PumpUntil(const std::function<bool()>& done, int guardMs) {
    bool expired = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &guard, [&expired] { expired = true; });
    guard.start(guardMs);
    while (!done() && !expired) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return done();
}

SimProcess::SimProcess(QString program, QString directory)
    : program_(std::move(program)), directory_(std::move(directory)) {
    process_.setProgram(program_);
    process_.setWorkingDirectory(directory_);
    process_.setReadChannel(QProcess::StandardOutput);
}

SimProcess::~SimProcess() {
    if (running()) {
        Terminate();
    }
    if (running()) {
        Kill();
    }
}

bool SimProcess::Start(const QStringList& arguments) {
    QString link = QStringLiteral("COM1");
    const qsizetype at = arguments.indexOf(QStringLiteral("--link"));
    if (at >= 0 && at + 1 < arguments.size()) {
        link = arguments[at + 1];
    }
    linkPath_ = QDir(directory_).filePath(link);
    records_.clear();
    partial_.clear();
    process_.setArguments(arguments);
    process_.start();
    if (!process_.waitForStarted(5000)) {
        return false;
    }
    // The link is renamed into place once the terminal is ready; a dangling link left by a
    // killed simulator does not count.
    return PumpUntil([this] {
               const QFileInfo info(linkPath_);
               return (info.isSymLink() && info.exists()) || !running();
           }) &&
           running();
}

void SimProcess::Kill() {
    process_.kill();
    process_.waitForFinished(5000);
}

bool SimProcess::Terminate() {
    process_.terminate();
    return process_.waitForFinished(5000);
}

void SimProcess::Collect() {
    partial_.append(process_.readAllStandardOutput());
    qsizetype end = 0;
    while ((end = partial_.indexOf('\n')) >= 0) {
        SimRecord record;
        if (ParseSimRecord(partial_.left(end), &record)) {
            records_.push_back(record);
        }
        partial_.remove(0, end + 1);
    }
}

const std::vector<SimRecord>& SimProcess::records() {
    Collect();
    return records_;
}

bool SimProcess::WaitForRecords(size_t n) {
    return PumpUntil([this, n] { return records().size() >= n; });
}

QByteArray SimProcess::errorOutput() {
    return process_.readAllStandardError();
}

}  // namespace merival::test
