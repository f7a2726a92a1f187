#include "alarms/AlarmJournal.h"

#include <QDir>

#include "alarms/JournalWorker.h"
#include "history/Storage.h"

namespace merival {
namespace {

QString CsvField(QString text) {
    // A cell beginning so would be read as a formula (a spreadsheet drops a leading tab or CR
    // first): given as a formula holding the text.
    if (!text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front())) {
        text = QStringLiteral("=\"") + QString(text).replace(u'"', QStringLiteral("\"\"")) + u'"';
    }
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\r') &&
        !text.contains(u'\n')) {
        return text;
    }
    QString quoted = text;
    quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

}  // namespace

QString JournalPath() {
    return HistoryPath();
}

AlarmJournal::AlarmJournal(const QString& path, QObject* parent) : QObject(parent) {
    thread_ = std::thread([this, path = path.isEmpty() ? JournalPath() : path] { Run(path); });
}

AlarmJournal::~AlarmJournal() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;  // once every request made so far is carried out, none lost
    }
    wake_.notify_all();
    thread_.join();
}

void AlarmJournal::Append(const AlarmEvent& event) {
    Give(event);
    Q_EMIT appended(event);
}

void AlarmJournal::RequestEntries() {
    Give(std::nullopt);
}

void AlarmJournal::Give(std::optional<AlarmEvent> request) {
    {
        const std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    wake_.notify_all();
}

void AlarmJournal::Run(const QString& path) {
    JournalWorker worker(path);  // its connection belongs to this thread
    for (;;) {
        std::optional<AlarmEvent> request;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
            if (requests_.empty()) {
                return;
            }
            request = std::move(requests_.front());
            requests_.pop_front();
        }
        std::optional<JournalRead> read;
        if (request) {
            worker.Append(*request);
        } else {
            read = worker.ReadEntries();
        }
        if (std::optional<QString> message = worker.TakeFailure()) {
            mailbox_.Post([this, text = *message] { Q_EMIT failed(text); });
        }
        if (read) {
            mailbox_.Post([this, got = *read] { Q_EMIT entriesRead(got.entries, got.deliveries); });
        }
    }
}

QByteArray JournalCsv(const QList<AlarmEvent>& entries) {
    QString text = QStringLiteral("Date;Heure;Voie;Repère;Valeur affichée;Événement\r\n");
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const AlarmEvent& e = *it;
        const QDateTime local = e.time.toLocalTime();
        text += QStringList{local.toString(QStringLiteral("dd/MM/yyyy")),
                            local.toString(QStringLiteral("HH:mm:ss")),
                            e.channel >= 0 ? QString::number(e.channel) : QString(),
                            CsvField(e.tag),
                            CsvField(e.text),
                            CsvField(e.event)}
                    .join(u';') +
                QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

}  // namespace merival
