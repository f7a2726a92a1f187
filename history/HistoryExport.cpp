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

#include "history/HistoryDatabase.h"
#include "history/HistoryQuery.h"

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

bool Special(const char* text, qsizetype size) {
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (c == ';' || c == '"' || c == '\r' || c == '\n') {
            return true;
        }
    }
    return false;
}

// A CSV field, quoted when it holds a separator, a quote or a line break; with `oneLine`, CR LF
// becomes " / " first.
void AppendField(std::string& out, const char* text, qsizetype size, bool oneLine = false) {
    if (!Special(text, size)) {
        out.append(text, size_t(size));
        return;
    }
    std::string field;
    for (qsizetype i = 0; i < size; ++i) {
        if (oneLine && text[i] == '\r' && i + 1 < size && text[i + 1] == '\n') {
            field += " / ";
            ++i;
        } else {
            field += text[i];
        }
    }
    if (!Special(field.data(), qsizetype(field.size()))) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

std::string Field(const unsigned char* text) {
    std::string out;
    const char* chars = reinterpret_cast<const char*>(text);
    AppendField(out, chars == nullptr ? "" : chars,
                chars == nullptr ? 0 : qsizetype(strlen(chars)));
    return out;
}

void AppendNumber(std::string& out, sqlite3_stmt* row, int column, char decimal) {
    if (sqlite3_column_type(row, column) == SQLITE_NULL) {
        return;
    }
    const double v = sqlite3_column_double(row, column);
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

// Local "JJ/MM/AAAA;HH:MM:SS". The offset from UTC is asked of the system once per hour; the
// calendar is computed (days to civil date, proleptic Gregorian).
class LocalClock {
public:
    std::string Format(qint64 second) {
        const qint64 local = second + Offset(second);
        qint64 days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
        const qint64 secs = local - days * 86400;
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
        *p++ = ';';
        AppendTwo(p, int(secs / 3600));
        *p++ = ':';
        AppendTwo(p, int(secs / 60 % 60));
        *p++ = ':';
        AppendTwo(p, int(secs % 60));
        return std::string(buffer, size_t(p - buffer));
    }

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

struct Cursor {
    int channel;
    Statement rows;
    bool valid = false;
    qint64 t = 0;

    void Step() {
        valid = sqlite3_step(rows.get()) == SQLITE_ROW;
        t = valid ? sqlite3_column_int64(rows.get(), 0) : 0;
    }
};

Status Failed(sqlite3* db) {
    return Status::Error(QStringLiteral("Lecture de « %1 » impossible : %2")
                             .arg(QString::fromUtf8(sqlite3_db_filename(db, "main")),
                                  QString::fromUtf8(sqlite3_errmsg(db))));
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
        Prepare(db, "SELECT voie FROM hist_mesures WHERE voie > ? ORDER BY voie LIMIT 1");
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
                              "SELECT t_ms, forme, ok, texte, v1, v2, v3, temperature FROM "
                              "hist_mesures WHERE voie = ? AND t_ms >= ? AND t_ms < ? "
                              "ORDER BY t_ms")};
        if (!cursor.rows) {
            *ok = false;
            break;
        }
        sqlite3_bind_int64(cursor.rows.get(), 1, channel);
        sqlite3_bind_int64(cursor.rows.get(), 2, request.period.fromMs);
        sqlite3_bind_int64(cursor.rows.get(), 3, request.period.toMs);
        cursor.Step();
        cursors.push_back(std::move(cursor));
    }
    return cursors;
}

}  // namespace

Status ExportCsv(const QString& connection, const ExportRequest& request, QChar decimal,
                 const std::function<bool(const QByteArray&)>& sink, qint64* rows) {
    const QVariant handle = QSqlDatabase::database(connection, false).driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) {
        return Status::Error(QStringLiteral("Base d'historique non ouverte."));
    }
    sqlite3* db = *static_cast<sqlite3* const*>(handle.data());
    // One read transaction: the rows of every channel come from the same moment of the file.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    const auto end = [&](Status status) {
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        return status;
    };
    bool ok = false;
    const std::vector<FormeFields> fields = LoadFields(db, &ok);
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
               "Mesure 3;Unité 3;Température (°C);Valeur affichée\r\n")
               .toUtf8()
               .toStdString();
    const FormeFields none;
    LocalClock clock;
    qint64 count = 0;
    qint64 cachedSecond = std::numeric_limits<qint64>::min();
    std::string cachedDate;
    for (;;) {
        Cursor* c = nullptr;
        for (Cursor& candidate : cursors) {
            if (candidate.valid && (c == nullptr || candidate.t < c->t)) {
                c = &candidate;
            }
        }
        if (c == nullptr) {
            break;
        }
        sqlite3_stmt* row = c->rows.get();
        const qint64 second = c->t >= 0 ? c->t / 1000 : (c->t - 999) / 1000;
        if (second != cachedSecond) {
            cachedSecond = second;
            cachedDate = clock.Format(second);
        }
        out += cachedDate;
        out += ';';
        out += std::to_string(c->channel);
        out += ';';
        const qint64 forme = sqlite3_column_int64(row, 1);
        const FormeFields& f =
            forme >= 0 && size_t(forme) < fields.size() ? fields[size_t(forme)] : none;
        out += f.tagType;
        out += sqlite3_column_int(row, 2) != 0 ? ";OK" : ";HS";
        for (int i = 0; i < kNumberColumns; ++i) {
            out += ';';
            AppendNumber(out, row, 4 + i, point);
            out += ';';
            if (sqlite3_column_type(row, 4 + i) != SQLITE_NULL) {
                out += f.units[i];
            }
        }
        out += ';';
        AppendNumber(out, row, 7, point);
        out += ';';
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(row, 3));
        AppendField(out, text == nullptr ? "" : text, sqlite3_column_bytes(row, 3), true);
        out += "\r\n";
        ++count;
        c->Step();
        if (!c->valid && sqlite3_errcode(db) != SQLITE_DONE && sqlite3_errcode(db) != SQLITE_OK) {
            return end(Failed(db));
        }
        if (out.size() > (1 << 20)) {
            if (!sink(QByteArray(out.data(), qsizetype(out.size())))) {
                return end(Status::Error(QStringLiteral("L'écriture du fichier CSV a échoué.")));
            }
            out.clear();
        }
    }
    if (!sink(QByteArray(out.data(), qsizetype(out.size())))) {
        return end(Status::Error(QStringLiteral("L'écriture du fichier CSV a échoué.")));
    }
    if (rows != nullptr) {
        *rows = count;
    }
    return end(Status::Ok());
}

}  // namespace merival
