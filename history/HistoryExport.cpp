#include <sqlite3.h>

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "history/CsvField.h"
#include "history/HistoryBlocks.h"
#include "history/HistoryQuery.h"
#include "history/Storage.h"

// The export steps through millions of rows: it reads them with SQLite's own interface on the
// Qt connection's handle, as UTF-8, without a QVariant per value.

namespace merival {
namespace {

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

Statement Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return {statement, &sqlite3_finalize};
}

std::string Field(const unsigned char* text) {
    std::string out;
    const char* chars = reinterpret_cast<const char*>(text);
    AppendCsvField(out, chars == nullptr ? "" : chars,
                   chars == nullptr ? 0 : qsizetype(strlen(chars)));
    return out;
}

void AppendNumber(std::string& out, double v, char decimal) {
    char buffer[400];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
    if (!std::isfinite(v) || ec != std::errc()) {
        return;
    }
    for (char* p = buffer; p != end; ++p) {
        if (*p == '.') {
            *p = decimal;
        }
    }
    out.append(buffer, size_t(end - buffer));
}

void AppendTwo(char*& p, int n) {
    *p++ = char('0' + n / 10 % 10);
    *p++ = char('0' + n % 10);
}

// "JJ/MM/AAAA", `between`, "HH:MM:SS" of a count of seconds (days to civil date, proleptic
// Gregorian).
std::string Civil(qint64 seconds, char between) {
    qint64 days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const qint64 secs = seconds - days * 86400;
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 doe = days - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    const qint64 year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buffer[40];
    char* p = buffer;
    AppendTwo(p, day);
    *p++ = '/';
    AppendTwo(p, month);
    *p++ = '/';
    p = std::to_chars(p, buffer + 20, year).ptr;
    *p++ = between;
    AppendTwo(p, int(secs / 3600));
    *p++ = ':';
    AppendTwo(p, int(secs / 60 % 60));
    *p++ = ':';
    AppendTwo(p, int(secs % 60));
    return std::string(buffer, size_t(p - buffer));
}

// Local "JJ/MM/AAAA;HH:MM:SS". The offset from UTC is asked of the system once per hour.
class LocalClock {
public:
    std::string Format(qint64 second) { return Civil(second + Offset(second), ';'); }

private:
    static int OffsetAt(qint64 second) {
        return QDateTime::fromSecsSinceEpoch(second, Qt::LocalTime).offsetFromUtc();
    }
    qint64 Offset(qint64 second) {
        const qint64 hour = second >= 0 ? second / 3600 : (second - 3599) / 3600;
        if (hour != hour_) {
            hour_ = hour;
            offset_ = OffsetAt(hour * 3600);
            uniform_ = offset_ == OffsetAt(hour * 3600 + 3599);
        }
        return uniform_ ? offset_ : OffsetAt(second);
    }

    qint64 hour_ = std::numeric_limits<qint64>::min();
    int offset_ = 0;
    bool uniform_ = true;
};

struct FormeFields {
    std::string tagType;  // "tag;type"
    std::string units[kNumberColumns];
};

// The readings of one channel in time order, a block at a time.
struct Cursor {
    int channel;
    Statement blocks;
    qint64 fromMs;
    qint64 toMs;
    std::vector<BlockReading> readings;
    size_t next = 0;
    bool valid = false;
    bool damaged = false;
    qint64 t = 0;

    const BlockReading& current() const { return readings[next - 1]; }

