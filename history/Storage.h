#pragma once

#include <QString>
#include <functional>

#include "base/Status.h"

struct sqlite3;

namespace merival {

// "historique.sqlite" of the working directory: the history and the alarm journal.
[[nodiscard]] QString HistoryPath();

// Marks our file; 0 is a new, empty file.
inline constexpr int kApplicationId = 0x4D455256;
// One version (PRAGMA user_version) for every table of the file, history and journal alike.
inline constexpr int kStorageSchema = 2;
// Decoded numbers kept per reading: the most a family gives (a flow meter's rate and volumes).
inline constexpr int kNumberColumns = 3;
// Readings are stored in blocks of one channel and 30 s: a block of the widest family stays
// within one page of the file.
inline constexpr qint64 kBlockMs = 30000;
// The tables of minimum and maximum per block of time, finest first.
struct SummaryTable {
    const char* name;
    qint64 blockMs;
};
inline constexpr SummaryTable kSummaryTables[] = {{"hist_minutes", 60000},
                                                  {"hist_10minutes", 600000}};

enum class StorageAccess {
    // Opened read-only: never creates, migrates, checkpoints nor deletes anything, so that a
    // reader cannot take the write-ahead log away from the program recording.
    Read,
    // Creates a missing file, migrates an older one, then writes.
    Write,
};

struct StorageOpened {
    Status status;
    // The file is not ours, is damaged or newer: it must not be written, retrying is useless.
    bool refused = false;
};

// The one owner of the file's layout. Opens it on a connection of that name in the calling
// thread and checks what can be checked without reading it whole: our id, our tables only,
// a version we know, and for a small file every page. Every message is French and names the
// file. On failure the connection is removed again. `checking`, when given, gets the SQLite
// handle while a long migration runs, then null: another thread may interrupt it.
[[nodiscard]] StorageOpened OpenStorage(const QString& connection, const QString& path,
                                        StorageAccess access,
                                        const std::function<void(sqlite3*)>& checking = {});
// Closes and forgets the connection of that name.
void CloseStorage(const QString& connection);
// The SQLite handle of an open connection, or null.
[[nodiscard]] sqlite3* StorageHandle(const QString& connection);
// Why the last call on `db` failed, in French, for an operator (never SQLite's English text).
[[nodiscard]] QString StorageErrorText(sqlite3* db);
// Same, from an error code.
[[nodiscard]] QString StorageErrorText(int code);

}  // namespace merival
