#include "alarms/AlarmCommand.h"

#include <QProcess>
#include <QTimer>

namespace merival {
namespace {

// A flood of events may not fork without end.
constexpr qsizetype kMaxRunning = 4;
constexpr qsizetype kMaxWaiting = 100;

}  // namespace

QStringList AlarmCommandArguments(const QStringList& fixed, const AlarmEvent& event) {
    return fixed + QStringList{event.event, QString::number(event.channel), event.tag, event.text};
}

AlarmCommand::AlarmCommand(std::chrono::milliseconds timeLimit, QObject* parent)
    : QObject(parent), timeLimit_(timeLimit) {}

AlarmCommand::~AlarmCommand() {
    for (QProcess* process : running_) {
        process->disconnect(this);
        process->kill();
        process->waitForFinished(1000);
    }
}

void AlarmCommand::setCommand(const QString& program, const QString& arguments) {
    program_ = program.trimmed();
    arguments_ = QProcess::splitCommand(arguments);
}

void AlarmCommand::Run(const AlarmEvent& event) {
    if (program_.isEmpty()) {
        return;
    }
    const QStringList arguments = AlarmCommandArguments(arguments_, event);
    if (running_.size() < kMaxRunning) {
        Start(arguments);
    } else if (waiting_.size() < kMaxWaiting) {
        waiting_.enqueue(arguments);
    } else if (!reported_) {
        reported_ = true;
        Q_EMIT failed(
            QStringLiteral("Trop de commandes d'alarme en attente : des événements "
                           "sont passés sans commande."));
    }
}

void AlarmCommand::Start(const QStringList& arguments) {
    auto* process = new QProcess(this);
    process->setProgram(program_);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    running_.append(process);
    auto* limit = new QTimer(process);
    limit->setSingleShot(true);
    connect(limit, &QTimer::timeout, process, [process] {
        process->setProperty("merival_killed", true);
        process->kill();
    });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            Ended(process, QStringLiteral("ne démarre pas (%1)").arg(process->errorString()));
        }
    });
    connect(process, &QProcess::finished, this,
            [this, process](int code, QProcess::ExitStatus status) {
                QString failure;
                if (process->property("merival_killed").toBool()) {
                    failure = QStringLiteral("ne s'est pas terminée en %1 s : elle a été arrêtée")
                                  .arg(timeLimit_.count() / 1000.0);
                } else if (status == QProcess::CrashExit) {
                    failure = QStringLiteral("s'est arrêtée anormalement");
                } else if (code != 0) {
                    failure = QStringLiteral("a échoué (code %1)").arg(code);
                }
                Ended(process, failure);
            });
    limit->start(timeLimit_);
    process->start();
}

void AlarmCommand::Ended(QProcess* process, const QString& failure) {
    if (!running_.removeOne(process)) {
        return;
    }
    process->deleteLater();
    if (failure.isEmpty()) {
        reported_ = false;
    } else if (!reported_) {
        reported_ = true;
        Q_EMIT failed(QStringLiteral("La commande d'alarme « %1 » %2. La mesure continue.")
                          .arg(program_, failure));
    }
    if (!waiting_.isEmpty()) {
        Start(waiting_.dequeue());
    }
    Q_EMIT finished();
}

}  // namespace merival
