#include "history/HistoryRecorder.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "history/HistoryDatabase.h"

namespace merival {
namespace {

const QString kSection = QStringLiteral("Historique/");
const QString kConnection = QStringLiteral("merival-history-writer");
// An hour of passes: enough for a long first check of a large file.
constexpr size_t kQueuePasses = 3600;
constexpr int kRetentionBatch = 2000;
constexpr qint64 kDayMs = 24LL * 3600 * 1000;

const char* const kInsertReading =
    "INSERT OR IGNORE INTO hist_mesures(voie, t_ms, forme, ok, texte, v1, v2, v3, temperature) "
    "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)";
// min()/max() of SQLite give NULL when one side is NULL; coalesce keeps the other side.
const char* const kUpsertSummary =
    "INSERT INTO %1 VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
    "ON CONFLICT(voie, bloc, forme) DO UPDATE SET n_ok = n_ok + excluded.n_ok, "
    "n_hs = n_hs + excluded.n_hs, "
    "min1 = coalesce(min(min1, excluded.min1), min1, excluded.min1), "
    "max1 = coalesce(max(max1, excluded.max1), max1, excluded.max1), "
    "min2 = coalesce(min(min2, excluded.min2), min2, excluded.min2), "
    "max2 = coalesce(max(max2, excluded.max2), max2, excluded.max2), "
    "min3 = coalesce(min(min3, excluded.min3), min3, excluded.min3), "
    "max3 = coalesce(max(max3, excluded.max3), max3, excluded.max3), "
    "min_t = coalesce(min(min_t, excluded.min_t), min_t, excluded.min_t), "
    "max_t = coalesce(max(max_t, excluded.max_t), max_t, excluded.max_t)";
// One batch of the oldest readings of a channel before the cut.
const char* const kDeleteReadings =
    "DELETE FROM hist_mesures WHERE voie = :v AND t_ms < coalesce((SELECT t_ms FROM "
    "hist_mesures WHERE voie = :v AND t_ms < :cut ORDER BY t_ms LIMIT 1 OFFSET :n), :cut)";
const char* const kDeleteSummary =
    "DELETE FROM %1 WHERE voie = :v AND bloc < coalesce((SELECT bloc FROM %1 WHERE voie = :v "
    "AND bloc < :cut ORDER BY bloc LIMIT 1 OFFSET :n), :cut)";

QString Stopped(const QString& reason) {
    return reason + QStringLiteral(
                        " L'enregistrement de l'historique est arrêté ; la mesure "
                        "continue.");
}

QVariant Number(const ChannelReading& r, int i) {
    return i < r.numbers.size() && r.numbers[i].value ? QVariant(*r.numbers[i].value)
                                                      : QVariant(QMetaType::fromType<double>());
}

}  // namespace

HistorySettings LoadHistorySettings(const QSettings& ini) {
    HistorySettings settings;
    settings.recording = ini.value(kSection + QStringLiteral("Enregistrement"), true).toBool();
    bool ok = false;
    const int days = ini.value(kSection + QStringLiteral("RetentionJours"), 400).toInt(&ok);
    if (ok && days >= 1) {
        settings.retentionDays = days;
    }
    return settings;
}

void SaveHistorySettings(QSettings& ini, const HistorySettings& settings) {
    ini.setValue(kSection + QStringLiteral("Enregistrement"), settings.recording);
    ini.setValue(kSection + QStringLiteral("RetentionJours"), settings.retentionDays);
}

class HistoryRecorder::Writer {
public:
    Writer(HistoryRecorder& owner, QString path, int retentionDays)
        : owner_(owner), path_(std::move(path)), retentionDays_(retentionDays) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Writer() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            // The first check of a large file can take seconds: it is cut short.
            if (checking_ != nullptr) {
                sqlite3_interrupt(static_cast<sqlite3*>(checking_));
            }
        }
        wake_.notify_all();
        thread_.join();
    }

    bool Push(QList<ChannelReading>&& pass) {
        {
            const std::lock_guard lock(mutex_);
            if (failed_ || queue_.size() >= kQueuePasses) {
                if (!failed_) {
                    ++dropped_;
                }
                return false;
            }
            queue_.push_back(std::move(pass));
        }
        wake_.notify_all();
        return true;
    }

    void WaitWritten() {
        std::unique_lock lock(mutex_);
        written_.wait(lock, [this] { return failed_ || (queue_.empty() && !busy_); });
    }

    std::atomic<long long> dropped_ = 0;

