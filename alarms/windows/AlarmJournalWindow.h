#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QWidget>
#include <functional>

#include "alarms/AlarmEngine.h"

class QLabel;
class QPushButton;
class QTableView;

namespace merival {

class AlarmJournal;
class Operator;

// The events shown, newest first; a new one goes on top, the oldest beyond `capacity` go.
class AlarmJournalModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit AlarmJournalModel(qsizetype capacity, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

    // deliveries[i] is the notification column of entries[i]; missing ones are empty.
    void SetEntries(QList<AlarmEvent> entries, QStringList deliveries = {});
    void AddNewest(const AlarmEvent& event);
    [[nodiscard]] const QList<AlarmEvent>& entries() const { return rows_; }

private:
    QList<AlarmEvent> rows_;
    QStringList deliveries_;  // beside rows_, row for row
    qsizetype capacity_;
};

// "Alarmes > Journal": every alarm event, newest first, exportable as CSV. The journal is read
// when the window is shown; events that happen meanwhile are added one by one.
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

    [[nodiscard]] const QList<AlarmEvent>& entries() const { return model_->entries(); }
    // The state of the notifications, under the table; empty hides the line. A change reads
    // the journal again when shown, for each event's own state.
    void setDeliveryText(const QString& text);

    QTableView* Tableau = nullptr;
    QPushButton* Actualiser = nullptr;
    QPushButton* Exporter = nullptr;
    QPushButton* Fermer = nullptr;
    QLabel* Notifications = nullptr;

Q_SIGNALS:
    // The rows were filled from the journal.
    void shown();

private:
    void Fill(const QList<merival::AlarmEvent>& entries, const QStringList& deliveries);
    void Add(const merival::AlarmEvent& event);

    AlarmJournal& journal_;
    Operator& op_;
    std::function<QString()> askPath_;
    AlarmJournalModel* model_ = nullptr;
    // Reads asked for and not answered yet, and the events that came after the last one asked:
    // its answer cannot hold them.
    int reading_ = 0;
    QList<AlarmEvent> late_;
};

}  // namespace merival
