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

#include "base/IniFile.h"
#include "history/HistoryBlocks.h"
#include "history/Storage.h"

namespace merival {
namespace {

const QString kSection = QStringLiteral("Historique/");
const QString kConnection = QStringLiteral("merival-history-writer");
// An hour of passes: what is kept while the file cannot be written.
constexpr size_t kQueuePasses = 3600;
constexpr int kRetentionBatch = 2000;
constexpr qint64 kDayMs = 24LL * 3600 * 1000;

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
// One batch of the oldest rows of a channel before the cut.
const char* const kDeleteSummary =
    "DELETE FROM %1 WHERE voie = :v AND bloc < coalesce((SELECT bloc FROM %1 WHERE voie = :v "
    "AND bloc < :cut ORDER BY bloc LIMIT 1 OFFSET :n), :cut)";

QString Stopped(const QString& reason) {
    return reason + QStringLiteral(
                        " L'enregistrement de l'historique est arrêté ; la mesure "
                        "continue.");
}

QVariant Variant(const std::optional<double>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<double>());
}

QVariant Number(const ChannelReading& r, int i) {
    return Variant(i < r.numbers.size() ? r.numbers[i].value : std::nullopt);
}

// Waits between tries after a failure: from half a second, doubled up to a minute.
constexpr int kFirstRetryMs = 500;
constexpr int kLastRetryMs = 60000;

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
    if (!IniWritable(ini)) {
        return;
    }
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
            // Converting a large file of the first layout takes long: it is cut short.
            if (checking_ != nullptr) {
                sqlite3_interrupt(checking_);
            }
        }
        wake_.notify_all();
        thread_.join();
    }

    bool Push(QList<ChannelReading>&& pass) {
        {
            const std::lock_guard lock(mutex_);
            if (failed_) {
                return false;
            }
            if (queue_.size() >= kQueuePasses) {
                ++dropped_;
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
    // Waits `ms` or until asked to stop; true when asked.
    bool Pause(int ms) {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
    }

    bool Stopping() {
        const std::lock_guard lock(mutex_);
        return stop_;
    }

    // A file that cannot be written for now (held by another program, disk full) is tried
    // again with growing waits; the operator hears of it once until it works again.
    void Trouble(const QString& message, int* waitMs) {
        if (!troubled_) {
            troubled_ = true;
            HistoryRecorder* owner = &owner_;
            const QString text =
                message + QStringLiteral(
                              " Nouvel essai automatique ; les mesures sont gardées en mémoire "
                              "en attendant.");
            owner_.mailbox_.Post([owner, text] { Q_EMIT owner->troubled(text); });
        }
        *waitMs = std::min(*waitMs * 2, kLastRetryMs);
    }

    void Run() {
        int waitMs = kFirstRetryMs / 2;
        for (;;) {
            const StorageOpened opened =
                OpenStorage(kConnection, path_, StorageAccess::Write, [this](sqlite3* handle) {
                    const std::lock_guard lock(mutex_);
                    checking_ = handle;
                });
            if (opened.status.ok()) {
                break;
            }
            if (Stopping()) {
                return;  // a stop during a long conversion says nothing
            }
            if (opened.refused) {
                Fail(Stopped(opened.status.message));
                return;
            }
            Trouble(opened.status.message, &waitMs);
            if (Pause(waitMs)) {
                return;
            }
        }
        {
            QSqlDatabase db = QSqlDatabase::database(kConnection);
            BlockWriter blocks(StorageHandle(kConnection));
            Loop(db, blocks);
        }
        CloseStorage(kConnection);
    }

    void Loop(QSqlDatabase& db, BlockWriter& blocks) {
        std::vector<QSqlQuery> summaries;
        bool prepared = true;
        for (const SummaryTable& table : kSummaryTables) {
            QSqlQuery& upsert = summaries.emplace_back(db);
            prepared =
                prepared &&
                upsert.prepare(QString::fromLatin1(kUpsertSummary).arg(QLatin1String(table.name)));
        }
        if (!prepared) {
            Fail(Stopped(StorageErrorText(StorageHandle(kConnection))));
            return;
        }
        qint64 nextRetention = 0;
        bool retaining = false;
        int waitMs = kFirstRetryMs / 2;
        for (;;) {
            const QList<ChannelReading>* pass = nullptr;
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
                if (stop_ && (queue_.empty() || troubled_)) {
                    return;
                }
                if (!queue_.empty()) {
                    // Stays queued until written: the writer alone pops it.
                    pass = &queue_.front();
                    busy_ = true;
                }
            }
            if (pass != nullptr) {
                const int code = TryPass(db, summaries, blocks, *pass);
                if (code == SQLITE_OK) {
                    troubled_ = false;
                    waitMs = kFirstRetryMs / 2;
                    const std::lock_guard lock(mutex_);
                    queue_.pop_front();
                } else if ((code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB) {
                    Fail(Stopped(QStringLiteral("L'écriture dans « %1 » a échoué : %2.")
                                     .arg(path_, StorageErrorText(code))));
                    return;
                } else {
                    Trouble(QStringLiteral("L'historique ne peut pas être écrit dans « %1 » "
                                           "pour l'instant : %2.")
                                .arg(path_, StorageErrorText(code)),
                            &waitMs);
                    if (Pause(waitMs)) {
                        return;
                    }
                    continue;
                }
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

    // SQLITE_OK, or the code of the failure after a rollback.
    int TryPass(QSqlDatabase& db, std::vector<QSqlQuery>& summaries, BlockWriter& blocks,
                const QList<ChannelReading>& pass) {
        sqlite3* handle = StorageHandle(kConnection);
        const auto failure = [&] {
            const int code = sqlite3_extended_errcode(handle);
            sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
            blocks.RolledBack();
            return code == SQLITE_OK ? SQLITE_ERROR : code;
        };
        if (sqlite3_exec(handle, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return failure();
        }
        for (const ChannelReading& r : pass) {
            QStringList key{r.tag, r.typeName};
            BlockWriter::Reading stored{r.channel, r.time.toMSecsSinceEpoch(), r.ok, r.text, {}};
            for (int i = 0; i < kNumberColumns; ++i) {
                key << (i < r.numbers.size() ? r.numbers[i].name : QString())
                    << (i < r.numbers.size() ? r.numbers[i].unit : QString());
                stored.values[i] = i < r.numbers.size() ? r.numbers[i].value : std::nullopt;
            }
            stored.values[kNumberColumns] = r.temperature;
            const int forme = blocks.Forme(key);
            if (forme < 0 || !blocks.Add(stored, forme)) {
                return failure();
            }
            const QVariant temperature = Variant(r.temperature);
            QVariantList bounds{r.channel,    0,
                                forme,        r.ok ? 1 : 0,
                                r.ok ? 0 : 1, Number(r, 0),
                                Number(r, 0), Number(r, 1),
                                Number(r, 1), Number(r, 2),
                                Number(r, 2), temperature,
                                temperature};
            for (size_t k = 0; k < summaries.size(); ++k) {
                QSqlQuery& upsert = summaries[k];
                bounds[1] = stored.tMs / kSummaryTables[k].blockMs;
                for (int i = 0; i < bounds.size(); ++i) {
                    upsert.bindValue(i, bounds[i]);
                }
                if (!upsert.exec()) {
                    return failure();
                }
            }
        }
        const long long dropped = dropped_.load();
        if (!blocks.Flush() || (dropped > reportedDropped_ && !JournalDropped(db, dropped))) {
            return failure();
        }
        if (sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return failure();
        }
        blocks.Committed();
        reportedDropped_ = dropped;
        return SQLITE_OK;
    }

    // The passes dropped while the file could not be written, said in the alarm journal.
    bool JournalDropped(QSqlDatabase& db, long long dropped) {
        QSqlQuery insert(db);
        insert.prepare(
            QStringLiteral("INSERT INTO journal_alarmes(t_ms, voie, repere, texte, evenement) "
                           "VALUES(?, -1, 'Historique', '', ?)"));
        insert.addBindValue(QDateTime::currentMSecsSinceEpoch());
        insert.addBindValue(QStringLiteral("%1 passage(s) de mesure perdu(s) : l'historique ne "
                                           "pouvait pas être écrit")
                                .arg(dropped - reportedDropped_));
        return insert.exec();
    }

    bool DeleteBatch(QSqlDatabase& db, qint64 cutMs) {
        bool more = false;
        QList<std::pair<QString, qint64>> tables{{QStringLiteral("hist_blocs"), kBlockMs}};
        for (const SummaryTable& table : kSummaryTables) {
            tables.append({QLatin1String(table.name), table.blockMs});
        }
        for (int v = 0; v < 4; ++v) {
            for (const auto& [table, blockMs] : tables) {
                QSqlQuery query(db);
                query.prepare(QString::fromLatin1(kDeleteSummary).arg(table));
                query.bindValue(QStringLiteral(":v"), v);
                query.bindValue(QStringLiteral(":cut"), cutMs / blockMs);
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
        owner_.mailbox_.Post([owner, message] { Q_EMIT owner->failed(message); });
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
    long long reportedDropped_ = 0;
    bool troubled_ = false;  // read under the mutex by the loop, written by this thread only
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::deque<QList<ChannelReading>> queue_;
    bool stop_ = false;
    bool failed_ = false;
    bool busy_ = true;             // until the file is open and the loop waits
    sqlite3* checking_ = nullptr;  // the handle while the file is checked
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