    void Step() {
        for (;;) {
            while (next < readings.size()) {
                const BlockReading& r = readings[next++];
                if (r.tMs >= fromMs && r.tMs < toMs) {
                    valid = true;
                    t = r.tMs;
                    return;
                }
            }
            readings.clear();
            next = 0;
            if (sqlite3_step(blocks.get()) != SQLITE_ROW) {
                valid = false;
                return;
            }
            const auto* data =
                static_cast<const unsigned char*>(sqlite3_column_blob(blocks.get(), 1));
            if (!DecodeBlock(sqlite3_column_int64(blocks.get(), 0), data,
                             sqlite3_column_bytes(blocks.get(), 1), readings)) {
                damaged = true;  // the readings before the damage are still given
            }
        }
    }
};

Status Failed(sqlite3* db) {
    return Status::Error(
        QStringLiteral("Lecture de « %1 » impossible : %2.")
            .arg(QString::fromUtf8(sqlite3_db_filename(db, "main")), StorageErrorText(db)));
}

std::vector<FormeFields> LoadFields(sqlite3* db, bool* ok) {
    std::vector<FormeFields> fields;
    const Statement formes =
        Prepare(db, "SELECT id, repere, type, unite1, unite2, unite3 FROM hist_formes ORDER BY id");
    *ok = formes != nullptr;
    while (*ok && sqlite3_step(formes.get()) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(formes.get(), 0);
        if (id < 0 || id > 1000000) {
            continue;
        }
        fields.resize(std::max(fields.size(), size_t(id) + 1));
        FormeFields& f = fields[size_t(id)];
        f.tagType = Field(sqlite3_column_text(formes.get(), 1)) + ';' +
                    Field(sqlite3_column_text(formes.get(), 2));
        for (int i = 0; i < kNumberColumns; ++i) {
            f.units[i] = Field(sqlite3_column_text(formes.get(), 3 + i));
        }
    }
    return fields;
}

// One cursor per recorded channel (or the one asked for), each in time order.
std::vector<Cursor> OpenCursors(sqlite3* db, const ExportRequest& request, bool* ok) {
    std::vector<Cursor> cursors;
    const Statement next =
        Prepare(db, "SELECT voie FROM hist_blocs WHERE voie > ? ORDER BY voie LIMIT 1");
    *ok = next != nullptr;
    for (qint64 channel = std::numeric_limits<qint64>::min(); *ok;) {
        sqlite3_reset(next.get());
        sqlite3_bind_int64(next.get(), 1, channel);
        if (sqlite3_step(next.get()) != SQLITE_ROW) {
            break;
        }
        channel = sqlite3_column_int64(next.get(), 0);
        if (request.channel >= 0 && channel != request.channel) {
            continue;
        }
        Cursor cursor{int(channel),
                      Prepare(db,
                              "SELECT bloc, donnees FROM hist_blocs WHERE voie = ? AND "
                              "bloc >= ? AND bloc <= ? ORDER BY bloc"),
                      request.period.fromMs,
                      request.period.toMs,
                      {}};
        if (!cursor.blocks) {
            *ok = false;
            break;
        }
        // A block holds readings from its start on; the bounds are taken one block wider.
        sqlite3_bind_int64(cursor.blocks.get(), 1, channel);
        sqlite3_bind_int64(cursor.blocks.get(), 2, request.period.fromMs / kBlockMs - 1);
        sqlite3_bind_int64(cursor.blocks.get(), 3, request.period.toMs / kBlockMs + 1);
        cursor.Step();
        cursors.push_back(std::move(cursor));
    }
    return cursors;
}

// The readings of every cursor merged in time order; null at the end.
Cursor* Earliest(std::vector<Cursor>& cursors) {
    Cursor* c = nullptr;
    for (Cursor& candidate : cursors) {
        if (candidate.valid && (c == nullptr || candidate.t < c->t)) {
            c = &candidate;
        }
    }
    return c;
}

bool Damaged(const std::vector<Cursor>& cursors) {
    for (const Cursor& c : cursors) {
        if (c.damaged) {
            return true;
        }
    }
    return false;
}

Status DamagedBlocks(sqlite3* db) {
    return Status::Error(QStringLiteral("Lecture de « %1 » : une partie de l'historique est "
                                        "endommagée et n'a pas pu être lue.")
                             .arg(QString::fromUtf8(sqlite3_db_filename(db, "main"))));
}

}  // namespace

