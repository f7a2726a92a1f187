#include "alarms/JournalWorker.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace merival {
namespace {

const QString kConnection = QStringLiteral("merival-journal");
constexpr qint64 kApplicationId = 0x4D455256;
constexpr qsizetype kMaxPending = 10000;
constexpr int kMaxShown = 100000;

QString Refusal(const QString& path, const QString& why) {
    return QStringLiteral("Le fichier « %1 » %2 : le journal des alarmes n'y est pas écrit.")
        .arg(QDir::toNativeSeparators(path), why);
}

// The first column of a one-row pragma, or an invalid value when it fails.
QVariant Pragma(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    if (!query.exec(statement) || !query.next()) {
        return {};
    }
    return query.value(0);
}

bool Exec(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    return query.exec(statement);
}

}  // namespace

JournalWorker::~JournalWorker() {
    if (QSqlDatabase::contains(kConnection)) {
        QSqlDatabase::database(kConnection, false).close();
        QSqlDatabase::removeDatabase(kConnection);
    }
}

Status JournalWorker::Open() {
    QSqlDatabase db = QSqlDatabase::contains(kConnection)
                          ? QSqlDatabase::database(kConnection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(path_);
    if (!db.open()) {
        return Status::Error(
            Refusal(path_, QStringLiteral("ne s'ouvre pas (%1)").arg(db.lastError().text())));
    }
    Exec(db, QStringLiteral("PRAGMA busy_timeout=2000"));
    // Checked before anything is written: a foreign or damaged file stays as it is.
    const QVariant id = Pragma(db, QStringLiteral("PRAGMA application_id"));
    Status refused;
    if (!id.isValid()) {
        refused = Status::Error(Refusal(path_, QStringLiteral("n'est pas une base SQLite")));
    } else if (Pragma(db, QStringLiteral("PRAGMA quick_check")).toString() != u"ok") {
        refused = Status::Error(Refusal(path_, QStringLiteral("est endommagé")));
    } else if (id.toLongLong() != 0 && id.toLongLong() != kApplicationId) {
        refused = Status::Error(Refusal(path_, QStringLiteral("appartient à un autre programme")));
    }
    if (!refused.ok()) {
        db.close();
        return refused;
    }
    const bool ready =
        Exec(db, QStringLiteral("PRAGMA journal_mode=WAL")) &&
        Exec(db, QStringLiteral("PRAGMA synchronous=NORMAL")) &&
        (id.toLongLong() != 0 ||
         Exec(db, QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId))) &&
        Exec(db, QStringLiteral("CREATE TABLE IF NOT EXISTS journal_alarmes(id INTEGER PRIMARY "
                                "KEY, t_ms INTEGER NOT NULL, voie INTEGER NOT NULL, repere TEXT "
                                "NOT NULL, texte TEXT NOT NULL, evenement TEXT NOT NULL)")) &&
        Exec(db, QStringLiteral("CREATE INDEX IF NOT EXISTS journal_alarmes_t ON "
                                "journal_alarmes(t_ms)"));
    if (!ready) {
        const QString why = db.lastError().text();
        db.close();
        return Status::Error(
            Refusal(path_, QStringLiteral("ne peut pas être préparé (%1)").arg(why)));
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
    if (!db.transaction()) {
        return failure(db.lastError().text());
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
            const QString why = insert.lastError().text();
            db.rollback();
            return failure(why);
        }
    }
    if (!db.commit()) {
        const QString why = db.lastError().text();
        db.rollback();
        return failure(why);
    }
    pending_.clear();
    return Status::Ok();
}

void JournalWorker::Report(const Status& status) {
    if (status.ok()) {
        reported_ = false;
    } else if (!reported_) {
        reported_ = true;
        Q_EMIT failed(status.message);
    }
}

void JournalWorker::Append(const AlarmEvent& event) {
    if (pending_.size() >= kMaxPending) {
        pending_.removeFirst();
    }
    pending_.append(event);
    Report(WritePending());
}

void JournalWorker::ReadEntries() {
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
            status =
                Status::Error(QStringLiteral("Le journal des alarmes n'a pas pu être lu "
                                             "dans « %1 » (%2).")
                                  .arg(QDir::toNativeSeparators(path_), query.lastError().text()));
        }
    }
    Report(status);
    // Events not yet written are shown all the same.
    for (const AlarmEvent& e : pending_) {
        entries.prepend(e);
    }
    Q_EMIT entriesRead(entries);
}

}  // namespace merival
