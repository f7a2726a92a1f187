#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
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

namespace merival {

class HistoryRecorder;
class Operator;
class TrendWindow;

// The "Historique" menu: the recording check mark (kept in merival.ini), the trend window and
// the export. Readings of the measurement window come in through Add and EndPass.
class HistoryMenu : public QObject {
    Q_OBJECT
public:
    // Empty paths: merival.ini and historique.sqlite of the working directory.
    HistoryMenu(QMenu& menu, Operator& op, QChar decimal, QString iniPath = {},
                QString databasePath = {});
    ~HistoryMenu() override;

    void Add(const ChannelReading& reading);
    void EndPass();

    void Enregistrement_Click(bool checked);
    void Courbes_Click();
    void Exporter_Click();
    // Writes the CSV of the export dialog's choices into `path` (on a thread of its own); the
    // operator hears how it went.
    void ExportTo(const QString& path);

    [[nodiscard]] HistoryRecorder* recorder() const { return recorder_.get(); }
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
    void StartRecording();
    void BuildExportDialog();

    Operator& op_;
    QChar decimal_;
    QString iniPath_;
    QString databasePath_;
    int retentionDays_ = 400;
    std::unique_ptr<HistoryRecorder> recorder_;
    std::unique_ptr<TrendWindow> trend_;
    std::unique_ptr<QDialog> export_;
};

}  // namespace merival
