#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "alarms/AlarmEngine.h"
#include "base/Status.h"

namespace merival {

// Lives on the journal's thread and owns its connection "merival-journal".
class JournalWorker : public QObject {
    Q_OBJECT
public:
    explicit JournalWorker(QString path) : path_(std::move(path)) {}
    ~JournalWorker() override;

    void Append(const merival::AlarmEvent& event);
    void ReadEntries();

Q_SIGNALS:
    // deliveries[i]: how entries[i] went out as a notification, empty when it did not.
    void entriesRead(const QList<merival::AlarmEvent>& entries, const QStringList& deliveries);
    void failed(const QString& message);

private:
    [[nodiscard]] Status Open();
    [[nodiscard]] Status WritePending();
    void Report(const Status& status);

    QString path_;
    bool open_ = false;
    bool reported_ = false;
    QList<AlarmEvent> pending_;  // kept while the file cannot take them, bounded
};

}  // namespace merival
