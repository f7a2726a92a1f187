#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/Storage.h"

struct sqlite3_stmt;

// Readings are kept in blocks: one row of hist_blocs per channel and 30 s, whose blob holds
// the readings one after the other. A reading costs its time (delta from the one before), its
// forme, its numbers (scaled integers when that is exact) and the id of a text model: the value
// text with each number replaced by a mark saying how to print it again. A text that cannot be
// printed again exactly from the numbers is kept as it is.

namespace merival {

// The numbers of a reading: the three columns, then the temperature.
inline constexpr int kSlots = kNumberColumns + 1;

struct BlockReading {
    qint64 tMs = 0;
    int forme = 0;
    bool ok = false;
    bool present[kSlots] = {};
    double values[kSlots] = {};
    int modele = -1;           // -1: the text is `literal`
    std::string_view literal;  // points into the decoded blob
};

// Appends the readings of one blob; false when the blob is damaged.
[[nodiscard]] bool DecodeBlock(qint64 bloc, const unsigned char* data, int size,
                               std::vector<BlockReading>& out);

// The model of `text` (UTF-8) for those numbers, or nothing when printing the numbers again
// would not give the text exactly.
[[nodiscard]] std::optional<std::string> MakeModele(std::string_view text,
                                                    const BlockReading& numbers);
// Appends the value text of a reading whose model is `modele`.
void RenderModele(std::string_view modele, const BlockReading& reading, std::string& out);

// The text models of a file, by id (read side).
[[nodiscard]] bool LoadModeles(sqlite3* db, std::vector<std::string>& modeles);

// Writes readings into the blocks of an open file, inside the caller's transaction. Formes and
// models are interned on the way; Flush() writes the blocks touched since the last one.
class BlockWriter {
public:
    explicit BlockWriter(sqlite3* db);
    ~BlockWriter();
    BlockWriter(const BlockWriter&) = delete;
    BlockWriter& operator=(const BlockWriter&) = delete;

    struct Reading {
        int channel = 0;
        qint64 tMs = 0;
        bool ok = false;
        QString text;
        std::optional<double> values[kSlots];
    };
    // The id of a forme (tag, type, then the name and unit of each number), made if new; -1
    // on failure.
    [[nodiscard]] int Forme(const QStringList& key);
    [[nodiscard]] bool Add(const Reading& reading, int forme);
    [[nodiscard]] bool Flush();
    // After the caller's commit: ids made in the transaction are kept. After a rollback they
    // and the blocks in memory are forgotten.
    void Committed();
    void RolledBack();

private:
    struct Block {
        qint64 bloc = 0;
        std::string bytes;
        qint64 lastMs = 0;
        bool dirty = false;
    };
    [[nodiscard]] int Modele(const std::string& modele);
    [[nodiscard]] bool Load(int channel, qint64 bloc, Block& block);
    [[nodiscard]] bool Write(int channel, Block& block);
    sqlite3_stmt* Statement(int index);

    sqlite3* db_;
    std::vector<sqlite3_stmt*> statements_;
    std::map<int, Block> blocks_;
    QHash<QString, int> formes_;
    QHash<QString, int> pendingFormes_;
    std::map<std::string, int, std::less<>> modeles_;
    std::map<std::string, int, std::less<>> pendingModeles_;
};

// Turns the readings of the first layout (one row per reading) into blocks, in the caller's
// transaction; false with the error left on `db`.
[[nodiscard]] bool MigrateReadingRows(sqlite3* db);

}  // namespace merival
