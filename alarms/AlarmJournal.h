#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "alarms/AlarmEngine.h"
#include "base/Mailbox.h"
#include "base/Status.h"

namespace merival {

// "historique.sqlite" of the working directory, shared with the history.
[[nodiscard]] QString JournalPath();

// The alarm journal: table journal_alarmes, written and read on a thread of its own so that
// the measurement never waits on the disk. Requests are carried out in the order given. One
// at a time per process: its connection has the one name "merival-journal".
class AlarmJournal : public QObject {
    Q_OBJECT
public:
    // The path defaults to JournalPath(); the file is opened on the worker thread.
    explicit AlarmJournal(const QString& path = {}, QObject* parent = nullptr);
    ~AlarmJournal() override;

    // Written in turn; `appended` tells it at once.
    void Append(const AlarmEvent& event);
    // Answered by entriesRead, with every event newest first.
    void RequestEntries();

Q_SIGNALS:
    // deliveries[i]: how entries[i] went out as a notification, empty when it did not.
    void entriesRead(const QList<merival::AlarmEvent>& entries, const QStringList& deliveries);
    // An event given to Append, for a view that shows the journal as it grows.
    void appended(const merival::AlarmEvent& event);
    // A French message, once until the journal works again.
    void failed(const QString& message);

private:
    void Run(const QString& path);
    void Give(std::optional<AlarmEvent> request);

    Mailbox mailbox_{this};  // results back on the owner's thread
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::optional<AlarmEvent>> requests_;  // an event to write, or nothing: read
    bool stopping_ = false;
    std::thread thread_;
};

// CSV like the history's: UTF-8 with BOM, CR LF, ";", local date JJ/MM/AAAA and time
// HH:MM:SS columns, in time order (the entries come newest first, as shown).
[[nodiscard]] QByteArray JournalCsv(const QList<AlarmEvent>& entries);

}  // namespace merival
