#include "history/windows/HistoryMenu.h"

#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QFormLayout>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QThread>

#include "base/IniFile.h"
#include "base/Operator.h"
#include "base/windows/WindowFit.h"
#include "history/HistoryCapability.h"
#include "history/HistoryRecorder.h"
#include "history/Storage.h"
#include "history/windows/TrendWindow.h"
#include "shell/FileDialogs.h"

namespace merival {
namespace {

const QString kTitle = QStringLiteral("Historique");

Status WriteCsv(const QString& database, const QString& path, const ExportRequest& request,
                QChar decimal, const std::atomic<bool>& cancel, qint64* rows) {
    const QString connection = QStringLiteral("merival-history-export");
    Status status = OpenStorage(connection, database, StorageAccess::Read).status;
    QSaveFile file(path);
    if (status.ok() && !file.open(QIODevice::WriteOnly)) {
        status = Status::Error(QStringLiteral("Le fichier « %1 » n'a pas pu être créé : %2")
                                   .arg(path, file.errorString()));
    }
    if (status.ok()) {
        status = ExportCsv(
            connection, request, decimal,
            [&file, &cancel](const QByteArray& chunk) {
                return !cancel && file.write(chunk) == chunk.size();
            },
            rows);
    }
    if (status.ok() && !file.commit()) {
        status = Status::Error(QStringLiteral("Le fichier « %1 » n'a pas pu être écrit : %2")
                                   .arg(path, file.errorString()));
    }
    CloseStorage(connection);
    return status;
}

}  // namespace

HistoryMenu::HistoryMenu(QMenu& menu, HistoryCapability& history, Operator& op, QChar decimal,
                         QString iniPath)
    : history_(history), op_(op), decimal_(decimal), iniPath_(std::move(iniPath)) {
    Enregistrement = menu.addAction(QStringLiteral("&Enregistrement"));
    Enregistrement->setCheckable(true);
    Enregistrement->setChecked(history_.recording());
    connect(Enregistrement, &QAction::triggered, this, &HistoryMenu::Enregistrement_Click);
    Courbes = menu.addAction(QStringLiteral("&Courbes"));
    connect(Courbes, &QAction::triggered, this, &HistoryMenu::Courbes_Click);
    Exporter = menu.addAction(QStringLiteral("E&xporter…"));
    connect(Exporter, &QAction::triggered, this, &HistoryMenu::Exporter_Click);
    connect(&history_, &HistoryCapability::failed, this, [this](const QString& message) {
        // The check mark tells that nothing is recorded; the setting stays for the next start.
        Enregistrement->setChecked(false);
        op_.beep();
        op_.message(message, kTitle, OperatorIcon::Exclamation);
    });
    // Recording goes on by itself once the file can be written again.
    connect(&history_, &HistoryCapability::troubled, this, [this](const QString& message) {
        op_.message(message, kTitle, OperatorIcon::Information);
    });
}

HistoryMenu::~HistoryMenu() {
    if (exportThread_ != nullptr) {
        // The writer stops at its next chunk and the file is not committed.
        *exportCancel_ = true;
        exportThread_->wait();
        delete exportThread_;
    }
}

HistoryRecorder* HistoryMenu::recorder() const {
    return history_.recorder();
}

void HistoryMenu::Enregistrement_Click(bool checked) {
    Enregistrement->setChecked(checked);
    history_.setRecording(checked);
    const auto ini = OpenIni(iniPath_);
    HistorySettings settings = LoadHistorySettings(*ini);
    settings.recording = checked;
    SaveHistorySettings(*ini, settings);
    ini->sync();
    if (const Status saved = IniStatus(*ini); !saved.ok()) {
        op_.message(saved.message, kTitle, OperatorIcon::Exclamation);
    }
}

void HistoryMenu::Courbes_Click() {
    if (!trend_) {
        trend_ = std::make_unique<TrendWindow>(history_.databasePath(), decimal_);
    } else {
        trend_->Refresh();
    }
    trend_->show();
    trend_->raise();
    trend_->activateWindow();
}

void HistoryMenu::BuildExportDialog() {
    export_ = std::make_unique<QDialog>();
    export_->setWindowTitle(QStringLiteral("Historique - Exporter"));
    PlaceOnOwnerWhenShown(export_.get());
    ExportDebut =
        new QDateTimeEdit(QDateTime(QDate::currentDate().addDays(-1), QTime(0, 0)), export_.get());
    ExportFin =
        new QDateTimeEdit(QDateTime(QDate::currentDate().addDays(1), QTime(0, 0)), export_.get());
    for (QDateTimeEdit* edit : {ExportDebut, ExportFin}) {
        edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy HH:mm"));
        edit->setCalendarPopup(true);
    }
    ExportVoie = new QComboBox(export_.get());
    ExportVoie->addItems({QStringLiteral("Toutes les voies"), QStringLiteral("Voie 0"),
                          QStringLiteral("Voie 1"), QStringLiteral("Voie 2"),
                          QStringLiteral("Voie 3")});
    auto* go = new QPushButton(QStringLiteral("Exporter…"), export_.get());
    go->setObjectName(QStringLiteral("ExporterFichier"));
    go->setEnabled(!exporting());
    exportGo_ = go;
    connect(go, &QPushButton::clicked, this, [this] {
        const QString path =
            AskSaveFile(export_.get(), QStringLiteral("Exporter l'historique"),
                        QStringLiteral("historique.csv"), QStringLiteral("Fichiers CSV (*.csv)"));
        if (!path.isEmpty()) {
            ExportTo(path);
        }
    });
    auto* form = new QFormLayout(export_.get());
    form->addRow(QStringLiteral("Du"), ExportDebut);
    form->addRow(QStringLiteral("Au (exclu)"), ExportFin);
    form->addRow(QStringLiteral("Voies"), ExportVoie);
    form->addRow(go);
}

void HistoryMenu::Exporter_Click() {
    if (!export_) {
        BuildExportDialog();
    }
    export_->show();
    export_->raise();
}

void HistoryMenu::ExportTo(const QString& path) {
    if (!export_) {
        BuildExportDialog();
    }
    if (exporting()) {
        // Two exports would share the reading connection and the operator's attention.
        op_.beep();
        op_.message(QStringLiteral("Une exportation est déjà en cours."), kTitle,
                    OperatorIcon::Exclamation);
        return;
    }
    ExportRequest request;
    request.period = {ExportDebut->dateTime().toMSecsSinceEpoch(),
                      ExportFin->dateTime().toMSecsSinceEpoch()};
    request.channel = ExportVoie->currentIndex() - 1;
    const QString database = history_.databasePath();
    const QChar decimal = decimal_;
    exportCancel_ = std::make_shared<std::atomic<bool>>(false);
    QPointer<HistoryMenu> self(this);
    Exporter->setEnabled(false);
    exportGo_->setEnabled(false);
    exportThread_ =
        QThread::create([self, database, path, request, decimal, cancel = exportCancel_] {
            qint64 rows = 0;
            const Status status = WriteCsv(database, path, request, decimal, *cancel, &rows);
            if (!*cancel) {
                QMetaObject::invokeMethod(self, [self, status, rows, path] {
                    if (self) {
                        self->ExportEnded(status, rows, path);
                    }
                });
            }
        });
    exportThread_->start();
}

void HistoryMenu::ExportEnded(const Status& status, qint64 rows, const QString& path) {
    exportThread_->wait();
    delete exportThread_;
    exportThread_ = nullptr;
    Exporter->setEnabled(true);
    exportGo_->setEnabled(true);
    op_.message(status.ok()
                    ? QStringLiteral("%1 mesures exportées dans « %2 ».").arg(rows).arg(path)
                    : status.message,
                kTitle, status.ok() ? OperatorIcon::Information : OperatorIcon::Exclamation);
    Q_EMIT exported(status);
}

}  // namespace merival
