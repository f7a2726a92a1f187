#pragma once

#include <QSqlDatabase>
#include <QString>
#include <functional>

#include "base/Status.h"

namespace merival {

// "historique.sqlite" of the working directory, shared with the alarm journal.
[[nodiscard]] QString HistoryPath();

// Marks our file; 0 is a new, empty file.
inline constexpr int kApplicationId = 0x4D455256;
// The history's schema version (PRAGMA user_version); the journal never touches it.
inline constexpr int kHistorySchema = 1;
// Decoded numbers kept per reading: the most a family gives (a flow meter's rate and volumes).
inline constexpr int kNumberColumns = 3;
// The tables of minimum and maximum per block of time, finest first.
struct SummaryTable {
    const char* name;
    qint64 blockMs;
};
inline constexpr SummaryTable kSummaryTables[] = {{"hist_minutes", 60000},
                                                  {"hist_10minutes", 600000}};

// Opens the file on a connection of that name in the calling thread, refuses a file that is
// not ours, is damaged or comes from a newer program (the message names the file), and
// creates or completes the history's tables when `write` is true. A refused or missing file is
// never created nor written. On failure the connection is removed again. `checking`, when
// given, gets the SQLite handle while the file is checked, then null: another thread may
// interrupt a long check of a large file (sqlite3_interrupt), which fails the opening.
[[nodiscard]] Status OpenHistory(const QString& connection, const QString& path, bool write,
                                 const std::function<void(void* handle)>& checking = {});
// Closes and forgets the connection of that name.
void CloseHistory(const QString& connection);

}  // namespace merival
