#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "alarms/AlarmEngine.h"
#include "base/Status.h"

namespace merival {

struct JournalRead {
    QList<AlarmEvent> entries;
    QStringList deliveries;  // deliveries[i]: how entries[i] went out as a notification
};

// Lives on the journal's thread and owns its connection "merival-journal".
class JournalWorker {
public:
    explicit JournalWorker(QString path) : path_(std::move(path)) {}
    ~JournalWorker();
    JournalWorker(const JournalWorker&) = delete;
    JournalWorker& operator=(const JournalWorker&) = delete;

    void Append(const AlarmEvent& event);
    // Every event newest first, those not yet written included.
    [[nodiscard]] JournalRead ReadEntries();
    // A French message, once until the journal works again.
    [[nodiscard]] std::optional<QString> TakeFailure() { return std::exchange(failure_, {}); }

private:
    [[nodiscard]] Status Open();
    [[nodiscard]] Status WritePending();
    void Report(const Status& status);

    QString path_;
    bool open_ = false;
    bool reported_ = false;
    QList<AlarmEvent> pending_;  // kept while the file cannot take them, bounded
    std::optional<QString> failure_;
};

}  // namespace merival
