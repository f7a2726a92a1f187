#include "alarms/windows/AlarmJournalWindow.h"

#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "alarms/AlarmJournal.h"
#include "base/Operator.h"
#include "base/SaveFile.h"
#include "config/AppInfo.h"
#include "shell/FileDialogs.h"

namespace merival {

AlarmJournalWindow::AlarmJournalWindow(AlarmJournal& journal, Operator& op,
                                       std::function<QString()> askPath, QWidget* parent)
    : QWidget(parent), journal_(journal), op_(op), askPath_(std::move(askPath)) {
    setObjectName(QStringLiteral("JournalAlarmes"));
    setWindowTitle(AppTitle() + QStringLiteral(" - Journal des alarmes"));
    if (!askPath_) {
        askPath_ = [this] {
            return AskSaveFile(this, QStringLiteral("Exporter le journal des alarmes"),
                               QDir::current().filePath(QStringLiteral("journal_alarmes.csv")),
                               QStringLiteral("Fichiers CSV (*.csv)"));
        };
    }
    Tableau = new QTableWidget(0, 6, this);
    Tableau->setObjectName(QStringLiteral("Tableau"));
    Tableau->setHorizontalHeaderLabels({QStringLiteral("Date"), QStringLiteral("Heure"),
                                        QStringLiteral("Voie"), QStringLiteral("Repère"),
                                        QStringLiteral("Valeur"), QStringLiteral("Événement")});
    Tableau->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Tableau->setSelectionBehavior(QAbstractItemView::SelectRows);
    Tableau->verticalHeader()->hide();
    Tableau->horizontalHeader()->setStretchLastSection(true);
    Actualiser = new QPushButton(QStringLiteral("Actualiser"), this);
    Actualiser->setObjectName(QStringLiteral("Actualiser"));
    Exporter = new QPushButton(QStringLiteral("Exporter CSV…"), this);
    Exporter->setObjectName(QStringLiteral("Exporter"));
    Fermer = new QPushButton(QStringLiteral("Fermer"), this);
    Fermer->setObjectName(QStringLiteral("Fermer"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Actualiser);
    buttons->addWidget(Exporter);
    buttons->addStretch();
    buttons->addWidget(Fermer);
    Notifications = new QLabel(this);
    Notifications->setObjectName(QStringLiteral("Notifications"));
    Notifications->setWordWrap(true);
    Notifications->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Notifications->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Tableau);
    layout->addWidget(Notifications);
    layout->addLayout(buttons);
    resize(820, 480);

    connect(&journal_, &AlarmJournal::entriesRead, this, &AlarmJournalWindow::Fill);
    connect(Actualiser, &QPushButton::clicked, this, &AlarmJournalWindow::Refresh);
    connect(Fermer, &QPushButton::clicked, this, &QWidget::hide);
    connect(Exporter, &QPushButton::clicked, this, [this] {
        if (const QString path = askPath_(); !path.isEmpty()) {
            ExportCsv(path);
        }
    });
}

void AlarmJournalWindow::ShowFromMenu() {
    show();
    raise();
    activateWindow();
    Refresh();
}

void AlarmJournalWindow::Refresh() {
    journal_.RequestEntries();
}

void AlarmJournalWindow::Fill(const QList<AlarmEvent>& entries) {
    entries_ = entries;
    Tableau->setRowCount(static_cast<int>(entries.size()));
    for (int row = 0; row < Tableau->rowCount(); ++row) {
        const AlarmEvent& e = entries[row];
        const QDateTime local = e.time.toLocalTime();
        const QStringList cells = {local.toString(QStringLiteral("dd/MM/yyyy")),
                                   local.toString(QStringLiteral("HH:mm:ss")),
                                   e.channel >= 0 ? QString::number(e.channel) : QString(),
                                   e.tag,
                                   e.text,
                                   e.event};
        for (int column = 0; column < cells.size(); ++column) {
            Tableau->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
    }
    Tableau->resizeColumnsToContents();
    Q_EMIT shown();
}

void AlarmJournalWindow::setDeliveryText(const QString& text) {
    Notifications->setText(text);
    Notifications->setVisible(!text.isEmpty());
}

bool AlarmJournalWindow::ExportCsv(const QString& path) {
    if (const Status saved = SaveWholeFile(path, JournalCsv(entries_)); !saved.ok()) {
        op_.beep();
        op_.message(saved.message, AppTitle(), OperatorIcon::Error);
        return false;
    }
    op_.message(QStringLiteral("Journal exporté dans « %1 » (%2 événements).")
                    .arg(QDir::toNativeSeparators(path))
                    .arg(entries_.size()),
                AppTitle(), OperatorIcon::Information);
    return true;
}

}  // namespace merival
