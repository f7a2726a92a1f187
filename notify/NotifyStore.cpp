#include "notify/NotifyStore.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include "history/Storage.h"

namespace merival {
namespace {

// The notifications' part of the schema, created beside the history and the journal.
const char* const kNotificationSchema[] = {
    "CREATE TABLE IF NOT EXISTS journal_notifications(id INTEGER PRIMARY KEY, "
    "voie_envoi TEXT NOT NULL, t_ms INTEGER NOT NULL, voie INTEGER NOT NULL, repere TEXT NOT "
    "NULL, texte TEXT NOT NULL, evenement TEXT NOT NULL, donnees TEXT NOT NULL, etat TEXT NOT "
    "NULL, essais INTEGER NOT NULL DEFAULT 0, cree_ms INTEGER NOT NULL, prochain_ms INTEGER NOT "
    "NULL, premier_echec_ms INTEGER NOT NULL DEFAULT 0, maj_ms INTEGER NOT NULL, reponse TEXT "
    "NOT NULL DEFAULT '')",
    "CREATE INDEX IF NOT EXISTS journal_notifications_etat ON journal_notifications(etat)",
    // The journal window finds each event's deliveries by its time.
    "CREATE INDEX IF NOT EXISTS journal_notifications_t ON journal_notifications(t_ms)",
};

Status Failed(const QString& path, const QString& why) {
    return Status::Error(
        QStringLiteral("L'état des notifications n'a pas pu être écrit dans « %1 » (%2) ; les "
                       "envois continuent.")
            .arg(QDir::toNativeSeparators(path), why));
}

}  // namespace

NotifyStore::NotifyStore(QString path, QString connection)
    : path_(std::move(path)), connection_(std::move(connection)) {}

NotifyStore::~NotifyStore() {
    if (open_) {
        CloseStorage(connection_);
    }
}

Status NotifyStore::Open() {
    if (open_) {
        return Status::Ok();
    }
    if (Status opened = OpenStorage(connection_, path_, StorageAccess::Write).status;
        !opened.ok()) {
        return opened;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    for (const char* sql : kNotificationSchema) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(sql))) {
            const QString why = query.lastError().text();
            CloseStorage(connection_);
            return Failed(path_, why);
        }
    }
    open_ = true;
    return Status::Ok();
}

