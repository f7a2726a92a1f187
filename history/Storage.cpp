#include "history/Storage.h"

#include <sqlite3.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <QVariant>

#include "history/HistoryBlocks.h"

namespace merival {
namespace {

// A file this small is checked page by page before it is written (well under a second).
constexpr qint64 kCheckedWholeBytes = 32LL * 1024 * 1024;

const char* const kOurTables[] = {"hist_formes",           "hist_modeles",   "hist_blocs",
                                  "hist_minutes",          "hist_10minutes", "journal_alarmes",
                                  "journal_notifications", "hist_mesures" /* before the blocks */};

const char* const kSchema =
    // Tag, type and the names and units of the numbers repeat in almost every reading: a
    // reading keeps the small id of its "forme", and of its text's model.
    "CREATE TABLE IF NOT EXISTS hist_formes(id INTEGER PRIMARY KEY, repere TEXT NOT NULL, "
    "type TEXT NOT NULL, nom1 TEXT NOT NULL, unite1 TEXT NOT NULL, nom2 TEXT NOT NULL, "
    "unite2 TEXT NOT NULL, nom3 TEXT NOT NULL, unite3 TEXT NOT NULL, "
    "UNIQUE(repere, type, nom1, unite1, nom2, unite2, nom3, unite3));"
    "CREATE TABLE IF NOT EXISTS hist_modeles(id INTEGER PRIMARY KEY, texte TEXT NOT NULL "
    "UNIQUE);"
    // One row per channel and 30 s: a curve or an export reads one contiguous range.
    "CREATE TABLE IF NOT EXISTS hist_blocs(voie INTEGER NOT NULL, bloc INTEGER NOT NULL, "
    "donnees BLOB NOT NULL, PRIMARY KEY(voie, bloc)) WITHOUT ROWID;"
    // Minimum and maximum per channel, block of time (a minute, ten minutes) and forme, kept
    // in the same transaction as the readings: long periods are drawn from here.
    "CREATE TABLE IF NOT EXISTS hist_minutes(voie INTEGER NOT NULL, bloc INTEGER NOT NULL, "
    "forme INTEGER NOT NULL, n_ok INTEGER NOT NULL, n_hs INTEGER NOT NULL, min1 REAL, "
    "max1 REAL, min2 REAL, max2 REAL, min3 REAL, max3 REAL, min_t REAL, max_t REAL, "
    "PRIMARY KEY(voie, bloc, forme)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS hist_10minutes(voie INTEGER NOT NULL, bloc INTEGER NOT NULL, "
    "forme INTEGER NOT NULL, n_ok INTEGER NOT NULL, n_hs INTEGER NOT NULL, min1 REAL, "
    "max1 REAL, min2 REAL, max2 REAL, min3 REAL, max3 REAL, min_t REAL, max_t REAL, "
    "PRIMARY KEY(voie, bloc, forme)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS journal_alarmes(id INTEGER PRIMARY KEY, t_ms INTEGER NOT NULL, "
    "voie INTEGER NOT NULL, repere TEXT NOT NULL, texte TEXT NOT NULL, evenement TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS journal_alarmes_t ON journal_alarmes(t_ms);";

QString Native(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// One integer of a pragma or query; false with the error left on `db`.
bool Integer(sqlite3* db, const char* sql, qint64* value) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) {
        return false;
    }
    const int rc = sqlite3_step(s);
    *value = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
    sqlite3_finalize(s);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

// The tables of the file; false with the error left on `db`.
bool Tables(sqlite3* db, QStringList* tables) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &s,
                           nullptr) != SQLITE_OK) {
        return false;
    }
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        *tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

