#pragma once

#include <QList>
#include <QWidget>
#include <functional>

#include "alarms/AlarmEngine.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace merival {

class AlarmJournal;
class Operator;

// "Alarmes > Journal": every alarm event, newest first, exportable as CSV.
class AlarmJournalWindow : public QWidget {
    Q_OBJECT
public:
    // askPath chooses the CSV file (empty: cancelled); it defaults to a file dialog.
    AlarmJournalWindow(AlarmJournal& journal, Operator& op, std::function<QString()> askPath = {},
                       QWidget* parent = nullptr);

    // Shows the window and reads the journal again.
    void ShowFromMenu();
    void Refresh();
    // Writes the rows shown; false (with a message) when the file could not be written.
    bool ExportCsv(const QString& path);

    [[nodiscard]] const QList<AlarmEvent>& entries() const { return entries_; }
    // The state of the notifications, under the table; empty hides the line.
    void setDeliveryText(const QString& text);

    QTableWidget* Tableau = nullptr;
    QPushButton* Actualiser = nullptr;
    QPushButton* Exporter = nullptr;
    QPushButton* Fermer = nullptr;
    QLabel* Notifications = nullptr;

Q_SIGNALS:
    // The rows were filled from the journal.
    void shown();

private:
    void Fill(const QList<merival::AlarmEvent>& entries);

    AlarmJournal& journal_;
    Operator& op_;
    std::function<QString()> askPath_;
    QList<AlarmEvent> entries_;
};

}  // namespace merival
