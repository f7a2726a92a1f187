#include "history/HistoryCapability.h"

#include "history/Storage.h"

namespace merival {

HistoryCapability::HistoryCapability(QString databasePath, QObject* parent)
    : QObject(parent),
      databasePath_(databasePath.isEmpty() ? HistoryPath() : std::move(databasePath)) {}

HistoryCapability::~HistoryCapability() {
    stop();
}

void HistoryCapability::readSettings(const QSettings& ini) {
    settings_ = LoadHistorySettings(ini);
}

void HistoryCapability::start() {
    setRecording(settings_.recording);
}

void HistoryCapability::stop() {
    setRecording(false);
}

void HistoryCapability::setRecording(bool on) {
    if (on == recording()) {
        return;
    }
    std::unique_ptr<HistoryRecorder> recorder;
    if (on) {
        recorder = std::make_unique<HistoryRecorder>(databasePath_, settings_.retentionDays);
        connect(recorder.get(), &HistoryRecorder::failed, this, [this](const QString& message) {
            setRecording(false);
            Q_EMIT failed(message);
        });
        connect(recorder.get(), &HistoryRecorder::troubled, this, &HistoryCapability::troubled);
        recorder->Start();
    }
    {
        const QMutexLocker lock(&mutex_);
        std::swap(recorder, recorder_);
    }
    // The old recorder writes what it has queued, outside the lock: the engine goes on.
    recorder.reset();
}

bool HistoryCapability::recording() const {
    const QMutexLocker lock(&mutex_);
    return recorder_ != nullptr;
}

void HistoryCapability::takeReading(const ChannelReading& reading) {
    const QMutexLocker lock(&mutex_);
    if (recorder_) {
        recorder_->Add(reading);
    }
}

void HistoryCapability::passFinished(const PassEnd&) {
    const QMutexLocker lock(&mutex_);
    if (recorder_) {
        recorder_->EndPass();
    }
}

}  // namespace merival
