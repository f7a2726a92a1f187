#include "alarms/JournalWorker.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "history/Storage.h"

namespace merival {
namespace {

const QString kConnection = QStringLiteral("merival-journal");
constexpr qsizetype kMaxPending = 10000;
constexpr int kMaxShown = 100000;

}  // namespace

JournalWorker::~JournalWorker() {
    CloseStorage(kConnection);
}

Status JournalWorker::Open() {
    // The file is shared with the history: one owner checks, creates and migrates it.
    const StorageOpened opened = OpenStorage(kConnection, path_, StorageAccess::Write);
    if (!opened.status.ok()) {
        return Status::Error(opened.status.message +
                             QStringLiteral(" Le journal des alarmes n'y est pas écrit."));
    }
    open_ = true;
    return Status::Ok();
}

Status JournalWorker::WritePending() {
    if (!open_) {
        if (Status opened = Open(); !opened.ok()) {
            return opened;
        }
    }
    QSqlDatabase db = QSqlDatabase::database(kConnection, false);
    const auto failure = [this](const QString& why) {
        return Status::Error(QStringLiteral("Le journal des alarmes n'a pas pu être écrit dans "
                                            "« %1 » (%2) : nouvel essai au prochain événement.")
                                 .arg(QDir::toNativeSeparators(path_), why));
    };
    const auto why = [] { return StorageErrorText(StorageHandle(kConnection)); };
    if (!db.transaction()) {
        return failure(why());
    }
    QSqlQuery insert(db);
    insert.prepare(
        QStringLiteral("INSERT INTO journal_alarmes(t_ms, voie, repere, texte, "
                       "evenement) VALUES(?, ?, ?, ?, ?)"));
    for (const AlarmEvent& e : pending_) {
        insert.addBindValue(e.time.toMSecsSinceEpoch());
        insert.addBindValue(e.channel);
        insert.addBindValue(e.tag);
        insert.addBindValue(e.text);
        insert.addBindValue(e.event);
        if (!insert.exec()) {
            const QString text = why();
            db.rollback();
            return failure(text);
        }
    }
    if (!db.commit()) {
        const QString text = why();
        db.rollback();
        return failure(text);
    }
    pending_.clear();
    return Status::Ok();
}

void JournalWorker::Report(const Status& status) {
    if (status.ok()) {
        reported_ = false;
    } else if (!reported_) {
        reported_ = true;
        failure_ = status.message;
    }
}

void JournalWorker::Append(const AlarmEvent& event) {
    if (pending_.size() >= kMaxPending) {
        pending_.removeFirst();
    }
    pending_.append(event);
    Report(WritePending());
}

QList<AlarmEvent> JournalWorker::ReadEntries() {
    QList<AlarmEvent> entries;
    Status status = pending_.isEmpty() && open_ ? Status::Ok() : WritePending();
    if (status.ok()) {
        QSqlQuery query(QSqlDatabase::database(kConnection, false));
        if (query.exec(QStringLiteral("SELECT t_ms, voie, repere, texte, evenement FROM "
                                      "journal_alarmes ORDER BY t_ms DESC, id DESC LIMIT %1")
                           .arg(kMaxShown))) {
            while (query.next()) {
                entries.append(
                    {QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC),
                     query.value(1).toInt(), query.value(2).toString(), query.value(3).toString(),
                     query.value(4).toString()});
            }
        } else {
            status = Status::Error(QStringLiteral("Le journal des alarmes n'a pas pu être lu "
                                                  "dans « %1 » (%2).")
                                       .arg(QDir::toNativeSeparators(path_),
                                            StorageErrorText(StorageHandle(kConnection))));
        }
    }
    Report(status);
    // Events not yet written are shown all the same.
    for (const AlarmEvent& e : pending_) {
        entries.prepend(e);
    }
    return entries;
}

}  // namespace merival
