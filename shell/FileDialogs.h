#pragma once

#include <QString>

class QAbstractFileIconProvider;
class QWidget;

namespace merival {

// Icons and type names for file lists that never open the files listed. The working folder
// holds "historique.sqlite": a file opened and closed by anything but SQLite in this process
// drops SQLite's locks on it, after which another program may take its write-ahead log away.
[[nodiscard]] QAbstractFileIconProvider* QuietFileIcons();

// File dialogs of our own (never the platform's, which reads the files of the folder to show
// their kind). An empty string when cancelled.
[[nodiscard]] QString AskSaveFile(QWidget* parent, const QString& title, const QString& suggested,
                                  const QString& filter);
[[nodiscard]] QString AskOpenFile(QWidget* parent, const QString& title, const QString& start);

}  // namespace merival
