#pragma once

#include <QObject>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <chrono>

#include "alarms/AlarmEngine.h"

class QProcess;

namespace merival {

// The program run for each alarm event, started directly (never by a shell) with the fixed
// arguments, then the event, channel, tag and value text as four more arguments. A run that
// hangs is killed; a failure is reported once, until a run succeeds again.
class AlarmCommand : public QObject {
    Q_OBJECT
public:
    explicit AlarmCommand(std::chrono::milliseconds timeLimit = std::chrono::seconds(30),
                          QObject* parent = nullptr);
    ~AlarmCommand() override;

    // An empty program runs nothing. The arguments are split like a command line.
    void setCommand(const QString& program, const QString& arguments);
    void Run(const AlarmEvent& event);

    [[nodiscard]] int running() const { return static_cast<int>(running_.size()); }

Q_SIGNALS:
    void failed(const QString& message);
    // Every run that ended, for those who wait on them.
    void finished();

private:
    void Start(const QStringList& arguments);
    void Ended(QProcess* process, const QString& failure);

    std::chrono::milliseconds timeLimit_;
    QString program_;
    QStringList arguments_;
    QList<QProcess*> running_;
    QQueue<QStringList> waiting_;  // runs beyond the few allowed at once, bounded
    bool reported_ = false;
};

// The command's arguments for one event.
[[nodiscard]] QStringList AlarmCommandArguments(const QStringList& fixed, const AlarmEvent& event);

}  // namespace merival
