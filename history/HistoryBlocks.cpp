#include "history/HistoryBlocks.h"

#include <sqlite3.h>

#include <QStringList>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace merival {
namespace {

// Flags of a reading: bit 0 OK, bits 1 to 4 the numbers present, bit 5 the text kept whole.
constexpr unsigned kOk = 1;
constexpr unsigned kLiteral = 1u << 5;
constexpr unsigned kPresent = 1u << 1;
// A number that is not a decimal with at most 6 places: its 8 bytes follow.
constexpr quint64 kRawNumber = 7;
constexpr double kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
// The mark of a number in a model, followed by its slot, factor, places, integer digits
// and decimal separator.
constexpr char kMark = '\x1F';
constexpr double kFactors[] = {1, 1000, 1e-3, 100, 1e-2, 1e6, 1e-6};

void PutVarint(std::string& out, quint64 v) {
    while (v >= 0x80) {
        out += char((v & 0x7F) | 0x80);
        v >>= 7;
    }
    out += char(v);
}

bool GetVarint(const unsigned char*& p, const unsigned char* end, quint64& v) {
    v = 0;
    for (int shift = 0; shift < 64 && p < end; shift += 7) {
        const unsigned char b = *p++;
        v |= quint64(b & 0x7F) << shift;
        if ((b & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

quint64 ZigZag(qint64 v) {
    return (quint64(v) << 1) ^ quint64(v >> 63);
}

qint64 UnZigZag(quint64 v) {
    return qint64(v >> 1) ^ -qint64(v & 1);
}

void PutNumber(std::string& out, double v) {
    for (int d = 0; d < 7 && std::isfinite(v); ++d) {
        const double scaled = v * kPowers[d];
        if (std::fabs(scaled) > 4e15) {
            break;
        }
        const qint64 k = std::llround(scaled);
        if (double(k) / kPowers[d] == v && !(v == 0 && std::signbit(v))) {
            PutVarint(out, (ZigZag(k) << 3) | quint64(d));
            return;
        }
    }
    PutVarint(out, kRawNumber);
    char raw[8];
    std::memcpy(raw, &v, 8);
    out.append(raw, 8);
}

bool GetNumber(const unsigned char*& p, const unsigned char* end, double& v) {
    quint64 u = 0;
    if (!GetVarint(p, end, u)) {
        return false;
    }
    if (u == kRawNumber) {
        if (end - p < 8) {
            return false;
        }
        std::memcpy(&v, p, 8);
        p += 8;
        return true;
    }
    const quint64 d = u & 7;
    if (d > 6) {
        return false;
    }
    v = double(UnZigZag(u >> 3)) / kPowers[d];
    return true;
}

qint64 FloorDiv(qint64 a, qint64 b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

double Scaled(double v, int factor) {
    const double f = kFactors[factor];
    return f < 1 ? v / (1 / f) : v * f;
}

// A number as a model prints it; false when it does not fit.
bool PrintNumber(double v, int factor, int places, int digits, char separator, std::string& out) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Scaled(v, factor),
                                         std::chars_format::fixed, places);
    if (ec != std::errc()) {
        return false;
    }
    const char* p = buffer;
    if (*p == '-') {
        out += '-';
        ++p;
    }
    const char* point = std::find(p, static_cast<const char*>(end), '.');
    for (qsizetype n = point - p; n < digits; ++n) {
        out += '0';
    }
    out.append(p, size_t(point - p));
    if (point != end) {
        out += separator;
        out.append(point + 1, size_t(end - point - 1));
    }
    return true;
}

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

bool PartOfWord(char c) {
    return Digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == ',' ||
           (static_cast<unsigned char>(c) & 0x80) != 0;
}

}  // namespace

bool DecodeBlock(qint64 bloc, const unsigned char* data, int size, std::vector<BlockReading>& out) {
    const unsigned char* p = data;
    const unsigned char* end = data + size;
    qint64 t = bloc * kBlockMs;
    while (p < end) {
        BlockReading r;
        const unsigned flags = *p++;
        quint64 delta = 0;
        quint64 forme = 0;
        quint64 modele = 0;
        if (!GetVarint(p, end, delta) || !GetVarint(p, end, forme) || !GetVarint(p, end, modele)) {
            return false;
        }
        t += UnZigZag(delta);
        r.tMs = t;
        r.forme = int(forme);
        r.ok = (flags & kOk) != 0;
        if ((flags & kLiteral) != 0) {
            if (quint64(end - p) < modele) {
                return false;
            }
            r.literal = std::string_view(reinterpret_cast<const char*>(p), size_t(modele));
            p += modele;
        } else {
            r.modele = int(modele);
        }
        for (int i = 0; i < kSlots; ++i) {
            r.present[i] = (flags & (kPresent << i)) != 0;
            if (r.present[i] && !GetNumber(p, end, r.values[i])) {
                return false;
            }
        }
        out.push_back(r);
    }
    return true;
}

std::optional<std::string> MakeModele(std::string_view text, const BlockReading& numbers) {
    std::string modele;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const char c = text[i];
        const bool starts = (Digit(c) || (c == '-' && i + 1 < n && Digit(text[i + 1]))) &&
                            (i == 0 || !PartOfWord(text[i - 1]));
        if (c == kMark) {
            return std::nullopt;
        }
        if (!starts) {
            // The rest of a word or number that is not one of ours stays as it is.
            modele += c;
            ++i;
            continue;
        }
        size_t j = c == '-' ? i + 1 : i;
        while (j < n && Digit(text[j])) {
            ++j;
        }
        const size_t intDigits = j - (c == '-' ? i + 1 : i);
        char separator = '.';
        int places = 0;
        if (j + 1 < n && (text[j] == '.' || text[j] == ',') && Digit(text[j + 1])) {
            separator = text[j];
            const size_t point = j++;
            while (j < n && Digit(text[j])) {
                ++j;
            }
            places = int(j - point - 1);
        }
        const std::string_view token = text.substr(i, j - i);
        const int digits = text[c == '-' ? i + 1 : i] == '0' && intDigits > 1 ? int(intDigits) : 0;
        bool matched = false;
        for (int slot = 0; slot < kSlots && !matched && places < 10 && digits < 10; ++slot) {
            if (!numbers.present[slot]) {
                continue;
            }
            for (int factor = 0; factor < int(std::size(kFactors)) && !matched; ++factor) {
                std::string printed;
                if (PrintNumber(numbers.values[slot], factor, places, digits, separator, printed) &&
                    printed == token) {
                    modele += kMark;
                    modele += char('0' + slot);
                    modele += char('0' + factor);
                    modele += char('0' + places);
                    modele += char('0' + digits);
                    modele += separator;
                    matched = true;
                }
            }
        }
        if (!matched) {
            return std::nullopt;
        }
        i = j;
    }
    std::string again;
    RenderModele(modele, numbers, again);
    if (again != text) {
        return std::nullopt;
    }
    return modele;
}

void RenderModele(std::string_view modele, const BlockReading& reading, std::string& out) {
    for (size_t i = 0; i < modele.size();) {
        const size_t mark = modele.find(kMark, i);
        if (mark == std::string_view::npos) {
            out.append(modele.substr(i));
            return;
        }
        out.append(modele.substr(i, mark - i));
        if (mark + 5 >= modele.size()) {
            return;
        }
        const int slot = modele[mark + 1] - '0';
        const int factor = modele[mark + 2] - '0';
        if (slot >= 0 && slot < kSlots && factor >= 0 && factor < int(std::size(kFactors)) &&
            reading.present[slot]) {
            (void)PrintNumber(reading.values[slot], factor, modele[mark + 3] - '0',
                              modele[mark + 4] - '0', modele[mark + 5], out);
        }
        i = mark + 6;
    }
}

bool LoadModeles(sqlite3* db, std::vector<std::string>& modeles) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT id, texte FROM hist_modeles", -1, &s, nullptr) !=
        SQLITE_OK) {
        return false;
    }
    while (sqlite3_step(s) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(s, 0);
        if (id >= 0 && id < 10000000) {
            modeles.resize(std::max(modeles.size(), size_t(id) + 1));
            const char* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
            modeles[size_t(id)].assign(text == nullptr ? "" : text,
                                       size_t(sqlite3_column_bytes(s, 1)));
        }
    }
    return sqlite3_finalize(s) == SQLITE_OK;
}