private:
    void Run() {
        const Status opened = OpenHistory(kConnection, path_, true, [this](void* handle) {
            const std::lock_guard lock(mutex_);
            checking_ = handle;
        });
        if (!opened.ok()) {
            bool stopping = false;
            {
                const std::lock_guard lock(mutex_);
                stopping = stop_;
            }
            if (!stopping) {  // a stop during the check says nothing
                Fail(Stopped(opened.message));
            }
            return;
        }
        {
            QSqlDatabase db = QSqlDatabase::database(kConnection);
            Loop(db);
        }
        CloseHistory(kConnection);
    }

    void Loop(QSqlDatabase& db) {
        Statements statements{QSqlQuery(db), {}};
        bool prepared = statements.insert.prepare(QString::fromLatin1(kInsertReading));
        for (const SummaryTable& table : kSummaryTables) {
            QSqlQuery& upsert = statements.summaries.emplace_back(db);
            prepared =
                prepared &&
                upsert.prepare(QString::fromLatin1(kUpsertSummary).arg(QLatin1String(table.name)));
        }
        if (!prepared) {
            Fail(Stopped(db.lastError().text()));
            return;
        }
        qint64 nextRetention = 0;
        bool retaining = false;
        for (;;) {
            QList<ChannelReading> pass;
            {
                std::unique_lock lock(mutex_);
                busy_ = false;
                written_.notify_all();
                const auto ready = [this] { return stop_ || !queue_.empty(); };
                if (retaining) {
                    wake_.wait_for(lock, std::chrono::milliseconds(200), ready);
                } else {
                    wake_.wait(lock, ready);
                }
                if (queue_.empty() && stop_) {
                    return;
                }
                if (!queue_.empty()) {
                    pass = std::move(queue_.front());
                    queue_.pop_front();
                    busy_ = true;
                }
            }
            if (!pass.isEmpty() && !WritePass(db, statements, pass)) {
                return;
            }
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            if (!retaining && now >= nextRetention) {
                retaining = true;
                nextRetention = now + kDayMs;
            }
            if (retaining) {
                retaining = DeleteBatch(db, now - retentionDays_ * kDayMs);
            }
        }
    }

    // A failed pass is tried once more (the journal may hold the file a moment).
    struct Statements {
        QSqlQuery insert;
        std::vector<QSqlQuery> summaries;  // as kSummaryTables
    };

    bool WritePass(QSqlDatabase& db, Statements& statements, const QList<ChannelReading>& pass) {
        QString error;
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (TryPass(db, statements, pass, &error)) {
                return true;
            }
            db.rollback();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        Fail(Stopped(QStringLiteral("L'écriture dans « %1 » a échoué : %2.").arg(path_, error)));
        return false;
    }

    bool TryPass(QSqlDatabase& db, Statements& statements, const QList<ChannelReading>& pass,
                 QString* error) {
        pendingFormes_.clear();
        if (!db.transaction()) {
            *error = db.lastError().text();
            return false;
        }
        for (const ChannelReading& r : pass) {
            const int forme = FormeId(db, r, error);
            const qint64 t = r.time.toMSecsSinceEpoch();
            const QVariant temperature =
                r.temperature ? QVariant(*r.temperature) : QVariant(QMetaType::fromType<double>());
            const QVariantList values{
                r.channel,    t,          forme, r.ok ? 1 : 0, r.text, Number(r, 0), Number(r, 1),
                Number(r, 2), temperature};
            for (int i = 0; i < values.size(); ++i) {
                statements.insert.bindValue(i, values[i]);
            }
            if (forme < 0 || !statements.insert.exec()) {
                *error = error->isEmpty() ? statements.insert.lastError().text() : *error;
                return false;
            }
            QVariantList bounds{r.channel,    0,
                                forme,        r.ok ? 1 : 0,
                                r.ok ? 0 : 1, Number(r, 0),
                                Number(r, 0), Number(r, 1),
                                Number(r, 1), Number(r, 2),
                                Number(r, 2), temperature,
                                temperature};
            for (size_t k = 0; k < statements.summaries.size(); ++k) {
                QSqlQuery& upsert = statements.summaries[k];
                bounds[1] = t / kSummaryTables[k].blockMs;
                for (int i = 0; i < bounds.size(); ++i) {
                    upsert.bindValue(i, bounds[i]);
                }
                if (!upsert.exec()) {
                    *error = upsert.lastError().text();
                    return false;
                }
            }
        }
        if (!db.commit()) {
            *error = db.lastError().text();
            return false;
        }
        formes_.insert(pendingFormes_);
        return true;
    }

    int FormeId(QSqlDatabase& db, const ChannelReading& r, QString* error) {
        QStringList key{r.tag, r.typeName};
        for (int i = 0; i < kNumberColumns; ++i) {
            key << (i < r.numbers.size() ? r.numbers[i].name : QString())
                << (i < r.numbers.size() ? r.numbers[i].unit : QString());
        }
        const QString joined = key.join(QChar(0));
        for (const QHash<QString, int>* known : {&formes_, &pendingFormes_}) {
            if (const auto found = known->constFind(joined); found != known->cend()) {
                return *found;
            }
        }
        QSqlQuery query(db);
        query.prepare(QStringLiteral(
            "INSERT INTO hist_formes(repere, type, nom1, unite1, nom2, unite2, nom3, unite3) "
            "VALUES(?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO UPDATE SET repere = excluded.repere "
            "RETURNING id"));
        for (int i = 0; i < key.size(); ++i) {
            query.bindValue(i, key[i].isNull() ? QStringLiteral("") : key[i]);
        }
        if (!query.exec() || !query.next()) {
            *error = query.lastError().text();
            return -1;
        }
        const int id = query.value(0).toInt();
        query.finish();
        // Only cached once committed: a rolled-back pass may have taken the id with it.
        pendingFormes_.insert(joined, id);
        return id;
    }

    bool DeleteBatch(QSqlDatabase& db, qint64 cutMs) {
        bool more = false;
        for (int v = 0; v < 4; ++v) {
            QStringList statements{QString::fromLatin1(kDeleteReadings)};
            QList<qint64> cuts{cutMs};
            for (const SummaryTable& table : kSummaryTables) {
                statements << QString::fromLatin1(kDeleteSummary).arg(QLatin1String(table.name));
                cuts << cutMs / table.blockMs;
            }
            for (int i = 0; i < statements.size(); ++i) {
                const qint64 cut = cuts[i];
                QSqlQuery query(db);
                query.prepare(statements[i]);
                query.bindValue(QStringLiteral(":v"), v);
                query.bindValue(QStringLiteral(":cut"), cut);
                query.bindValue(QStringLiteral(":n"), kRetentionBatch);
                if (query.exec() && query.numRowsAffected() >= kRetentionBatch) {
                    more = true;
                }
            }
        }
        return more;
    }

    // The signal is posted before waiters learn of the failure, so it is there when they look.
    void Fail(const QString& message) {
        HistoryRecorder* owner = &owner_;
        QMetaObject::invokeMethod(
            owner, [owner, message] { Q_EMIT owner->failed(message); }, Qt::QueuedConnection);
        {
            const std::lock_guard lock(mutex_);
            failed_ = true;
            queue_.clear();
            busy_ = false;
        }
        written_.notify_all();
    }

    HistoryRecorder& owner_;
    const QString path_;
    const int retentionDays_;
    QHash<QString, int> formes_;
    QHash<QString, int> pendingFormes_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<QList<ChannelReading>> queue_;
    bool stop_ = false;
    bool failed_ = false;
    bool busy_ = true;          // until the file is open and the loop waits
    void* checking_ = nullptr;  // the handle while the file is checked
    std::thread thread_;
};

HistoryRecorder::HistoryRecorder(QString path, int retentionDays, QObject* parent)
    : QObject(parent), path_(std::move(path)), retentionDays_(retentionDays) {}

HistoryRecorder::~HistoryRecorder() {
    Stop();
}

void HistoryRecorder::Start() {
    if (!writer_) {
        writer_ = std::make_unique<Writer>(*this, path_, retentionDays_);
    }
}

void HistoryRecorder::Stop() {
    writer_.reset();
    pass_.clear();
}

bool HistoryRecorder::running() const {
    return writer_ != nullptr;
}

void HistoryRecorder::Add(const ChannelReading& reading) {
    // A pass has at most one reading per channel; more means a pass end was missed.
    if (writer_ && pass_.size() < 16) {
        pass_.append(reading);
    }
}

void HistoryRecorder::EndPass() {
    if (writer_ && !pass_.isEmpty()) {
        writer_->Push(std::move(pass_));
    }
    pass_.clear();
}

void HistoryRecorder::WaitWritten() {
    if (writer_) {
        writer_->WaitWritten();
    }
}

long long HistoryRecorder::droppedPasses() const {
    return writer_ ? writer_->dropped_.load() : 0;
}

}  // namespace merival
