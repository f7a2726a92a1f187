#include "alarms/JournalWorker.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include "history/Storage.h"

namespace merival {
namespace {

const QString kConnection = QStringLiteral("merival-journal");
constexpr qsizetype kMaxPending = 10000;
constexpr int kMaxShown = 100000;

// The notifications keep each event's delivery in a table of their own, made on their first
// use: the journal shows it when it is there.
QString DeliveryColumn(const QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = "
                                   "'journal_notifications'")) ||
        !query.next()) {
        return QStringLiteral("''");
    }
    return QStringLiteral(
        "(SELECT group_concat(n.voie_envoi || ' : ' || n.etat || CASE WHEN n.reponse = '' THEN "
        "'' ELSE ' (' || replace(replace(n.reponse, char(13), ''), char(10), ' ') || ')' END, "
        "' ; ') FROM journal_notifications n WHERE n.t_ms = a.t_ms AND n.voie = a.voie AND "
        "n.evenement = a.evenement)");
}

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

JournalRead JournalWorker::ReadEntries() {
    QList<AlarmEvent> entries;
    QStringList deliveries;
    Status status = pending_.isEmpty() && open_ ? Status::Ok() : WritePending();
    if (status.ok()) {
        const QSqlDatabase db = QSqlDatabase::database(kConnection, false);
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("SELECT a.t_ms, a.voie, a.repere, a.texte, a.evenement, %1 "
                                      "FROM journal_alarmes a ORDER BY a.t_ms DESC, a.id DESC "
                                      "LIMIT %2")
                           .arg(DeliveryColumn(db))
                           .arg(kMaxShown))) {
            while (query.next()) {
                entries.append(
                    {QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC),
                     query.value(1).toInt(), query.value(2).toString(), query.value(3).toString(),
                     query.value(4).toString()});
                deliveries.append(query.value(5).toString());
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
        deliveries.prepend(QString());
    }
    return {entries, deliveries};
}

}  // namespace merival