namespace {

enum StatementIndex { kInsertForme, kInsertModele, kSelectBlock, kWriteBlock, kStatementCount };
const char* const kStatements[] = {
    // Parentheses: one statement over several lines, not a missing comma (clang warns).
    ("INSERT INTO hist_formes(repere, type, nom1, unite1, nom2, unite2, nom3, unite3) "
     "VALUES(?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT DO UPDATE SET repere = excluded.repere "
     "RETURNING id"),
    ("INSERT INTO hist_modeles(texte) VALUES(?) ON CONFLICT DO UPDATE SET texte = excluded.texte "
     "RETURNING id"),
    "SELECT donnees FROM hist_blocs WHERE voie = ? AND bloc = ?",
    "INSERT OR REPLACE INTO hist_blocs(voie, bloc, donnees) VALUES(?, ?, ?)",
};

}  // namespace

BlockWriter::BlockWriter(sqlite3* db) : db_(db), statements_(kStatementCount, nullptr) {}

BlockWriter::~BlockWriter() {
    for (sqlite3_stmt* s : statements_) {
        sqlite3_finalize(s);
    }
}

sqlite3_stmt* BlockWriter::Statement(int index) {
    sqlite3_stmt*& s = statements_[size_t(index)];
    if (s == nullptr) {
        sqlite3_prepare_v3(db_, kStatements[index], -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    } else {
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    return s;
}

int BlockWriter::Forme(const QStringList& key) {
    const QString joined = key.join(QChar(0));
    for (const QHash<QString, int>* known : {&formes_, &pendingFormes_}) {
        if (const auto found = known->constFind(joined); found != known->cend()) {
            return *found;
        }
    }
    sqlite3_stmt* s = Statement(kInsertForme);
    if (s == nullptr) {
        return -1;
    }
    std::vector<QByteArray> texts;
    for (int i = 0; i < 8; ++i) {
        texts.push_back(key.value(i).toUtf8());
        sqlite3_bind_text(s, i + 1, texts.back().constData(), int(texts.back().size()),
                          SQLITE_TRANSIENT);
    }
    if (sqlite3_step(s) != SQLITE_ROW) {
        return -1;
    }
    const int id = sqlite3_column_int(s, 0);
    sqlite3_reset(s);
    pendingFormes_.insert(joined, id);
    return id;
}

int BlockWriter::Modele(const std::string& modele) {
    for (const auto* known : {&modeles_, &pendingModeles_}) {
        if (const auto found = known->find(modele); found != known->end()) {
            return found->second;
        }
    }
    sqlite3_stmt* s = Statement(kInsertModele);
    if (s == nullptr) {
        return -1;
    }
    sqlite3_bind_text(s, 1, modele.data(), int(modele.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(s) != SQLITE_ROW) {
        return -1;
    }
    const int id = sqlite3_column_int(s, 0);
    sqlite3_reset(s);
    pendingModeles_.emplace(modele, id);
    return id;
}

bool BlockWriter::Load(int channel, qint64 bloc, Block& block) {
    block = Block{bloc, {}, bloc * kBlockMs, false};
    sqlite3_stmt* s = Statement(kSelectBlock);
    if (s == nullptr) {
        return false;
    }
    sqlite3_bind_int(s, 1, channel);
    sqlite3_bind_int64(s, 2, bloc);
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
        const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(s, 0));
        const int size = sqlite3_column_bytes(s, 0);
        std::vector<BlockReading> readings;
        if (DecodeBlock(bloc, data, size, readings)) {
            block.bytes.assign(reinterpret_cast<const char*>(data), size_t(size));
            block.lastMs = readings.empty() ? block.lastMs : readings.back().tMs;
        }
        // A damaged block is started again rather than made longer.
    }
    sqlite3_reset(s);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

bool BlockWriter::Write(int channel, Block& block) {
    sqlite3_stmt* s = Statement(kWriteBlock);
    if (s == nullptr) {
        return false;
    }
    sqlite3_bind_int(s, 1, channel);
    sqlite3_bind_int64(s, 2, block.bloc);
    sqlite3_bind_blob(s, 3, block.bytes.data(), int(block.bytes.size()), SQLITE_STATIC);
    const bool ok = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    block.dirty = !ok;
    return ok;
}

bool BlockWriter::Add(const Reading& reading, int forme) {
    const qint64 bloc = FloorDiv(reading.tMs, kBlockMs);
    auto found = blocks_.find(reading.channel);
    if (found == blocks_.end() || found->second.bloc != bloc) {
        if (found != blocks_.end() && found->second.dirty &&
            !Write(reading.channel, found->second)) {
            return false;
        }
        Block block;
        if (!Load(reading.channel, bloc, block)) {
            return false;
        }
        found = blocks_.insert_or_assign(reading.channel, std::move(block)).first;
    }
    Block& block = found->second;
    BlockReading numbers;
    unsigned flags = reading.ok ? kOk : 0;
    for (int i = 0; i < kSlots; ++i) {
        numbers.present[i] = reading.values[i].has_value();
        numbers.values[i] = reading.values[i].value_or(0);
        flags |= numbers.present[i] ? kPresent << i : 0;
    }
    const QByteArray text = reading.text.toUtf8();
    const std::string_view view(text.constData(), size_t(text.size()));
    const std::optional<std::string> modele = MakeModele(view, numbers);
    const int modeleId = modele ? Modele(*modele) : -1;
    if (modele && modeleId < 0) {
        return false;
    }
    flags |= modele ? 0 : kLiteral;
    std::string& out = block.bytes;
    out += char(flags);
    PutVarint(out, ZigZag(reading.tMs - block.lastMs));
    PutVarint(out, quint64(std::max(forme, 0)));
    if (modele) {
        PutVarint(out, quint64(modeleId));
    } else {
        PutVarint(out, quint64(view.size()));
        out.append(view);
    }
    for (int i = 0; i < kSlots; ++i) {
        if (numbers.present[i]) {
            PutNumber(out, numbers.values[i]);
        }
    }
    block.lastMs = reading.tMs;
    block.dirty = true;
    return true;
}

bool BlockWriter::Flush() {
    for (auto& [channel, block] : blocks_) {
        if (block.dirty && !Write(channel, block)) {
            return false;
        }
    }
    return true;
}

void BlockWriter::Committed() {
    formes_.insert(pendingFormes_);
    pendingFormes_.clear();
    modeles_.merge(pendingModeles_);
    pendingModeles_.clear();
}

void BlockWriter::RolledBack() {
    pendingFormes_.clear();
    pendingModeles_.clear();
    blocks_.clear();
}

bool MigrateReadingRows(sqlite3* db) {
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT voie, t_ms, forme, ok, texte, v1, v2, v3, temperature FROM "
                           "hist_mesures ORDER BY voie, t_ms",
                           -1, &rows, nullptr) != SQLITE_OK) {
        return false;
    }
    BlockWriter writer(db);
    bool ok = true;
    int rc = SQLITE_ROW;
    while (ok && (rc = sqlite3_step(rows)) == SQLITE_ROW) {
        BlockWriter::Reading r;
        r.channel = sqlite3_column_int(rows, 0);
        r.tMs = sqlite3_column_int64(rows, 1);
        r.ok = sqlite3_column_int(rows, 3) != 0;
        r.text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(rows, 4)),
                                   sqlite3_column_bytes(rows, 4));
        for (int i = 0; i < kSlots; ++i) {
            if (sqlite3_column_type(rows, 5 + i) != SQLITE_NULL) {
                r.values[i] = sqlite3_column_double(rows, 5 + i);
            }
        }
        ok = writer.Add(r, sqlite3_column_int(rows, 2));
    }
    sqlite3_finalize(rows);
    return ok && rc == SQLITE_DONE && writer.Flush() &&
           sqlite3_exec(db, "DROP TABLE hist_mesures", nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace merival