Status NotifyStore::Waiting(QList<QueuedDelivery>* out) {
    if (Status opened = Open(); !opened.ok()) {
        return opened;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (!q.exec(QStringLiteral("SELECT id, voie_envoi, t_ms, voie, repere, texte, evenement, "
                               "donnees, essais, prochain_ms, premier_echec_ms FROM "
                               "journal_notifications WHERE etat IN ('%1', '%2') ORDER BY id")
                    .arg(delivery_state::kWaiting, delivery_state::kRetry))) {
        return Failed(path_, q.lastError().text());
    }
    while (q.next()) {
        QueuedDelivery d;
        d.way = q.value(1).toString();
        d.notification.id = q.value(0).toLongLong();
        d.notification.event = {QDateTime::fromMSecsSinceEpoch(q.value(2).toLongLong(), Qt::UTC),
                                q.value(3).toInt(), q.value(4).toString(), q.value(5).toString(),
                                q.value(6).toString()};
        d.notification.json = q.value(7).toByteArray();
        d.pending = {d.notification.id, q.value(9).toLongLong(), q.value(10).toLongLong(),
                     q.value(8).toInt()};
        out->append(d);
    }
    return Status::Ok();
}

Status NotifyStore::SentSince(const QString& way, qint64 sinceMs, QList<qint64>* out) {
    if (Status opened = Open(); !opened.ok()) {
        return opened;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(
        QStringLiteral("SELECT DISTINCT maj_ms FROM journal_notifications WHERE "
                       "voie_envoi = ? AND etat = ? AND maj_ms > ?"));
    q.addBindValue(way);
    q.addBindValue(delivery_state::kSent);
    q.addBindValue(sinceMs);
    if (!q.exec()) {
        return Failed(path_, q.lastError().text());
    }
    while (q.next()) {
        out->append(q.value(0).toLongLong());
    }
    return Status::Ok();
}

Status NotifyStore::Add(QueuedDelivery* d, qint64 nowMs) {
    if (Status opened = Open(); !opened.ok()) {
        return opened;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(
        QStringLiteral("INSERT INTO journal_notifications(voie_envoi, t_ms, voie, "
                       "repere, texte, evenement, donnees, etat, cree_ms, prochain_ms, "
                       "maj_ms) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const AlarmEvent& e = d->notification.event;
    for (const QVariant& value :
         {QVariant(d->way), QVariant(e.time.toMSecsSinceEpoch()), QVariant(e.channel),
          QVariant(e.tag), QVariant(e.text), QVariant(e.event),
          QVariant(QString::fromUtf8(d->notification.json)), QVariant(delivery_state::kWaiting),
          QVariant(nowMs), QVariant(d->pending.nextMs), QVariant(nowMs)}) {
        q.addBindValue(value);
    }
    if (!q.exec()) {
        return Failed(path_, q.lastError().text());
    }
    d->notification.id = d->pending.id = q.lastInsertId().toLongLong();
    return Status::Ok();
}

Status NotifyStore::Update(const QList<QueuedDelivery>& ds, const QString& state,
                           const QString& reply, qint64 nowMs) {
    if (Status opened = Open(); !opened.ok()) {
        return opened;
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    db.transaction();
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("UPDATE journal_notifications SET etat = ?, essais = ?, "
                       "prochain_ms = ?, premier_echec_ms = ?, maj_ms = ?, reponse = ? "
                       "WHERE id = ?"));
    for (const QueuedDelivery& d : ds) {
        if (d.pending.id <= 0) {
            continue;  // never stored
        }
        for (const QVariant& value :
             {QVariant(state), QVariant(d.pending.tries), QVariant(d.pending.nextMs),
              QVariant(d.pending.firstFailureMs), QVariant(nowMs), QVariant(reply),
              QVariant(d.pending.id)}) {
            q.addBindValue(value);
        }
        if (!q.exec()) {
            const QString why = q.lastError().text();
            db.rollback();
            return Failed(path_, why);
        }
    }
    if (!db.commit()) {
        const QString why = db.lastError().text();
        db.rollback();
        return Failed(path_, why);
    }
    return Status::Ok();
}

QString NotifyStore::Summary() {
    if (!Open().ok()) {
        return {};
    }
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT etat, count(*) FROM journal_notifications GROUP BY "
                               "etat"))) {
        return {};
    }
    int sent = 0, waiting = 0, givenUp = 0;
    while (q.next()) {
        const QString state = q.value(0).toString();
        const int n = q.value(1).toInt();
        (state == delivery_state::kSent      ? sent
         : state == delivery_state::kGivenUp ? givenUp
                                             : waiting) += n;
    }
    if (sent + waiting + givenUp == 0) {
        return {};
    }
    QString text = QStringLiteral("Notifications : envoyées %1, en attente %2, abandonnées %3.")
                       .arg(sent)
                       .arg(waiting)
                       .arg(givenUp);
    QSqlQuery last(db);
    if (last.exec(QStringLiteral("SELECT maj_ms, voie_envoi, etat, reponse FROM "
                                 "journal_notifications WHERE etat <> '%1' ORDER BY maj_ms DESC, "
                                 "id DESC LIMIT 1")
                      .arg(delivery_state::kWaiting)) &&
        last.next()) {
        text += QStringLiteral(" Dernier essai (%1, %2) à %3 : %4")
                    .arg(last.value(1).toString(), last.value(2).toString(),
                         QDateTime::fromMSecsSinceEpoch(last.value(0).toLongLong())
                             .toLocalTime()
                             .toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                         last.value(3).toString());
    }
    return text;
}

}  // namespace merival
