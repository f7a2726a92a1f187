#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <memory>

#include "base/Mailbox.h"
#include "measure/ChannelReading.h"

namespace merival {

// The [Historique] section of merival.ini.
struct HistorySettings {
    bool recording = true;
    int retentionDays = 400;
};
[[nodiscard]] HistorySettings LoadHistorySettings(const QSettings& ini);
void SaveHistorySettings(QSettings& ini, const HistorySettings& settings);

// Records every reading into the history file. The cycle's thread only appends to the pass
// in progress and, at the end of the pass, hands it to a writer thread through a bounded
// queue; the writer owns its own connection, writes one transaction per pass and applies the
// retention in small batches between passes. A file that is not ours, damaged or newer stops
// the recording (failed), never the measurement; a file that cannot be written for now is
// tried again with growing waits while the queue keeps the passes, and the passes the full
// queue had to drop are counted in the alarm journal once writing works again.
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    HistoryRecorder(QString path, int retentionDays, QObject* parent = nullptr);
    ~HistoryRecorder() override;

    // Starts the writer, which opens the file; nothing happens when it already runs.
    void Start();
    // Writes what is queued, then stops the writer.
    void Stop();
    [[nodiscard]] bool running() const;

    // In the cycle's thread: bounded work, no disk.
    void Add(const ChannelReading& reading);
    void EndPass();

    // Blocks until every queued pass is written or the writer stopped (tools and tests).
    void WaitWritten();
    // Passes dropped because the queue was full.
    [[nodiscard]] long long droppedPasses() const;

Q_SIGNALS:
    // The file was refused or is damaged: the writer has stopped. French text.
    void failed(const QString& message);
    // Writing fails for now and is tried again; once until it works again. French text.
    void troubled(const QString& message);

private:
    class Writer;
    QString path_;
    int retentionDays_;
    QList<ChannelReading> pass_;
    Mailbox mailbox_{this};  // the writer's news, back on this object's thread
    std::unique_ptr<Writer> writer_;
};

}  // namespace merival
