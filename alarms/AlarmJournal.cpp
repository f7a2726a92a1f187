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
    thread_.setObjectName(QStringLiteral("merival-journal"));
    worker_ = new JournalWorker(path.isEmpty() ? JournalPath() : path);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    connect(worker_, &JournalWorker::entriesRead, this, &AlarmJournal::entriesRead);
    connect(worker_, &JournalWorker::failed, this, &AlarmJournal::failed);
    thread_.start();
}

AlarmJournal::~AlarmJournal() {
    // Queued behind every request made so far, so that none is lost.
    QMetaObject::invokeMethod(
        worker_, [this] { thread_.quit(); }, Qt::QueuedConnection);
    thread_.wait();
}

void AlarmJournal::Append(const AlarmEvent& event) {
    QMetaObject::invokeMethod(
        worker_, [w = worker_, event] { w->Append(event); }, Qt::QueuedConnection);
    Q_EMIT appended(event);
}

void AlarmJournal::RequestEntries() {
    QMetaObject::invokeMethod(
        worker_, [w = worker_] { w->ReadEntries(); }, Qt::QueuedConnection);
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
