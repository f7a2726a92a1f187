#include "history/HistoryDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace merival {
namespace {

const char* const kSchemaV1[] = {
    // Tag, type and the names and units of the numbers repeat in almost every reading: a
    // reading keeps the small id of its "forme".
    "CREATE TABLE IF NOT EXISTS hist_formes(id INTEGER PRIMARY KEY, repere TEXT NOT NULL, "
    "type TEXT NOT NULL, nom1 TEXT NOT NULL, unite1 TEXT NOT NULL, nom2 TEXT NOT NULL, "
    "unite2 TEXT NOT NULL, nom3 TEXT NOT NULL, unite3 TEXT NOT NULL, "
    "UNIQUE(repere, type, nom1, unite1, nom2, unite2, nom3, unite3))",
    // Clustered by channel and time: a curve reads one contiguous range.
    "CREATE TABLE IF NOT EXISTS hist_mesures(voie INTEGER NOT NULL, t_ms INTEGER NOT NULL, "
    "forme INTEGER NOT NULL, ok INTEGER NOT NULL, texte TEXT NOT NULL, v1 REAL, v2 REAL, "
    "v3 REAL, temperature REAL, PRIMARY KEY(voie, t_ms)) WITHOUT ROWID",
    // Minimum and maximum per channel, block of time (a minute, ten minutes) and forme, kept
    // in the same transaction as the readings: long periods are drawn from here.
    "CREATE TABLE IF NOT EXISTS hist_minutes(voie INTEGER NOT NULL, bloc INTEGER NOT NULL, "
    "forme INTEGER NOT NULL, n_ok INTEGER NOT NULL, n_hs INTEGER NOT NULL, min1 REAL, "
    "max1 REAL, min2 REAL, max2 REAL, min3 REAL, max3 REAL, min_t REAL, max_t REAL, "
    "PRIMARY KEY(voie, bloc, forme)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS hist_10minutes(voie INTEGER NOT NULL, bloc INTEGER NOT NULL, "
    "forme INTEGER NOT NULL, n_ok INTEGER NOT NULL, n_hs INTEGER NOT NULL, min1 REAL, "
    "max1 REAL, min2 REAL, max2 REAL, min3 REAL, max3 REAL, min_t REAL, max_t REAL, "
    "PRIMARY KEY(voie, bloc, forme)) WITHOUT ROWID",
};

QString Native(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

Status Refuse(QSqlDatabase& db, const QString& connection, const QString& text) {
    db = QSqlDatabase();
    CloseHistory(connection);
    return Status::Error(text);
}

// One value of a pragma or query; an error gives the SQLite text in `error`.
QVariant Scalar(QSqlDatabase& db, const QString& sql, QString* error) {
    QSqlQuery query(db);
    if (!query.exec(sql)) {
        *error = query.lastError().databaseText();
        return {};
    }
    return query.next() ? query.value(0) : QVariant();
}

bool Exec(QSqlDatabase& db, const QString& sql) {
    QSqlQuery query(db);
    return query.exec(sql);
}

// Tables other than ours and the journal's make a file with no id someone else's.
bool OnlyOurTables(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
        return false;
    }
    while (query.next()) {
        const QString name = query.value(0).toString();
        if (!name.startsWith(QStringLiteral("hist_")) &&
            !name.startsWith(QStringLiteral("journal_"))) {
            return false;
        }
    }
    return true;
}

bool CreateSchema(QSqlDatabase& db, int from) {
    if (!db.transaction()) {
        return false;
    }
    bool ok = Exec(db, QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId));
    if (from < 1) {
        for (const char* sql : kSchemaV1) {
            ok = ok && Exec(db, QString::fromLatin1(sql));
        }
    }
    ok = ok && Exec(db, QStringLiteral("PRAGMA user_version = %1").arg(kHistorySchema));
    if (!ok) {
        db.rollback();
        return false;
    }
    return db.commit();
}

Status CheckAndPrepare(QSqlDatabase& db, const QString& name, bool write);

}  // namespace

QString HistoryPath() {
    return QDir::current().filePath(QStringLiteral("historique.sqlite"));
}

void CloseHistory(const QString& connection) {
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
    }
    QSqlDatabase::removeDatabase(connection);
}

Status OpenHistory(const QString& connection, const QString& path, bool write,
                   const std::function<void(void* handle)>& checking) {
    const QString name = Native(path);
    const QFileInfo info(path);
    if (!write && !info.exists()) {
        return Status::Error(QStringLiteral("Le fichier « %1 » est introuvable.").arg(name));
    }
    if (info.exists() && !info.isFile()) {
        return Status::Error(QStringLiteral("« %1 » n'est pas un fichier.").arg(name));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(path);
    if (!db.open()) {
        return Refuse(db, connection,
                      QStringLiteral("Le fichier « %1 » n'a pas pu être ouvert : %2")
                          .arg(name, db.lastError().databaseText()));
    }
    Exec(db, QStringLiteral("PRAGMA busy_timeout = 2000"));
    if (checking) {
        const QVariant handle = db.driver()->handle();
        checking(qstrcmp(handle.typeName(), "sqlite3*") == 0
                     ? *static_cast<void* const*>(handle.data())
                     : nullptr);
    }
    const Status status = CheckAndPrepare(db, name, write);
    if (checking) {
        checking(nullptr);
    }
    return status.ok() ? status : Refuse(db, connection, status.message);
}

namespace {

Status CheckAndPrepare(QSqlDatabase& db, const QString& name, bool write) {
    QString error;
    // A whole check reads the file through: done before writing, skipped by readers, which
    // stop at the first damaged page anyway.
    const QString check = write ? QStringLiteral("PRAGMA quick_check")
                                : QStringLiteral("SELECT count(*) FROM sqlite_master");
    const QVariant checked = Scalar(db, check, &error);
    if (!error.isEmpty() || (write && checked.toString() != QStringLiteral("ok"))) {
        return Status::Error(
            QStringLiteral("Le fichier « %1 » est endommagé ou n'est pas une base de "
                           "données SQLite (%2).")
                .arg(name, error.isEmpty() ? checked.toString() : error));
    }
    const int id = Scalar(db, QStringLiteral("PRAGMA application_id"), &error).toInt();
    if (id != kApplicationId && (id != 0 || !OnlyOurTables(db))) {
        return Status::Error(
            QStringLiteral("Le fichier « %1 » appartient à un autre programme.").arg(name));
    }
    const int version = Scalar(db, QStringLiteral("PRAGMA user_version"), &error).toInt();
    if (version > kHistorySchema) {
        return Status::Error(
            QStringLiteral("Le fichier « %1 » a été écrit par une version plus récente "
                           "de MERIVAL (schéma %2).")
                .arg(name)
                .arg(version));
    }
    if (!write) {
        if (version < 1) {
            return Status::Error(
                QStringLiteral("Le fichier « %1 » ne contient aucun historique.").arg(name));
        }
        return Status::Ok();
    }
    const bool ready = Scalar(db, QStringLiteral("PRAGMA journal_mode = WAL"), &error)
                               .toString()
                               .compare(QStringLiteral("wal"), Qt::CaseInsensitive) == 0 &&
                       Exec(db, QStringLiteral("PRAGMA synchronous = NORMAL"));
    if (!ready || ((version < kHistorySchema || id == 0) && !CreateSchema(db, version))) {
        return Status::Error(QStringLiteral("Le fichier « %1 » n'a pas pu être préparé : %2")
                                 .arg(name, db.lastError().databaseText()));
    }
    return Status::Ok();
}

}  // namespace
}  // namespace merival