bool Ours(const QString& table) {
    if (table.startsWith(QStringLiteral("sqlite_"))) {
        return true;  // SQLite's own (statistics, sequences)
    }
    for (const char* name : kOurTables) {
        if (table == QLatin1String(name)) {
            return true;
        }
    }
    return false;
}

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Creates or brings the layout up to date in one transaction; the version is read again once
// the file is locked, in case another connection did it meanwhile. SQLITE_OK or the error.
int Prepare(sqlite3* db) {
    if (!Exec(db, "BEGIN IMMEDIATE")) {
        return sqlite3_extended_errcode(db);
    }
    qint64 version = 0;
    qint64 readings = 0;
    bool ok = Integer(db, "PRAGMA user_version", &version) &&
              Integer(db,
                      "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                      "name = 'hist_mesures'",
                      &readings);
    if (ok && version < kStorageSchema) {
        ok = Exec(db, kSchema) && (readings == 0 || MigrateReadingRows(db)) &&
             Exec(db, QStringLiteral("PRAGMA application_id = %1; PRAGMA user_version = %2")
                          .arg(kApplicationId)
                          .arg(kStorageSchema)
                          .toUtf8()
                          .constData());
    }
    if (!ok) {
        const int code = sqlite3_extended_errcode(db);
        Exec(db, "ROLLBACK");
        return code;
    }
    return Exec(db, "COMMIT") ? SQLITE_OK : sqlite3_extended_errcode(db);
}

struct Checked {
    QString problem;  // empty: fine
    bool refused = false;
};

Checked Check(sqlite3* db, const QString& name, StorageAccess access, qint64 size) {
    const auto failed = [&](const QString& what, int code) {
        const bool refused = (code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB;
        return Checked{QStringLiteral("%1 « %2 » : %3.").arg(what, name, StorageErrorText(code)),
                       refused};
    };
    qint64 id = 0;
    qint64 version = 0;
    QStringList tables;
    // Read in one transaction: another connection creating the layout meanwhile would
    // otherwise show an empty identity beside its new tables, taken for a foreign file.
    const bool read = Exec(db, "BEGIN") && Integer(db, "PRAGMA application_id", &id) &&
                      Integer(db, "PRAGMA user_version", &version) && Tables(db, &tables);
    const int code = sqlite3_extended_errcode(db);
    Exec(db, "ROLLBACK");
    if (!read) {
        return failed(QStringLiteral("Lecture impossible de"), code);
    }
    bool allOurs = true;
    for (const QString& table : tables) {
        allOurs = allOurs && Ours(table);
    }
    if ((id != kApplicationId && !(id == 0 && tables.isEmpty())) || !allOurs) {
        return {QStringLiteral("Le fichier « %1 » appartient à un autre programme.").arg(name),
                true};
    }
    if (version > kStorageSchema) {
        return {QStringLiteral("Le fichier « %1 » a été écrit par une version plus récente "
                               "de MERIVAL (schéma %2).")
                    .arg(name)
                    .arg(version),
                true};
    }
    if (access == StorageAccess::Read) {
        if (version < 1) {
            return {QStringLiteral("Le fichier « %1 » ne contient aucun historique.").arg(name)};
        }
        if (version < kStorageSchema) {
            return {QStringLiteral("Le fichier « %1 » est d'une version précédente : il sera "
                                   "converti au prochain démarrage de l'enregistrement.")
                        .arg(name)};
        }
        return {};
    }
    if (size <= kCheckedWholeBytes) {
        sqlite3_stmt* s = nullptr;
        const bool ran =
            sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW;
        const bool whole =
            ran && qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok") == 0;
        sqlite3_finalize(s);
        if (!whole) {
            return {QStringLiteral("Le fichier « %1 » est endommagé.").arg(name), true};
        }
    }
    if (!Exec(db, "PRAGMA journal_mode = WAL") || !Exec(db, "PRAGMA synchronous = NORMAL")) {
        return failed(QStringLiteral("Préparation impossible de"), sqlite3_extended_errcode(db));
    }
    if (const int code = version < kStorageSchema ? Prepare(db) : SQLITE_OK; code != SQLITE_OK) {
        return failed(QStringLiteral("Préparation impossible de"), code);
    }
    return {};
}

}  // namespace