Status ExportCsv(const QString& connection, const ExportRequest& request, QChar decimal,
                 const std::function<bool(const QByteArray&)>& sink, qint64* rows) {
    sqlite3* db = StorageHandle(connection);
    if (db == nullptr) {
        return Status::Error(QStringLiteral("Base d'historique non ouverte."));
    }
    // One read transaction: the rows of every channel come from the same moment of the file.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const auto end = [&](Status status) {
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        return status;
    };
    bool ok = false;
    const std::vector<FormeFields> fields = LoadFields(db, &ok);
    std::vector<std::string> modeles;
    ok = ok && LoadModeles(db, modeles);
    std::vector<Cursor> cursors = ok ? OpenCursors(db, request, &ok) : std::vector<Cursor>();
    if (!ok) {
        return end(Failed(db));
    }
    const char point = decimal.unicode() < 128 ? char(decimal.unicode()) : '.';
    std::string out;
    out.reserve((1 << 20) + 4096);
    out += "\xEF\xBB\xBF";
    out += QStringLiteral(
               "Date;Heure;Voie;Repère;Type;État;Mesure 1;Unité 1;Mesure 2;Unité 2;"
               "Mesure 3;Unité 3;Température (°C);Valeur affichée;Date et heure UTC\r\n")
               .toUtf8()
               .toStdString();
    const FormeFields none;
    LocalClock clock;
    qint64 count = 0;
    qint64 cachedSecond = std::numeric_limits<qint64>::min();
    std::string cachedDate;
    std::string cachedUtc;
    std::string text;
    while (Cursor* c = Earliest(cursors)) {
        const BlockReading& r = c->current();
        const qint64 second = c->t >= 0 ? c->t / 1000 : (c->t - 999) / 1000;
        if (second != cachedSecond) {
            cachedSecond = second;
            cachedDate = clock.Format(second);
            cachedUtc = Civil(second, ' ');
        }
        out += cachedDate;
        out += ';';
        out += std::to_string(c->channel);
        out += ';';
        const FormeFields& f =
            r.forme >= 0 && size_t(r.forme) < fields.size() ? fields[size_t(r.forme)] : none;
        out += f.tagType;
        out += r.ok ? ";OK" : ";HS";
        for (int i = 0; i < kSlots; ++i) {
            out += ';';
            if (r.present[i]) {
                AppendNumber(out, r.values[i], point);
            }
            if (i < kNumberColumns) {
                out += ';';
                if (r.present[i]) {
                    out += f.units[i];
                }
            }
        }
        out += ';';
        text.clear();
        if (r.modele < 0) {
            text = r.literal;
        } else if (size_t(r.modele) < modeles.size()) {
            RenderModele(modeles[size_t(r.modele)], r, text);
        }
        AppendCsvField(out, text.data(), qsizetype(text.size()), true);
        out += ';';
        out += cachedUtc;
        out += "\r\n";
        ++count;
        c->Step();
        if (out.size() > (1 << 20)) {
            if (!sink(QByteArray(out.data(), qsizetype(out.size())))) {
                return end(Status::Error(QStringLiteral("L'écriture du fichier CSV a échoué.")));
            }
            out.clear();
        }
    }
    if (sqlite3_errcode(db) != SQLITE_DONE && sqlite3_errcode(db) != SQLITE_OK &&
        sqlite3_errcode(db) != SQLITE_ROW) {
        return end(Failed(db));
    }
    if (!sink(QByteArray(out.data(), qsizetype(out.size())))) {
        return end(Status::Error(QStringLiteral("L'écriture du fichier CSV a échoué.")));
    }
    if (rows != nullptr) {
        *rows = count;
    }
    return end(Damaged(cursors) ? DamagedBlocks(db) : Status::Ok());
}

Status ReadTexts(const QString& connection, const ExportRequest& request,
                 QList<StoredText>* texts) {
    sqlite3* db = StorageHandle(connection);
    if (db == nullptr) {
        return Status::Error(QStringLiteral("Base d'historique non ouverte."));
    }
    std::vector<std::string> modeles;
    bool ok = LoadModeles(db, modeles);
    std::vector<Cursor> cursors = ok ? OpenCursors(db, request, &ok) : std::vector<Cursor>();
    if (!ok) {
        return Failed(db);
    }
    std::string text;
    while (Cursor* c = Earliest(cursors)) {
        const BlockReading& r = c->current();
        text.clear();
        if (r.modele < 0) {
            text = r.literal;
        } else if (size_t(r.modele) < modeles.size()) {
            RenderModele(modeles[size_t(r.modele)], r, text);
        }
        texts->append({c->channel, r.tMs, r.ok, QString::fromStdString(text)});
        c->Step();
    }
    return Damaged(cursors) ? DamagedBlocks(db) : Status::Ok();
}

}  // namespace merival
