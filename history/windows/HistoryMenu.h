#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>

#include "base/Status.h"
#include "history/HistoryQuery.h"
#include "measure/ChannelReading.h"

class QAction;
class QComboBox;
class QDateTimeEdit;
class QDialog;
class QLineEdit;
class QMenu;
class QPushButton;
class QThread;

namespace merival {

class HistoryCapability;
class HistoryRecorder;
class Operator;
class TrendWindow;

// The "Historique" menu over the history capability: the recording check mark (kept in
// merival.ini), the trend window and the export.
class HistoryMenu : public QObject {
    Q_OBJECT
public:
    // Empty path: merival.ini of the working directory.
    HistoryMenu(QMenu& menu, HistoryCapability& history, Operator& op, QChar decimal,
                QString iniPath = {});
    // A running export is cancelled: its file is not written.
    ~HistoryMenu() override;

    void Enregistrement_Click(bool checked);
    void Courbes_Click();
    void Exporter_Click();
    // Writes the CSV of the export dialog's choices into `path` (on a thread of its own); the
    // operator hears how it went. One export at a time: a second one is refused.
    void ExportTo(const QString& path);
    [[nodiscard]] bool exporting() const { return exportThread_ != nullptr; }

    [[nodiscard]] HistoryRecorder* recorder() const;
    [[nodiscard]] TrendWindow* trendWindow() const { return trend_.get(); }
    [[nodiscard]] QDialog* exportDialog() const { return export_.get(); }

    QAction* Enregistrement = nullptr;
    QAction* Courbes = nullptr;
    QAction* Exporter = nullptr;
    QDateTimeEdit* ExportDebut = nullptr;
    QDateTimeEdit* ExportFin = nullptr;
    QComboBox* ExportVoie = nullptr;

Q_SIGNALS:
    // An export ended (its message was given to the operator).
    void exported(const merival::Status& status);

private:
    void BuildExportDialog();
    void ExportEnded(const Status& status, qint64 rows, const QString& path);

    HistoryCapability& history_;
    Operator& op_;
    QChar decimal_;
    QString iniPath_;
    std::unique_ptr<TrendWindow> trend_;
    std::unique_ptr<QDialog> export_;
    QPushButton* exportGo_ = nullptr;
    QThread* exportThread_ = nullptr;
    std::shared_ptr<std::atomic<bool>> exportCancel_;
};

}  // namespace merival