QString HistoryPath() {
    return QDir::current().filePath(QStringLiteral("historique.sqlite"));
}

QString StorageErrorText(int code) {
    switch (code & 0xFF) {
        case SQLITE_CORRUPT:
            return QStringLiteral("le fichier est endommagé");
        case SQLITE_NOTADB:
            return QStringLiteral("ce n'est pas un fichier d'historique MERIVAL");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QStringLiteral("le fichier est occupé par un autre programme");
        case SQLITE_FULL:
            return QStringLiteral("le disque est plein");
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return QStringLiteral("l'écriture dans le fichier n'est pas permise");
        case SQLITE_CANTOPEN:
            return QStringLiteral("le fichier ne peut pas être ouvert");
        case SQLITE_IOERR:
            return QStringLiteral("erreur de lecture ou d'écriture sur le disque");
        case SQLITE_NOMEM:
            return QStringLiteral("mémoire insuffisante");
        case SQLITE_INTERRUPT:
            return QStringLiteral("opération interrompue");
        default:
            return QStringLiteral("erreur de la base de données (code %1)").arg(code);
    }
}

QString StorageErrorText(sqlite3* db) {
    return db == nullptr ? StorageErrorText(SQLITE_CANTOPEN)
                         : StorageErrorText(sqlite3_extended_errcode(db));
}

sqlite3* StorageHandle(const QString& connection) {
    if (!QSqlDatabase::contains(connection)) {
        return nullptr;
    }
    const QVariant handle = QSqlDatabase::database(connection, false).driver()->handle();
    return handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0
               ? *static_cast<sqlite3* const*>(handle.data())
               : nullptr;
}

void CloseStorage(const QString& connection) {
    if (QSqlDatabase::contains(connection)) {
        QSqlDatabase::database(connection, false).close();
    }
    QSqlDatabase::removeDatabase(connection);
}

StorageOpened OpenStorage(const QString& connection, const QString& path, StorageAccess access,
                          const std::function<void(sqlite3*)>& checking) {
    const QString name = Native(path);
    const QFileInfo info(path);
    if (access == StorageAccess::Read && !info.exists()) {
        return {Status::Error(QStringLiteral("Le fichier « %1 » est introuvable.").arg(name))};
    }
    if (info.exists() && !info.isFile()) {
        return {Status::Error(QStringLiteral("« %1 » n'est pas un fichier.").arg(name)), true};
    }
    StorageOpened opened;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
        if (access == StorageAccess::Read) {
            // While a program records, a reader does not even write the shared index of the
            // log: should that program have lost its locks, the reader reads the log on its own
            // instead of rebuilding the index under its feet.
            const bool shared = QFileInfo::exists(path + QStringLiteral("-shm"));
            db.setDatabaseName(
                QStringLiteral("file:") +
                QString::fromLatin1(QUrl::toPercentEncoding(info.absoluteFilePath(), "/")) +
                (shared ? QStringLiteral("?readonly_shm=1") : QString()));
            db.setConnectOptions(
                QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        }
        sqlite3* handle = db.open() ? StorageHandle(connection) : nullptr;
        if (handle == nullptr) {
            opened.status = Status::Error(
                QStringLiteral("Ouverture impossible de « %1 » : %2")
                    .arg(name, StorageErrorText(db.lastError().nativeErrorCode().toInt())));
        } else {
            if (access == StorageAccess::Read) {
                // Belt and braces: a reader never checkpoints the log of the recording program.
                sqlite3_db_config(handle, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
            }
            if (checking) {
                checking(handle);
            }
            const Checked checked = Check(handle, name, access, info.exists() ? info.size() : 0);
            if (checking) {
                checking(nullptr);
            }
            opened = {Status::Error(checked.problem), checked.refused};
        }
    }
    if (!opened.status.ok()) {
        CloseStorage(connection);
    }
    return opened;
}

}  // namespace merival
